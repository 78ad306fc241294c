#include "tests/app/driver.h"

#include <winsock2.h>

#include <commctrl.h>

#include <algorithm>
#include <mutex>
#include <shlobj.h>
#include <thread>

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr DWORD kSendLimitMs = 5000;
// Longer than any test needs, shorter than ctest's own time-out.
constexpr auto kDriverLimit = std::chrono::seconds(540);

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[2048] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
    return length > 0 && length < ARRAYSIZE(buffer) ? std::wstring(buffer) : std::wstring();
}

// Wine hands Unix paths through the environment; Z: is the Unix root there.
std::wstring DosPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// Every started copy, so that neither a failing test nor a hang can leave one running.
std::mutex startedMutex;
std::vector<HANDLE> startedProcesses;
HANDLE killJob = nullptr;

void KillAllStarted() {
    std::lock_guard<std::mutex> lock(startedMutex);
    for (HANDLE process : startedProcesses) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
}

void StartSafetyNets() {
    static std::once_flag once;
    std::call_once(once, [] {
        killJob = CreateJobObjectW(nullptr, nullptr);
        if (killJob) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(killJob, JobObjectExtendedLimitInformation, &limits,
                                    sizeof(limits));
        }
        std::thread([] {
            std::this_thread::sleep_for(kDriverLimit); // the watchdog's own timer
            KillAllStarted();
            ExitProcess(3);
        }).detach();
    });
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || ClassOf(window) != search.className)
        return TRUE;
    if (search.title && (TextOf(window) != search.title || !IsWindowVisible(window)))
        return TRUE;
    search.found = window;
    return FALSE;
}

BOOL CALLBACK CollectLabel(HWND child, LPARAM context) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 && HasVisibleStyle(child))
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
    return TRUE;
}

SOCKET BoundSocket(int type, unsigned long address, int port) {
    SOCKET sock = socket(AF_INET, type, type == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP);
    if (sock == INVALID_SOCKET)
        return sock;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(static_cast<u_short>(port));
    if (bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        closesocket(sock);
        return INVALID_SOCKET;
    }
    return sock;
}

int FreePort(int type) {
    SOCKET sock = BoundSocket(type, INADDR_LOOPBACK, 0);
    if (sock == INVALID_SOCKET)
        return 0;
    sockaddr_in local = {};
    int length = sizeof(local);
    getsockname(sock, reinterpret_cast<sockaddr*>(&local), &length);
    closesocket(sock);
    return ntohs(local.sin_port);
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Sleep(20);
    }
}

std::wstring AppExePath() {
    return DosPath(EnvironmentValue(L"CORVANE_APP_EXE"));
}

bool HaveDisplay() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool underWine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    return !underWine || !EnvironmentValue(L"DISPLAY").empty();
}

std::wstring DataFolderPath() {
    wchar_t appData[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    return std::wstring(appData) + L"\\Corvane";
}

std::wstring SettingsIniPath() {
    return DataFolderPath() + L"\\settings.ini";
}

std::wstring StartupShortcutFile() {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + L"\\Corvane.lnk";
}

void ResetUserState() {
    for (const wchar_t* name :
         {L"settings.ini", L"corvane-udp-last.xml", L"corvane-hrd-controls.txt"})
        DeleteFileW((DataFolderPath() + L"\\" + name).c_str());
    DeleteRunValue();
    DeleteFileW(StartupShortcutFile().c_str());
}

void WriteSettings(const IniValues& values) {
    CreateDirectoryW(DataFolderPath().c_str(), nullptr);
    for (const auto& entry : values)
        WritePrivateProfileStringW(entry.first.first.c_str(), entry.first.second.c_str(),
                                   entry.second.c_str(), SettingsIniPath().c_str());
}

std::wstring ReadSetting(const wchar_t* section, const wchar_t* key) {
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(section, key, L"<absent>", value, ARRAYSIZE(value),
                             SettingsIniPath().c_str());
    return value;
}

bool ReadRunValue(std::wstring* data, DWORD* type) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const LONG status =
        RegQueryValueExW(key, L"Corvane", nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (data)
        *data = buffer;
    return status == ERROR_SUCCESS;
}

void WriteRunValue(DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"Corvane", 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
}

void DeleteRunValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"Corvane");
    RegCloseKey(key);
}

AppProcess::~AppProcess() {
    Release();
}

void AppProcess::Release() {
    Kill();
    if (process) {
        std::lock_guard<std::mutex> lock(startedMutex);
        startedProcesses.erase(
            std::remove(startedProcesses.begin(), startedProcesses.end(), process),
            startedProcesses.end());
        CloseHandle(process);
    }
    process = nullptr;
    processId = 0;
    window = nullptr;
}

bool AppProcess::Start(bool waitForWindow) {
    StartSafetyNets();
    Release();
    const std::wstring exe = AppExePath();
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &started))
        return false;
    if (killJob)
        AssignProcessToJobObject(killJob, started.hProcess);
    {
        std::lock_guard<std::mutex> lock(startedMutex);
        startedProcesses.push_back(started.hProcess);
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process = started.hProcess;
    processId = started.dwProcessId;
    if (!waitForWindow)
        return true;
    // Idle first means the message loop runs: the window has been shown or kept hidden.
    WaitForInputIdle(process, 30000);
    // The Exit button is made last of all controls, right before the workers start.
    return WaitUntil(
        [this] {
            window = FindProcessWindow(processId, L"CorvaneWndClass");
            return window && GetDlgItem(window, 1041) && IsWindowEnabled(window);
        },
        30s);
}

ProcessResult AppProcess::WaitForExit(std::chrono::milliseconds limit) {
    ProcessResult result;
    if (!process)
        return result;
    if (WaitForSingleObject(process, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
        return result;
    result.ended = GetExitCodeProcess(process, &result.exitCode) != 0;
    return result;
}

bool AppProcess::Running() const {
    return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

void AppProcess::Kill() {
    if (Running()) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 10000);
    }
}

HWND FindProcessWindow(DWORD processId, const wchar_t* className) {
    WindowSearch search = {processId, className, nullptr, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendLimitMs,
                             &result))
        return 0;
    return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window) {
    const LRESULT length = Send(window, WM_GETTEXTLENGTH);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void SetText(HWND window, const std::wstring& text) {
    Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool TextBecomes(HWND window, const std::wstring& expected, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return TextOf(window) == expected; }, limit);
}

bool HasVisibleStyle(HWND window) {
    return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

bool IsChecked(HWND box) {
    return Send(box, BM_GETCHECK) == BST_CHECKED;
}

std::vector<std::wstring> TabTexts(const AppProcess& app, HWND tab) {
    std::vector<std::wstring> texts;
    const int count = static_cast<int>(Send(tab, TCM_GETITEMCOUNT));
    const SIZE_T textChars = 128;
    char* remote = static_cast<char*>(
        VirtualAllocEx(app.process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!remote)
        return texts;
    wchar_t* remoteText = reinterpret_cast<wchar_t*>(remote + 1024);
    for (int index = 0; index < count; ++index) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = remoteText;
        item.cchTextMax = static_cast<int>(textChars);
        wchar_t text[textChars] = {};
        WriteProcessMemory(app.process, remote, &item, sizeof(item), nullptr);
        WriteProcessMemory(app.process, remoteText, text, sizeof(text), nullptr);
        Send(tab, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(app.process, remoteText, text, sizeof(text) - sizeof(wchar_t), nullptr);
        texts.push_back(text);
    }
    VirtualFreeEx(app.process, remote, 0, MEM_RELEASE);
    return texts;
}

bool SelectTab(const AppProcess& app, int index) {
    HWND tab = app.Control(1000);
    Send(tab, TCM_SETCURFOCUS, index);
    return Send(tab, TCM_GETCURSEL) == index;
}

std::vector<HWND> VisibleLabels(HWND window) {
    std::vector<HWND> labels;
    EnumChildWindows(window, CollectLabel, reinterpret_cast<LPARAM>(&labels));
    std::sort(labels.begin(), labels.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
    });
    return labels;
}

HWND WaitForMessageBox(const AppProcess& app, const wchar_t* title,
                       std::chrono::milliseconds limit) {
    WindowSearch search = {app.processId, L"#32770", title, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        limit);
    return search.found;
}

std::wstring MessageBoxText(HWND box) {
    return TextOf(GetDlgItem(box, 0xFFFF));
}

bool AnswerMessageBox(HWND box, int buttonId) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
    return WaitUntil([box] { return !IsWindow(box); }, 10s);
}

int FreeUdpPort() {
    return FreePort(SOCK_DGRAM);
}
int FreeTcpPort() {
    return FreePort(SOCK_STREAM);
}

bool SendDatagram(int port, const std::string& bytes) {
    SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (sock == INVALID_SOCKET)
        return false;
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(static_cast<u_short>(port));
    const int sent = sendto(sock, bytes.data(), static_cast<int>(bytes.size()), 0,
                            reinterpret_cast<sockaddr*>(&target), sizeof(target));
    closesocket(sock);
    return sent == static_cast<int>(bytes.size());
}

bool UdpPortFree(int port) {
    SOCKET sock = BoundSocket(SOCK_DGRAM, INADDR_ANY, port);
    if (sock == INVALID_SOCKET)
        return false;
    closesocket(sock);
    return true;
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

std::wstring SampleFile(const wchar_t* name) {
    return DosPath(EnvironmentValue(L"CORVANE_SAMPLES_DIR")) + L"\\" + name;
}

bool SaveWindowPicture(HWND window, const std::wstring& path) {
    RECT area = {};
    if (!GetWindowRect(window, &area))
        return false;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height; // bottom-up, as BMP files store it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(height);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory && picture && bits) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        SelectObject(memory, previous);

        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof(file) + sizeof(header);
        file.bfSize = file.bfOffBits + header.biSizeImage;
        HANDLE out =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
                    WriteFile(out, &header, sizeof(header), &written, nullptr) &&
                    WriteFile(out, bits, header.biSizeImage, &written, nullptr);
            CloseHandle(out);
        }
    }
    if (picture)
        DeleteObject(picture);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}
