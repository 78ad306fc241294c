#include "tests/app/driver.h"

#include "resources/resource.h"
#include "tests/app/throwaway_profile.h"

#include <winsock2.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <shellapi.h>
#include <shlobj.h>
#include <thread>

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Longer than any test needs, shorter than ctest's own time-out.
constexpr auto kDriverLimit = std::chrono::seconds(540);
HANDLE killJob = nullptr;

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

std::wstring KnownFolder(int id, const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, folder);
    return std::wstring(folder) + name;
}

// Every started copy sits in a job that dies with the driver; a watchdog ends a hung driver.
void StartSafetyNets() {
    static std::once_flag once;
    std::call_once(once, [] {
        killJob = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(killJob, JobObjectExtendedLimitInformation, &limits,
                                sizeof(limits));
        std::thread([] {
            std::this_thread::sleep_for(kDriverLimit); // the watchdog's own timer
            TerminateJobObject(killJob, 99);
            ExitProcess(3);
        }).detach();
    });
}

BOOL CALLBACK CollectLabel(HWND child, LPARAM context) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 && HasVisibleStyle(child))
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
    return TRUE;
}

sockaddr_in Address(unsigned long address, int port) {
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(address);
    at.sin_port = htons(static_cast<u_short>(port));
    return at;
}

SOCKET BoundSocket(int type, unsigned long address, int port) {
    SOCKET sock = socket(AF_INET, type, type == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP);
    sockaddr_in local = Address(address, port);
    if (sock != INVALID_SOCKET &&
        bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        closesocket(sock);
        return INVALID_SOCKET;
    }
    return sock;
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Sleep(20);
    }
    return true;
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
    return KnownFolder(CSIDL_APPDATA, L"\\Corvane");
}

std::wstring SettingsIniPath() {
    return DataFolderPath() + L"\\settings.ini";
}

std::wstring StartupShortcutFile() {
    return KnownFolder(CSIDL_STARTUP, L"\\Corvane.lnk");
}

void ResetUserState() {
    if (!ThrowawayProfile())
        return;
    for (const wchar_t* name :
         {L"settings.ini", L"corvane-udp-last.xml", L"corvane-hrd-controls.txt"})
        DeleteFileW((DataFolderPath() + L"\\" + name).c_str());
    DeleteRunValue();
    DeleteFileW(StartupShortcutFile().c_str());
}

void WriteSettings(const IniValues& values) {
    if (!ThrowawayProfile())
        return;
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
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const LONG status = RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane",
                                     RRF_RT_ANY | RRF_NOEXPAND, type, buffer, &size);
    if (data)
        *data = buffer;
    return status == ERROR_SUCCESS;
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
    if (process)
        CloseHandle(process);
    process = nullptr;
    processId = 0;
    window = nullptr;
}

bool AppProcess::Start(bool waitForWindow) {
    StartSafetyNets();
    Release();
    if (!ThrowawayProfile())
        return false;
    const std::wstring exe = AppExePath();
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &started))
        return false;
    AssignProcessToJobObject(killJob, started.hProcess);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process = started.hProcess;
    processId = started.dwProcessId;
    if (!waitForWindow)
        return true;
    WaitForInputIdle(process, 30000); // the message loop runs: the window is shown or hidden
    // The Exit button is made last of all controls, right before the workers start.
    return WaitUntil(
        [this] {
            window = FindProcessWindow(processId, L"CorvaneWndClass");
            return window && GetDlgItem(window, IDC_EXIT) && IsWindowEnabled(window);
        },
        30s);
}

ProcessResult AppProcess::WaitForExit(std::chrono::milliseconds limit) {
    ProcessResult result;
    if (process && WaitForSingleObject(process, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0)
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

HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* title) {
    for (HWND found = nullptr; (found = FindWindowExW(nullptr, found, className, title));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (owner == processId && (!title || IsWindowVisible(found)))
            return found;
    }
    return nullptr;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result))
        return 0;
    return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window) {
    std::vector<wchar_t> text(static_cast<std::size_t>(Send(window, WM_GETTEXTLENGTH)) + 1);
    Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
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
    char* remote = static_cast<char*>(
        VirtualAllocEx(app.process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!remote)
        return texts;
    wchar_t* remoteText = reinterpret_cast<wchar_t*>(remote + 1024);
    for (int index = 0; index < static_cast<int>(Send(tab, TCM_GETITEMCOUNT)); ++index) {
        wchar_t text[128] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = remoteText;
        item.cchTextMax = ARRAYSIZE(text);
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
    HWND tab = app.Control(IDC_TAB);
    Send(tab, TCM_SETCURFOCUS, index);
    return Send(tab, TCM_GETCURSEL) == index;
}

bool SendWithBuffer(const AppProcess& app, HWND window, UINT message, WPARAM wParam, void* data,
                    std::size_t size) {
    void* remote = VirtualAllocEx(app.process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    const bool done = remote && WriteProcessMemory(app.process, remote, data, size, nullptr) &&
                      (Send(window, message, wParam, reinterpret_cast<LPARAM>(remote)), true) &&
                      ReadProcessMemory(app.process, remote, data, size, nullptr);
    if (remote)
        VirtualFreeEx(app.process, remote, 0, MEM_RELEASE);
    return done;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                              : nullptr;
}

void PressKeys(const std::vector<WORD>& keys) {
    std::vector<INPUT> inputs(keys.size() * 2);
    std::size_t at = 0;
    for (WORD key : keys) {
        inputs[at].ki.wVk = inputs[inputs.size() - 1 - at].ki.wVk = key;
        inputs[inputs.size() - 1 - at].ki.dwFlags = KEYEVENTF_KEYUP;
        ++at;
    }
    for (INPUT& input : inputs)
        input.type = INPUT_KEYBOARD;
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

COLORREF ScreenPixel(HWND window, int x, int y) {
    POINT at = {x, y};
    ClientToScreen(window, &at);
    HDC screen = GetDC(nullptr);
    const COLORREF color = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return color;
}

bool TrayIcon(HWND window, DWORD action) {
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 1;
    return Shell_NotifyIconW(action, &icon) != FALSE;
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
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindProcessWindow(app.processId, L"#32770", title)) != nullptr; },
              limit);
    return box;
}

std::wstring MessageBoxText(HWND box) {
    return TextOf(GetDlgItem(box, 0xFFFF));
}

bool AnswerMessageBox(HWND box, int buttonId) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
    return WaitUntil([box] { return !IsWindow(box); }, 10s);
}

int FreePort(int type) {
    SOCKET sock = BoundSocket(type, INADDR_LOOPBACK, 0);
    sockaddr_in local = {};
    int length = sizeof(local);
    getsockname(sock, reinterpret_cast<sockaddr*>(&local), &length);
    closesocket(sock);
    return ntohs(local.sin_port);
}

bool SendDatagram(int port, const std::string& bytes) {
    SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in target = Address(INADDR_LOOPBACK, port);
    const int sent = sendto(sock, bytes.data(), static_cast<int>(bytes.size()), 0,
                            reinterpret_cast<sockaddr*>(&target), sizeof(target));
    closesocket(sock);
    return sent == static_cast<int>(bytes.size());
}

bool UdpPortFree(int port) {
    SOCKET sock = BoundSocket(SOCK_DGRAM, INADDR_ANY, port);
    closesocket(sock);
    return sock != INVALID_SOCKET;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof(buffer), file)) > 0;)
            bytes.append(buffer, got);
        fclose(file);
    }
    return bytes;
}

std::wstring SampleFile(const wchar_t* name) {
    return DosPath(EnvironmentValue(L"CORVANE_SAMPLES_DIR")) + L"\\" + name;
}

bool SaveWindowPicture(HWND window, const std::wstring& path) {
    RECT area = {};
    GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height; // bottom-up, as BMP files store it
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = ((static_cast<DWORD>(width) * 3 + 3) & ~3u) * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    FILE* out = nullptr;
    if (picture && bits && (out = _wfopen(path.c_str(), L"wb"))) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        SelectObject(memory, previous);
        saved = fwrite(&file, sizeof(file), 1, out) && fwrite(&header, sizeof(header), 1, out) &&
                fwrite(bits, header.biSizeImage, 1, out);
        fclose(out);
    }
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}
