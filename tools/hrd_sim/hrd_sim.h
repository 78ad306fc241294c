#pragma once
// An HRD stand-in for the tests: a TCP server on 127.0.0.1 that speaks HRD's frames, keeps the
// commands it is sent, answers them with scripted texts and misbehaves on request.
#include <mutex>
#include <string>
#include <vector>

#include "tools/net_peers/tcp_peer.h"

enum class HrdSimFault {
    None,
    Silent,      // reads the command, never answers
    Unsolicited, // answers, then sends a frame nobody asked for
    Late,        // answers after lateMs
};

struct HrdSimScript {
    HrdSimFault fault = HrdSimFault::None;
    std::wstring faultCommand; // the fault hits the commands that contain this text
    int lateMs = 0;
    std::wstring context = L"1";
    std::wstring radio = L"IC-7300";
    std::wstring frequency = L"14074000";
    std::wstring mode = L"USB"; // the answer to "get mode"
    std::wstring dropdownMode = L"Mode: USB";
};

struct HrdSim {
    std::mutex mutex; // guards the script and the commands
    HrdSimScript script;
    std::vector<std::wstring> commands; // as sent, context prefix included
    TcpPeer peer;                       // last, so that it stops before the rest goes
};

// Listens on 127.0.0.1 (port 0 takes a free one) and serves one connection at a time until
// sim.peer is stopped (or the sim goes).
bool StartHrdSim(HrdSim& sim, const HrdSimScript& script = HrdSimScript(), int port = 0);
// Takes effect from the next command.
void SetHrdSimScript(HrdSim& sim, const HrdSimScript& script);
std::vector<std::wstring> HrdSimCommands(HrdSim& sim);
