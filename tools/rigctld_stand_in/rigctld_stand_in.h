#pragma once
// A rigctld stand-in for the tests: a TCP server on 127.0.0.1 that reads command lines, keeps
// them, and answers each with the bytes its script gives that command, for the replies the real
// rigctld with its dummy radio never sends (RPRT errors, silence, a line in pieces, too much).
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/net_peers/tcp_peer.h"

// Command line (without its LF) to the reply's bytes; a '|' in a reply is a pause of 100 ms
// between two sends. A command the script does not name gets no answer at all.
using RigctldScript = std::map<std::string, std::string>;

// The dummy radio's answers as rigctld gives them.
RigctldScript DummyRigctldScript();

struct RigctldStandIn {
    std::mutex mutex; // guards the script and the commands
    RigctldScript script;
    std::vector<std::string> commands;
    TcpPeer peer; // last, so that it stops before the rest goes
};

// Listens on 127.0.0.1 on a free port (peer.port) until it goes.
bool StartRigctldStandIn(RigctldStandIn& standIn, const RigctldScript& script);
std::vector<std::string> RigctldStandInCommands(RigctldStandIn& standIn);
