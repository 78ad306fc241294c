#pragma once
// What the rig-control pollers (HRD, rigctld) share: a worker that keeps one TCP connection to its
// program, and the connect and the waits of each pass. Each poller keeps its own protocol.
#include <atomic>
#include <cstdint>
#include <string>

#include "core/notify.h"
#include "core/worker.h"
#include "platform/net.h"

// A connect is given up after this, and the next one waits this long, as after any failed pass.
constexpr int kRigConnectLimitMs = 3000;
constexpr int kRigRetrySlices = 3 * kSlicesPerSecond;

struct RigLink {
    explicit RigLink(RigSource of) : source(of) {}
    const RigSource source;
    Worker worker;
    SocketSlot socket;
    // Cleared by a stop and by a drop: the pass in hand (connect, handshake, polls, the waits)
    // ends at its next look, and the next pass reads the settings afresh. Raised again before a
    // pass copies them, so a drop that comes after the copy is never lost.
    std::atomic<bool> wanted{};
};

// The worker runs and the connection is wanted.
bool RigLinkWanted(RigLink& link);
// Waits whole worker slices, cut short by a stop or a drop; false once one came.
bool WaitRigLink(RigLink& link, std::int64_t slices);
void ReportRigLink(RigLink& link, RigLinkState state, const std::wstring& radio = {});

// A pass's first step, before the settings are copied: false when the worker has been stopped.
bool BeginRigLinkPass(RigLink& link);
// Says Connecting and connects a socket, put in the link's slot first so that a stop or a drop
// can cut the connect short, to the host (a numeric IPv4 address; anything else, a name included,
// means this computer and is never looked up) and port. On failure: closed, NotReachable unless
// stopped or dropped, the retry wait; kInvalidSocket.
SocketHandle ConnectRigLink(RigLink& link, const std::wstring& host, int port);
// A pass's last step: closes the connection; after a poll loop (`polled`) says Reconnecting unless
// stopped; then the retry wait, so a program that fails every pass is not hammered.
void EndRigLinkPass(RigLink& link, bool polled);

// The worker: `pass` again and again until stopped, then Stopped.
void StartRigLink(RigLink& link, void (*pass)());
void StopRigLink(RigLink& link);
void DropRigLink(RigLink& link);
