#pragma once
// How a worker tells the front end that something changed: the front end installs one sink and
// the workers call through it on their own threads. The window's sink posts messages to it (and
// sends a rig source's text to its label with a bounded wait); the console's prints. Without a
// sink, or for a member left empty, a call does nothing.
#include <functional>
#include <string>

enum UdpListenerState { UdpStopped = 0, UdpListening = 1, UdpBindError = 2 };

// The rig-control sources and where each stands with its program; the front ends word it.
enum class RigSource { Hrd, Rigctld };
enum class RigLinkState { Connecting, Connected, NotReachable, Reconnecting, Stopped };

struct NotifySink {
    std::function<void()> snapshotChanged;
    std::function<void(int state, int port)> udpStatus;
    std::function<void(int target, bool delivered)> postResult;
    std::function<void(RigSource source, RigLinkState state, const std::wstring& radio)> rigStatus;
};

// Install before the workers start, remove (nullptr) after they have been stopped.
void InstallNotifySink(const NotifySink* sink);

void NotifySnapshotChanged();
void NotifyUdpStatus(int state, int port);
void NotifyPostResult(int target, bool delivered);
// `radio` is the radio's name, for Connected only.
void NotifyRigStatus(RigSource source, RigLinkState state, const std::wstring& radio = {});
