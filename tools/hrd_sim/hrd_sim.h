#pragma once
// An HRD stand-in: a TCP server on 127.0.0.1 that speaks HRD's frame protocol, answers the
// commands Corvane sends with configurable texts and misbehaves on request. Tests run it
// in-process; hrd_sim is the same server as a program to point Corvane at by hand.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net_peers.h"

enum HrdSimFault {
    HrdSimNoFault,
    HrdSimSilent,           // read the command, never answer
    HrdSimCloseAfterLength, // send the reply's length field, then close the connection
    HrdSimShortLength,      // a length field of 15, then the real reply frame
    HrdSimHugeLength,       // a length field of 1,048,577, then the real reply frame
    HrdSimUnsolicited,      // the reply, then a frame nobody asked for
};

struct HrdSimScript {
    std::wstring idReply = L"Ham Radio Deluxe simulator";
    std::wstring contextReply = L"1";
    std::wstring radioReply = L"IC-7300";
    std::wstring frequencyReply = L"14074000";
    std::wstring modeReply = L"USB"; // "get mode"; empty gives an empty reply
    std::wstring dropdownModeReply = L"Mode: USB";
    std::wstring unknownReply = L"Unknown command";

    HrdSimFault fault = HrdSimNoFault;
    std::wstring faultCommand; // the fault hits commands containing this text; empty: all
    int faultAfter = 0;        // matching commands answered normally first, per connection
    bool oneBytePerSend = false;
    int trailingNuls = 0;   // extra NUL units after each reply's own terminating one
    int dropAfterPolls = 0; // close each connection when poll N + 1 asks; 0: never
};

struct HrdSimCommand {
    std::wstring text;  // as received, context prefix included
    std::string frame;  // the request's bytes on the wire
    int connection = 0; // 1 for the first connection accepted, and so on
    std::chrono::steady_clock::time_point received;
};

struct HrdSim {
    HrdSim() = default;
    HrdSim(const HrdSim&) = delete;
    HrdSim& operator=(const HrdSim&) = delete;
    ~HrdSim();

    std::mutex mutex; // guards everything below up to the sockets
    std::condition_variable changed;
    HrdSimScript script;
    std::vector<HrdSimCommand> commands;
    int connections = 0;
    bool refusing = false;
    std::string address = "127.0.0.1";
    int port = 0;

    std::atomic<bool> running{false};
    std::atomic<SocketHandle> listener{kInvalidSocket};
    std::atomic<SocketHandle> connection{kInvalidSocket};
    std::thread thread;
};

// Listens on the address and port (0 picks a free one) and serves until stopped; with refusing
// set the port is only reserved (taken and let go), so connections to it are refused.
bool StartHrdSim(HrdSim& sim, const HrdSimScript& script = HrdSimScript(), int port = 0,
                 bool refusing = false, const std::string& address = "127.0.0.1");
void StopHrdSim(HrdSim& sim);

// Changes take effect from the next command.
void SetHrdSimScript(HrdSim& sim, const HrdSimScript& script);
// Stops or resumes listening on the same port; the current connection is dropped on refusing.
bool SetHrdSimRefusing(HrdSim& sim, bool refusing);
// Closes the current connection, as a restarting HRD would.
void DropHrdSimConnection(HrdSim& sim);

std::vector<HrdSimCommand> HrdSimCommands(HrdSim& sim);
int HrdSimConnections(HrdSim& sim);
// Waits until the predicate holds for the commands so far; false on time-out.
bool WaitForHrdSim(HrdSim& sim, const std::function<bool(const std::vector<HrdSimCommand>&)>& done,
                   std::chrono::milliseconds limit);
// How many commands so far end with the text (context prefix ignored), and on which connection.
int CountHrdSimCommands(const std::vector<HrdSimCommand>& commands, const std::wstring& command,
                        int connection = 0);
