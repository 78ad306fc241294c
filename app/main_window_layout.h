#pragma once
// The six tabbed pages and the two buttons of the main window, and how they are first filled.
#include <string>
#include <vector>
#include <windows.h>

struct IntervalChoice {
    std::wstring text;
    int seconds;
};

// The interval list's entries of at least `minimum` seconds, and the entry to select for
// `current` (0 when none matches).
std::vector<IntervalChoice> IntervalChoices(int minimum);
int IntervalSelection(const std::vector<IntervalChoice>& choices, int current);

// The host part of an http(s) URL ("https://host:port/path" gives "host"); the built-in one
// always has its scheme.
std::wstring HostOfUrl(const std::wstring& url);

// The window's font is Segoe UI of this pixel height at 96 DPI; only the tabs may go smaller.
constexpr int kUiFontHeight = 12;
HFONT CreateUiFont(int height = kUiFontHeight);
HWND CreateIntervalBox(HWND parent, int id, int x, int y, int current, int minimum);
// Creates and fills every control; runs once at WM_CREATE, after the font exists.
void BuildMainWindowControls(HWND window);
void ShowTabPage(int index);
// The boxes whose value a Save may correct (ports, rig hosts, intervals), as settings now hold
// them.
void ShowStoredValues();
// The brush that paints like the tab page, made on first use from what the tab control draws.
HBRUSH PageBrush();
// Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+Page Down and Ctrl+Page Up change the page; true when the
// message was one of them.
bool HandlePageKey(const MSG& message);
