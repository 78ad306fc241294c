#pragma once
// How a worker tells the front end that something changed: the front end installs one sink and
// the workers call through it on their own threads. The window's sink posts messages to it (and
// sends the HRD text to its label with a bounded wait); the console's prints. Without a sink, or
// for a member left empty, a call does nothing.
#include <functional>
#include <string>

#include "core/post_outcome.h"

enum UdpListenerState { UdpStopped = 0, UdpListening = 1, UdpBindError = 2 };

struct NotifySink {
    std::function<void()> snapshotChanged;
    std::function<void(int state, int port)> udpStatus;
    std::function<void(int target, const PostOutcome& outcome)> postResult;
    std::function<void(const std::wstring& text)> hrdStatus;
};

// Install before the workers start, remove (nullptr) after they have been stopped.
void InstallNotifySink(const NotifySink* sink);

void NotifySnapshotChanged();
void NotifyUdpStatus(int state, int port);
void NotifyPostResult(int target, const PostOutcome& outcome);
void SetHrdStatusText(const std::wstring& text);
