#pragma once
// Drives Corvane.exe from outside as a user would. Every wait is bounded and every started copy
// is killed at the end, whatever happens.
#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace std::chrono_literals;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// CORVANE_APP_EXE, a Unix path under Wine, as a DOS path.
std::wstring AppExePath();
bool HaveDisplay();

std::wstring DataFolderPath();
std::wstring SettingsIniPath();
// Removes settings.ini, the diagnostic files, the Run value and the Startup shortcut.
void ResetUserState();
using IniValues = std::map<std::pair<std::wstring, std::wstring>, std::wstring>;
void WriteSettings(const IniValues& values);
std::wstring ReadSetting(const wchar_t* section, const wchar_t* key);

// The Run key's "Corvane" value.
bool ReadRunValue(std::wstring* data, DWORD* type);
void DeleteRunValue();
std::wstring StartupShortcutFile();

struct ProcessResult {
    bool ended = false;
    DWORD exitCode = 0;
};

struct AppProcess {
    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts the program; with waitForWindow, also waits until its window and controls exist.
    bool Start(bool waitForWindow = true);
    ProcessResult WaitForExit(std::chrono::milliseconds limit);
    bool Running() const;
    void Kill();
    // Kills the copy if it runs and forgets it.
    void Release();

    HWND Control(int id) const { return GetDlgItem(window, id); }

    HANDLE process = nullptr;
    DWORD processId = 0;
    HWND window = nullptr;
};

// A top-level window of the process; with a title, a visible one.
HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* title = nullptr);

std::wstring ClassOf(HWND window);
std::wstring TextOf(HWND window);
void SetText(HWND window, const std::wstring& text);
bool TextBecomes(HWND window, const std::wstring& expected, std::chrono::milliseconds limit);
// The control's own visible flag, whatever its parent's state.
bool HasVisibleStyle(HWND window);
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Posts BM_CLICK, so a message box it opens does not block the caller.
void Click(HWND button);
bool IsChecked(HWND box);

// Read through memory in the program's process.
std::vector<std::wstring> TabTexts(const AppProcess& app, HWND tab);
// Selects a tab the way a user does, so the window hears of the change.
bool SelectTab(const AppProcess& app, int index);

// Sends a message whose lParam points at `size` bytes, copied into the program and back.
bool SendWithBuffer(const AppProcess& app, HWND window, UINT message, WPARAM wParam, void* data,
                    std::size_t size);
// The control that has the keyboard focus in the window's thread.
HWND FocusOf(HWND window);
// Presses the keys in order and lets them go in reverse, as one chord.
void PressKeys(const std::vector<WORD>& keys);
// What the screen shows at a point of the window's client area.
COLORREF ScreenPixel(HWND window, int x, int y);
// Shell_NotifyIconW on the window's tray icon 1 with no data: NIM_MODIFY changes nothing and
// tells whether the shell holds it, NIM_DELETE takes it away.
bool TrayIcon(HWND window, DWORD action);

// Static labels with the visible style, top to bottom and left to right.
std::vector<HWND> VisibleLabels(HWND window);

// Null when none showed within the limit.
HWND WaitForMessageBox(const AppProcess& app, const wchar_t* title,
                       std::chrono::milliseconds limit = 10s);
std::wstring MessageBoxText(HWND box);
// Presses IDOK, IDYES or IDNO and waits until the box is gone.
bool AnswerMessageBox(HWND box, int buttonId);

// A port on 127.0.0.1 free right now, for SOCK_DGRAM or SOCK_STREAM.
int FreePort(int type);
bool SendDatagram(int port, const std::string& bytes);
// True when no one holds the UDP port on any interface.
bool UdpPortFree(int port);

std::string ReadFileBytes(const std::wstring& path);
// What the screen shows of the window, frame included, as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::wstring& path);
std::wstring SampleFile(const wchar_t* name);
