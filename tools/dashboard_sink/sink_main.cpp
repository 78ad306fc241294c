// The dashboard sink on its own: listens on 127.0.0.1 and prints every request it records, until
// its standard input ends.
//   dashboard_sink [--port N] [--status N] [--delay-ms N] [--close | --never | --reset]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>

#include "tools/dashboard_sink/dashboard_sink.h"

int main(int argc, char** argv) {
    SinkOptions options;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue)
            port = std::atoi(argv[++i]);
        else if (arg == "--status" && hasValue)
            options.status = std::atoi(argv[++i]);
        else if (arg == "--delay-ms" && hasValue)
            options.delayMs = std::atoi(argv[++i]);
        else if (arg == "--close")
            options.behaviour = SinkBehaviour::CloseWithoutAnswer;
        else if (arg == "--never")
            options.behaviour = SinkBehaviour::NeverAnswer;
        else if (arg == "--reset")
            options.behaviour = SinkBehaviour::Reset;
        else {
            std::fprintf(stderr, "usage: dashboard_sink [--port N] [--status N] [--delay-ms N] "
                                 "[--close | --never | --reset]\n");
            return 2;
        }
    }
    static std::mutex printing;
    options.onRequest = [](const SinkRequest& request) {
        std::lock_guard<std::mutex> lock(printing);
        std::printf("%s %s %s\n", request.method.c_str(), request.target.c_str(),
                    request.version.c_str());
        for (const auto& header : request.headers)
            std::printf("%s: %s\n", header.first.c_str(), header.second.c_str());
        std::printf("\n%s\n\n", request.body.c_str());
        std::fflush(stdout);
    };
    NetStartup();
    DashboardSink sink;
    if (!sink.Start(options, port)) {
        std::fprintf(stderr, "dashboard_sink: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", sink.port);
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    sink.Stop();
    NetCleanup();
    return 0;
}
