#pragma once
// Records what the workers tell the front end, through the sink it installs in their place.
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/notify.h"
#include "frontend/pages.h"

struct NotifyRecorder {
    NotifyRecorder() {
        sink.udpStatus = [this](int state, int) { Record(udp, state); };
        sink.postResult = [this](int to, const PostOutcome& o) { Record(posts, {to, o.failure}); };
        // As the front ends show it.
        sink.rigStatus = [this](RigSource source, RigLinkState state, const std::wstring& radio) {
            Record(rigs[int(source)], RigStatusText(source, state, radio));
        };
        InstallNotifySink(&sink);
    }
    ~NotifyRecorder() { InstallNotifySink(nullptr); }

    template <typename T> void Record(std::vector<T>& into, T value) {
        std::lock_guard<std::mutex> lock(mutex);
        into.push_back(std::move(value));
    }
    template <typename T> std::vector<T> Copy(const std::vector<T>& of) {
        std::lock_guard<std::mutex> lock(mutex);
        return of;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex);
        udp.clear(), posts.clear(), rigs[0].clear(), rigs[1].clear();
    }
    // Each kind in order: the rig lines as the window shows them, the posts' target and failure,
    // the UDP listener's states.
    std::vector<std::wstring> RigTexts(RigSource of) { return Copy(rigs[int(of)]); }
    std::vector<std::pair<int, PostFailure>> PostResults() { return Copy(posts); }
    std::vector<int> UdpStates() { return Copy(udp); }

    std::mutex mutex;
    std::vector<int> udp;
    std::vector<std::pair<int, PostFailure>> posts;
    std::vector<std::wstring> rigs[2];
    NotifySink sink;
};
