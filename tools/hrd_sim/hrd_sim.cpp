#include "tools/hrd_sim/hrd_sim.h"

#include <chrono>
#include <thread>
#include <utility>

#include "sources/hrd/hrd_protocol.h"
#include "tools/net_peers/net_peers.h"

namespace {

// Our own spelling of the commands, so that a command Corvane misspells goes unanswered: HRD
// gives its name to "Get ID" and to whatever it does not know.
std::wstring ReplyFor(const HrdSimScript& script, const std::wstring& command) {
    const std::pair<const wchar_t*, const std::wstring*> replies[] = {
        {L"Get Context", &script.context},
        {L"Get Radio", &script.radio},
        {L"] get frequency", &script.frequency},
        {L"] get mode", &script.mode},
        {L"] get dropdown-text {Main~Mode}", &script.dropdownMode}};
    for (const auto& [name, reply] : replies)
        if (command.find(name) != std::wstring::npos)
            return *reply;
    return L"Ham Radio Deluxe";
}

void Serve(HrdSim& sim, SocketHandle socket) {
    std::wstring command;
    while (ReceiveHrdFrame(socket, command, std::chrono::steady_clock::time_point::max())) {
        HrdSimScript script;
        {
            std::lock_guard<std::mutex> lock(sim.mutex);
            sim.commands.push_back(command);
            script = sim.script;
        }
        const bool faulty = script.fault != HrdSimFault::None &&
                            command.find(script.faultCommand) != std::wstring::npos;
        if (faulty && script.fault == HrdSimFault::Silent)
            continue;
        const auto due =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(script.lateMs);
        while (faulty && script.fault == HrdSimFault::Late && sim.peer.running.load() &&
               std::chrono::steady_clock::now() < due)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string reply = BuildHrdFrame(ReplyFor(script, command));
        // In the same send, so that it waits before the next request goes out.
        if (faulty && script.fault == HrdSimFault::Unsolicited)
            reply += BuildHrdFrame(L"7074000");
        if (SocketSend(socket, reply.data(), int(reply.size())) != int(reply.size()))
            return;
    }
}

} // namespace

bool StartHrdSim(HrdSim& sim, const HrdSimScript& script, int port) {
    sim.script = script;
    return sim.peer.Start(port, [&sim](SocketHandle socket) { Serve(sim, socket); });
}

void SetHrdSimScript(HrdSim& sim, const HrdSimScript& script) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    sim.script = script;
}

std::vector<std::wstring> HrdSimCommands(HrdSim& sim) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    return sim.commands;
}
