#pragma once
// The status lines' texts, apart from the window so they can be checked on their own.
#include <string>

// Longest text a status line takes: the 128-character buffer less its terminating zero.
constexpr std::size_t kStatusTextLimit = 127;

// The UDP status line for a listener state (0 Stopped, 1 Listening, 2 BindError). An empty
// address reads as 0.0.0.0. An address too long for the line is cut with "..." so that the
// port still shows; the text never passes kStatusTextLimit characters.
std::wstring FormatUdpStatusText(int state, const std::wstring& addressText, int port);

const wchar_t* LastPostText(bool delivered);
