#include "tools/hrd_sim/hrd_sim.h"

#include <cstdint>

#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"

namespace {

std::string LengthField(std::uint32_t length) {
    std::string field;
    for (int shift = 0; shift < 32; shift += 8)
        field += static_cast<char>((length >> shift) & 0xFF);
    return field;
}

bool SameCommand(const std::wstring& a, const wchar_t* b) {
    const std::wstring other(b);
    if (a.size() != other.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = other[i];
        if (x >= L'A' && x <= L'Z')
            x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z')
            y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y)
            return false;
    }
    return true;
}

std::wstring WithoutContextPrefix(const std::wstring& command) {
    if (command.empty() || command[0] != L'[')
        return command;
    const std::size_t close = command.find(L"] ");
    return close == std::wstring::npos ? command : command.substr(close + 2);
}

// The peer's socket is used only while it is still in the slot: once someone closed it, its
// number may already belong to another socket of this process.
bool Current(HrdSim& sim, SocketHandle socket) {
    return sim.running.load() && sim.connection.load() == socket;
}

bool ReceiveAll(HrdSim& sim, SocketHandle socket, char* buffer, std::size_t count) {
    std::size_t received = 0;
    while (received < count) {
        if (!Current(sim, socket))
            return false;
        const int n = SocketReceive(socket, buffer + received, static_cast<int>(count - received));
        if (n <= 0)
            return false;
        received += static_cast<std::size_t>(n);
    }
    return true;
}

// One request frame; a malformed one ends the connection, as HRD would.
bool ReadRequest(HrdSim& sim, SocketHandle socket, HrdSimCommand& command) {
    char field[4];
    if (!ReceiveAll(sim, socket, field, sizeof field))
        return false;
    const std::uint32_t length = std::uint32_t(static_cast<unsigned char>(field[0])) |
                                 std::uint32_t(static_cast<unsigned char>(field[1])) << 8 |
                                 std::uint32_t(static_cast<unsigned char>(field[2])) << 16 |
                                 std::uint32_t(static_cast<unsigned char>(field[3])) << 24;
    if (length < kHrdHeaderSize || length > kHrdMaxFrameSize)
        return false;
    std::string rest(length - 4, '\0');
    if (!ReceiveAll(sim, socket, &rest[0], rest.size()))
        return false;
    command.frame = std::string(field, sizeof field) + rest;
    command.text = Utf16LeToWide(rest.data() + 12, rest.size() - 12);
    while (!command.text.empty() && command.text.back() == L'\0')
        command.text.pop_back();
    return true;
}

bool SendReply(HrdSim& sim, SocketHandle socket, const std::string& bytes, bool oneByteAtATime) {
    if (!oneByteAtATime)
        return Current(sim, socket) &&
               SocketSend(socket, bytes.data(), static_cast<int>(bytes.size())) ==
                   static_cast<int>(bytes.size());
    for (char byte : bytes) {
        if (!Current(sim, socket) || SocketSend(socket, &byte, 1) != 1)
            return false;
        // Give the reader time to take each byte in its own receive.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::wstring ReplyFor(const HrdSimScript& script, const std::wstring& command) {
    if (SameCommand(command, kHrdGetId))
        return script.idReply;
    if (SameCommand(command, kHrdGetContext))
        return script.contextReply;
    if (SameCommand(command, kHrdGetRadio))
        return script.radioReply;
    if (SameCommand(command, kHrdGetFrequency))
        return script.frequencyReply;
    if (SameCommand(command, kHrdGetMode))
        return script.modeReply;
    if (SameCommand(command, kHrdGetDropdownMode))
        return script.dropdownModeReply;
    return script.unknownReply;
}

void Serve(HrdSim& sim, SocketHandle socket, int connectionNumber) {
    int polls = 0;
    int faultMatches = 0;
    while (true) {
        HrdSimCommand command;
        if (!ReadRequest(sim, socket, command))
            return;
        command.connection = connectionNumber;
        command.received = std::chrono::steady_clock::now();
        HrdSimScript script;
        {
            std::lock_guard<std::mutex> lock(sim.mutex);
            sim.commands.push_back(command);
            script = sim.script;
        }
        sim.changed.notify_all();

        const std::wstring bare = WithoutContextPrefix(command.text);
        if (SameCommand(bare, kHrdGetFrequency)) {
            if (script.dropAfterPolls > 0 && polls >= script.dropAfterPolls)
                return;
            ++polls;
        }
        std::wstring text = ReplyFor(script, bare);
        if (script.trailingNuls > 0)
            text.append(static_cast<std::size_t>(script.trailingNuls), L'\0');
        std::string reply = BuildHrdFrame(text);

        const bool faulty = script.fault != HrdSimNoFault &&
                            (script.faultCommand.empty() ||
                             command.text.find(script.faultCommand) != std::wstring::npos) &&
                            faultMatches++ >= script.faultAfter;
        if (faulty) {
            switch (script.fault) {
            case HrdSimSilent:
                continue;
            case HrdSimCloseAfterLength:
                SendReply(sim, socket, reply.substr(0, 4), script.oneBytePerSend);
                return;
            case HrdSimShortLength:
                reply = LengthField(kHrdHeaderSize - 1) + reply;
                break;
            case HrdSimHugeLength:
                reply = LengthField(kHrdMaxFrameSize + 1) + reply;
                break;
            case HrdSimUnsolicited:
                reply += BuildHrdFrame(L"7074000"); // in one send, so it is there at once
                break;
            case HrdSimNoFault:
                break;
            }
        }
        if (!SendReply(sim, socket, reply, script.oneBytePerSend))
            return;
    }
}

// Only this thread closes the listener, so accept never runs on a handle closed under it.
void ServeLoop(HrdSim* simulator) {
    HrdSim& sim = *simulator;
    while (sim.running.load()) {
        bool refusing;
        {
            std::lock_guard<std::mutex> lock(sim.mutex);
            refusing = sim.refusing;
        }
        if (refusing) {
            std::unique_lock<std::mutex> lock(sim.mutex);
            if (sim.listener.load() != kInvalidSocket) {
                CloseSocketSlot(sim.listener);
                sim.changed.notify_all();
            }
            sim.changed.wait_for(lock, std::chrono::milliseconds(100),
                                 [&] { return !sim.refusing || !sim.running.load(); });
            continue;
        }
        const SocketHandle listener = sim.listener.load();
        if (listener == kInvalidSocket) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const SocketHandle socket = TcpAccept(listener);
        if (socket == kInvalidSocket)
            continue;
        int number;
        {
            std::lock_guard<std::mutex> lock(sim.mutex);
            if (!sim.running.load() || sim.refusing) {
                CloseSocket(socket); // the wake-up call, or a late caller
                continue;
            }
            number = ++sim.connections;
            sim.connection.store(socket);
        }
        sim.changed.notify_all();
        Serve(sim, socket, number);
        std::lock_guard<std::mutex> lock(sim.mutex);
        CloseSocketSlot(sim.connection);
    }
    CloseSocketSlot(sim.listener);
}

// Gets the serving thread out of a receive on the connection; only that thread closes it, so the
// wake-up never meets a descriptor that is already closed.
void WakeConnection(HrdSim& sim) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    WakeSocket(sim.connection.load());
}

// Gets the serving thread out of a blocking accept.
void WakeAccept(HrdSim& sim) {
    const std::string address = sim.address == "0.0.0.0" ? "127.0.0.1" : sim.address;
    CloseSocket(TcpConnect(address, sim.port, 1000));
}

} // namespace

HrdSim::~HrdSim() {
    StopHrdSim(*this);
}

bool StartHrdSim(HrdSim& sim, const HrdSimScript& script, int port, bool refusing,
                 const std::string& address) {
    StopHrdSim(sim);
    const SocketHandle listener = TcpListen(address, port);
    if (listener == kInvalidSocket)
        return false;
    {
        std::lock_guard<std::mutex> lock(sim.mutex);
        sim.script = script;
        sim.commands.clear();
        sim.connections = 0;
        sim.refusing = refusing;
        sim.address = address;
        sim.port = LocalPort(listener);
    }
    sim.listener.store(listener);
    sim.running.store(true);
    sim.thread = std::thread(ServeLoop, &sim);
    if (refusing)
        SetHrdSimRefusing(sim, true);
    return true;
}

void StopHrdSim(HrdSim& sim) {
    if (!sim.running.exchange(false))
        return;
    WakeConnection(sim);
    sim.changed.notify_all();
    WakeAccept(sim);
    sim.thread.join();
}

void SetHrdSimScript(HrdSim& sim, const HrdSimScript& script) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    sim.script = script;
}

bool SetHrdSimRefusing(HrdSim& sim, bool refusing) {
    if (!refusing) {
        {
            std::lock_guard<std::mutex> lock(sim.mutex);
            if (!sim.refusing)
                return true;
            if (sim.listener.load() == kInvalidSocket) {
                const SocketHandle listener = TcpListen(sim.address, sim.port);
                if (listener == kInvalidSocket)
                    return false;
                sim.listener.store(listener);
            }
            sim.refusing = false;
        }
        sim.changed.notify_all();
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(sim.mutex);
        sim.refusing = true;
    }
    WakeConnection(sim);
    WakeAccept(sim);
    // Refused from the moment this returns: the serving thread has let the port go.
    std::unique_lock<std::mutex> lock(sim.mutex);
    return sim.changed.wait_for(lock, std::chrono::seconds(5), [&] {
        return sim.listener.load() == kInvalidSocket || !sim.running.load();
    });
}

void DropHrdSimConnection(HrdSim& sim) {
    WakeConnection(sim);
}

std::vector<HrdSimCommand> HrdSimCommands(HrdSim& sim) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    return sim.commands;
}

int HrdSimConnections(HrdSim& sim) {
    std::lock_guard<std::mutex> lock(sim.mutex);
    return sim.connections;
}

bool WaitForHrdSim(HrdSim& sim, const std::function<bool(const std::vector<HrdSimCommand>&)>& done,
                   std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(sim.mutex);
    return sim.changed.wait_for(lock, limit, [&] { return done(sim.commands); });
}

int CountHrdSimCommands(const std::vector<HrdSimCommand>& commands, const std::wstring& command,
                        int connection) {
    int count = 0;
    for (const HrdSimCommand& received : commands)
        if ((connection == 0 || received.connection == connection) &&
            WithoutContextPrefix(received.text) == command)
            ++count;
    return count;
}
