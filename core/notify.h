#pragma once
// How a worker tells the front end that something changed: the front end installs one sink and
// the workers call through it on their own threads. Workers report states, never texts; the front
// ends turn them into their lines through frontend/pages.h. Without a sink, or for a member left
// empty, a call does nothing.
#include <functional>
#include <string>

#include "core/post_outcome.h"

// Which rig-control source a rig status comes from, and the state of its link.
enum class RigSource { Hrd, Rigctld };
enum class RigLinkState { Connecting, Connected, NotReachable, Reconnecting, Stopped };

struct NotifySink {
    std::function<void()> snapshotChanged;
    std::function<void(int state, int port)> udpStatus; // state: the listener's UdpListenerState
    std::function<void(int target, const PostOutcome& outcome)> postResult;
    // `radio` names the connected radio (Connected only).
    std::function<void(RigSource source, RigLinkState state, const std::wstring& radio)> rigStatus;
};

// Install before the workers start, remove (nullptr) after they have been stopped.
void InstallNotifySink(const NotifySink* sink);

void NotifySnapshotChanged();
void NotifyUdpStatus(int state, int port);
void NotifyPostResult(int target, const PostOutcome& outcome);
void NotifyRigStatus(RigSource source, RigLinkState state, const std::wstring& radio = {});
