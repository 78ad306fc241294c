#pragma once
// How a worker tells the front end that something changed. Windows posts messages to the main
// window (and sends the HRD text to its label with a bounded wait); POSIX calls the sink that the
// console front end installed. Without a window or sink every call does nothing.
#include <string>

enum UdpListenerState { UdpStopped = 0, UdpListening = 1, UdpBindError = 2 };

void NotifySnapshotChanged();
void NotifyUdpStatus(int state, int port);
void NotifyPostResult(int target, bool delivered);
void SetHrdStatusText(const std::wstring& text);

#ifndef _WIN32
#include <functional>

struct NotifySink {
    std::function<void()> snapshotChanged;
    std::function<void(int state, int port)> udpStatus;
    std::function<void(int target, bool delivered)> postResult;
    std::function<void(const std::wstring& text)> hrdStatus;
};

// Install before the workers start, remove (nullptr) after they have been stopped.
void InstallNotifySink(const NotifySink* sink);
#endif
