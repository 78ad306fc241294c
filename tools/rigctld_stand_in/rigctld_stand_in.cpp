#include "tools/rigctld_stand_in/rigctld_stand_in.h"

#include <chrono>

#include "platform/net.h"

namespace {

void Answer(SocketHandle socket, const std::string& reply) {
    std::size_t start = 0;
    for (std::size_t bar; (bar = reply.find('|', start)) != std::string::npos; start = bar + 1) {
        SocketSend(socket, reply.data() + start, static_cast<int>(bar - start));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    SocketSend(socket, reply.data() + start, static_cast<int>(reply.size() - start));
}

void Serve(RigctldStandIn& standIn, SocketHandle socket) {
    std::string pending;
    char buffer[1024];
    for (int n; (n = SocketReceive(socket, buffer, sizeof buffer)) > 0;) {
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::unique_lock<std::mutex> lock(standIn.mutex);
            standIn.commands.push_back(command);
            const auto found = standIn.script.find(command);
            const std::string reply = found == standIn.script.end() ? "" : found->second;
            lock.unlock();
            Answer(socket, reply); // nothing at all for a command not in the script
        }
    }
}

} // namespace

RigctldScript DummyRigctldScript() {
    return {{"\\dump_caps", "Caps dump for model: 1\nModel name:\tDummy\nMfg name:\tHamlib\n"
                            "Can get Mode:\tY\n\nOverall backend warnings: 0   \nRPRT 0\n"},
            {"f", "14074000\n"},
            {"m", "USB\n2400\n"}};
}

bool StartRigctldStandIn(RigctldStandIn& standIn, const RigctldScript& script) {
    standIn.script = script;
    return standIn.peer.Start(0, [&standIn](SocketHandle socket) { Serve(standIn, socket); });
}

std::vector<std::string> RigctldStandInCommands(RigctldStandIn& standIn) {
    std::lock_guard<std::mutex> lock(standIn.mutex);
    return standIn.commands;
}
