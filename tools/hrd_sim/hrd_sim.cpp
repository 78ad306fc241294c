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
        while (faulty && script.fault == HrdSimFault::Late && sim.running.load() &&
               std::chrono::steady_clock::now() < due)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string reply = BuildHrdFrame(ReplyFor(script, command));
        if (faulty &&
            script.fault == HrdSimFault::Unsolicited) // in the same send, so that it waits before
                                                      // the next request goes out
            reply += BuildHrdFrame(L"7074000");
        if (SocketSend(socket, reply.data(), int(reply.size())) != int(reply.size()))
            return;
    }
}

// Only this thread closes the sockets, and under the slot's lock, so a stop never wakes a
// handle that is already closed and perhaps reused.
void ServeLoop(HrdSim* sim) {
    while (true) {
        sim->connection.handle.store(TcpAccept(sim->listener));
        if (!sim->running.load())
            break; // the stop's wake-up call
        Serve(*sim, sim->connection.handle.load());
        CloseSocketSlot(sim->connection);
    }
    CloseSocketSlot(sim->connection);
    CloseSocket(sim->listener);
}

} // namespace

HrdSim::~HrdSim() {
    StopHrdSim(*this);
}

bool StartHrdSim(HrdSim& sim, const HrdSimScript& script, int port) {
    sim.listener = TcpListen("127.0.0.1", port);
    if (sim.listener == kInvalidSocket)
        return false;
    sim.port = LocalPort(sim.listener);
    sim.script = script;
    sim.running.store(true);
    sim.thread = std::thread(ServeLoop, &sim);
    return true;
}

void StopHrdSim(HrdSim& sim) {
    if (!sim.running.exchange(false))
        return;
    WakeSocketSlot(sim.connection);
    CloseSocket(TcpConnect("127.0.0.1", sim.port, 1000)); // gets a waiting accept going
    sim.thread.join();
}

void SetHrdSimScript(HrdSim& sim, const HrdSimScript& script) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    sim.script = script;
}

std::vector<std::wstring> HrdSimCommands(HrdSim& sim) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    return sim.commands;
}
