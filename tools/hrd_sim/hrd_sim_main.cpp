// hrd_sim: the HRD stand-in as a program, to point Corvane's HRD page at by hand.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/net_peers.h"
#include "platform/text.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

void PrintUsage() {
    std::printf(
        "usage: hrd_sim [options]\n"
        "  --listen ADDRESS        IPv4 address to listen on (127.0.0.1)\n"
        "  --port N                port (7809; 0 picks a free one)\n"
        "  --id TEXT --context TEXT --radio TEXT --frequency TEXT --mode TEXT --dropdown TEXT\n"
        "                          replies to Get ID, Get Context, Get Radio, get frequency,\n"
        "                          get mode (empty: empty reply) and the mode dropdown\n"
        "  --fault KIND            silent | close-after-length | short-length | huge-length |\n"
        "                          unsolicited\n"
        "  --fault-command TEXT    only commands containing TEXT misbehave (default: all)\n"
        "  --fault-after N         answer N matching commands per connection normally first\n"
        "  --one-byte              send replies one byte per send\n"
        "  --trailing-nuls N       N extra NUL units after every reply\n"
        "  --drop-after N          close each connection when poll N + 1 asks\n"
        "  --refuse                take the port but refuse connections\n"
        "  --seconds N             stop after N seconds (default: run until killed)\n"
        "  --quiet                 do not print the commands received\n");
}

bool ParseFault(const std::string& text, HrdSimFault& fault) {
    if (text == "silent")
        fault = HrdSimSilent;
    else if (text == "close-after-length")
        fault = HrdSimCloseAfterLength;
    else if (text == "short-length")
        fault = HrdSimShortLength;
    else if (text == "huge-length")
        fault = HrdSimHugeLength;
    else if (text == "unsolicited")
        fault = HrdSimUnsolicited;
    else if (text == "none")
        fault = HrdSimNoFault;
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    HrdSimScript script;
    std::string address = "127.0.0.1";
    int port = 7809;
    bool refuse = false;
    bool quiet = false;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : std::string();
        const std::wstring wide = Utf8ToWide(value);
        auto number = [&] { return std::atoi(value.c_str()); };
        bool usedValue = true;
        if (option == "--one-byte") {
            script.oneBytePerSend = true;
            usedValue = false;
        } else if (option == "--refuse") {
            refuse = true;
            usedValue = false;
        } else if (option == "--quiet") {
            quiet = true;
            usedValue = false;
        } else if (option == "--help" || option == "-h") {
            PrintUsage();
            return 0;
        } else if (option.rfind("--", 0) != 0 || !hasValue) {
            std::fprintf(stderr, "hrd_sim: %s is unknown or needs a value\n", option.c_str());
            PrintUsage();
            return 2;
        } else if (option == "--listen") {
            address = value;
        } else if (option == "--port") {
            port = number();
        } else if (option == "--id") {
            script.idReply = wide;
        } else if (option == "--context") {
            script.contextReply = wide;
        } else if (option == "--radio") {
            script.radioReply = wide;
        } else if (option == "--frequency") {
            script.frequencyReply = wide;
        } else if (option == "--mode") {
            script.modeReply = wide;
        } else if (option == "--dropdown") {
            script.dropdownModeReply = wide;
        } else if (option == "--fault") {
            if (!ParseFault(value, script.fault)) {
                std::fprintf(stderr, "hrd_sim: unknown fault %s\n", value.c_str());
                return 2;
            }
        } else if (option == "--fault-command") {
            script.faultCommand = wide;
        } else if (option == "--fault-after") {
            script.faultAfter = number();
        } else if (option == "--trailing-nuls") {
            script.trailingNuls = number();
        } else if (option == "--drop-after") {
            script.dropAfterPolls = number();
        } else if (option == "--seconds") {
            seconds = std::atol(value.c_str());
        } else {
            std::fprintf(stderr, "hrd_sim: unknown option %s\n", option.c_str());
            PrintUsage();
            return 2;
        }
        if (usedValue)
            ++i;
    }

    NetStartup();
    HrdSim sim;
    if (!StartHrdSim(sim, script, port, refuse, address)) {
        std::fprintf(stderr, "hrd_sim: cannot listen on %s:%d\n", address.c_str(), port);
        NetCleanup();
        return 1;
    }
    std::printf("hrd_sim on %s:%d%s\n", address.c_str(), sim.port, refuse ? " (refusing)" : "");
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::size_t printed = 0;
    while (seconds <= 0 || std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (quiet)
            continue;
        const std::vector<HrdSimCommand> commands = HrdSimCommands(sim);
        for (; printed < commands.size(); ++printed)
            std::printf("#%d %s\n", commands[printed].connection,
                        WideToUtf8(commands[printed].text).c_str());
        std::fflush(stdout);
    }
    StopHrdSim(sim);
    NetCleanup();
    return 0;
}
