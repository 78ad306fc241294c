#pragma once
// What the end-to-end tests use to drive Corvane.exe from outside, as a user would: start it, find
// its window and controls, read and set texts, click, answer its message boxes. Every wait is
// bounded and every started copy is killed at the end, whatever happens.
#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// Polls until the condition holds; false when the limit passed first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// The executable under test (CORVANE_APP_EXE, a Unix path under Wine, turned into a DOS path).
std::wstring AppExePath();
bool HaveDisplay();

// %APPDATA%\Corvane and its settings.ini, as the program finds them.
std::wstring DataFolderPath();
std::wstring SettingsIniPath();
// Removes settings.ini and the diagnostic files, the Run value and the Startup shortcut, so each
// test starts from a clean user profile.
void ResetUserState();
using IniValues = std::map<std::pair<std::wstring, std::wstring>, std::wstring>;
void WriteSettings(const IniValues& values);
std::wstring ReadSetting(const wchar_t* section, const wchar_t* key);

// Run key helpers for "Corvane".
bool ReadRunValue(std::wstring* data, DWORD* type);
void WriteRunValue(DWORD type, const void* data, DWORD bytes);
void DeleteRunValue();
std::wstring StartupShortcutFile();

struct ProcessResult {
    bool ended = false;
    DWORD exitCode = 0;
};

// One started copy of Corvane.exe.
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
    // Kills the copy if it runs and forgets it; Start calls it first.
    void Release();

    HWND Control(int id) const { return GetDlgItem(window, id); }

    HANDLE process = nullptr;
    DWORD processId = 0;
    HWND window = nullptr;
};

// The top-level window of the given class that belongs to the process.
HWND FindProcessWindow(DWORD processId, const wchar_t* className);

std::wstring ClassOf(HWND window);
std::wstring TextOf(HWND window);
void SetText(HWND window, const std::wstring& text);
bool TextBecomes(HWND window, const std::wstring& expected, std::chrono::milliseconds limit);
// The control's own visible flag, whatever its parent's state.
bool HasVisibleStyle(HWND window);
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Presses a button or check box as a click would, without waiting for what it opens.
void Click(HWND button);
bool IsChecked(HWND box);

// The tab control's item texts, read through memory in the program's process.
std::vector<std::wstring> TabTexts(const AppProcess& app, HWND tab);
// Selects a tab the way a user does, so the window hears of the change.
bool SelectTab(const AppProcess& app, int index);

// The program's visible static labels, top to bottom and left to right.
std::vector<HWND> VisibleLabels(HWND window);

// A message box of the program with this title; null when none showed within the limit.
HWND WaitForMessageBox(const AppProcess& app, const wchar_t* title,
                       std::chrono::milliseconds limit = 10s);
std::wstring MessageBoxText(HWND box);
// Presses IDOK, IDYES or IDNO and waits until the box is gone.
bool AnswerMessageBox(HWND box, int buttonId);

// UDP and TCP on 127.0.0.1 for the tests' peers.
int FreeUdpPort();
int FreeTcpPort();
bool SendDatagram(int port, const std::string& bytes);
// True when the UDP port can be bound on all interfaces right now (no one listens on it).
bool UdpPortFree(int port);

std::string ReadFileBytes(const std::wstring& path);
// Copies what the screen shows of the window, frame included, into a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::wstring& path);
std::wstring SampleFile(const wchar_t* name);
