#pragma once
// A rigctld stand-in for the tests: a TCP server on 127.0.0.1 that reads command lines, keeps
// them, and answers each with the bytes its script gives that command, for the replies the real
// rigctld with its dummy radio never sends (RPRT errors, silence, a line in pieces, too much).
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"

// Command line (without its LF) to the reply's bytes; a '|' in a reply is a pause of 100 ms
// between two sends. A command the script does not name gets no answer at all.
using RigctldScript = std::map<std::string, std::string>;

// The dummy radio's answers as rigctld gives them.
RigctldScript DummyRigctldScript();

struct RigctldStandIn {
    ~RigctldStandIn();
    std::mutex mutex; // guards the script and the commands
    RigctldScript script;
    std::vector<std::string> commands;
    int port = 0;
    std::atomic<bool> running{false};
    SocketHandle listener = kInvalidSocket;
    SocketSlot connection;
    std::thread thread;
};

// Listens on 127.0.0.1 on a free port and serves one connection at a time until stopped.
bool StartRigctldStandIn(RigctldStandIn& standIn, const RigctldScript& script);
void StopRigctldStandIn(RigctldStandIn& standIn);
std::vector<std::string> RigctldStandInCommands(RigctldStandIn& standIn);
