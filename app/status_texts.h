#pragma once
// The status lines' texts, apart from the window so they can be checked on their own.
#include <string>

// The UDP status line for a listener state (0 Stopped, 1 Listening, 2 BindError), naming the
// address the listener binds for the address text (see UdpListenAddress).
std::wstring FormatUdpStatusText(int state, const std::wstring& addressText, int port);

const wchar_t* LastPostText(bool delivered);
