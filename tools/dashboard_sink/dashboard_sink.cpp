#include "tools/dashboard_sink/dashboard_sink.h"

#include <cstdlib>
#include <sstream>

#include "platform/text.h"

#ifdef CORVANE_SINK_TLS
#include <httplib.h>
#endif

namespace {

// The head up to the blank line, then as many body bytes as Content-Length says.
bool ReadRequest(SocketHandle socket, SinkRequest& request) {
    std::string data;
    char buffer[8192];
    std::size_t end = std::string::npos;
    while (end == std::string::npos ||
           data.size() < end + 4 + std::strtoul(request.Header("Content-Length").c_str(), 0, 10)) {
        const int n = SocketReceive(socket, buffer, sizeof buffer);
        if (n <= 0 || data.size() > (1u << 20))
            return false;
        data.append(buffer, static_cast<std::size_t>(n));
        if ((end = data.find("\r\n\r\n")) != std::string::npos)
            request.head = data.substr(0, end + 2);
    }
    std::istringstream(data) >> request.method >> request.target >> request.version;
    request.body = data.substr(end + 4);
    return true;
}

void Record(DashboardSink& sink, const SinkRequest& request) {
    if (sink.options.onRequest)
        sink.options.onRequest(request);
    std::lock_guard<std::mutex> lock(sink.mutex);
    sink.requests.push_back(request);
    sink.changed.notify_all();
}

// Waits up to waitMs for a stop.
bool Stopping(DashboardSink& sink, int waitMs) {
    std::unique_lock<std::mutex> lock(sink.mutex);
    return sink.changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                                 [&] { return sink.stopping; });
}

// One connection: the request recorded, then the answer as the options say.
void Serve(DashboardSink& sink, SocketHandle socket) {
    const SinkOptions& o = sink.options;
    const auto sendAll = [socket](const std::string& data) {
        return SocketSend(socket, data.data(), static_cast<int>(data.size())) == int(data.size());
    };
    SinkRequest request;
    char first;
    SetReceiveTimeout(socket, 5000);
    if (o.reset) // closed with the rest of the request unread, the stack sends a reset
        return (void)SocketReceive(socket, &first, 1);
    if (!ReadRequest(socket, request))
        return;
    Record(sink, request);
    const int status = o.thenStatus && sink.Requests().size() > 1 ? o.thenStatus : o.status;
    const std::string answer = "HTTP/1.1 " + std::to_string(status) +
                               " Sink\r\nLocation: " + o.location +
                               "\r\nContent-Length: 2\r\n\r\nok";
    if (Stopping(sink, o.delayMs) || !sendAll(o.raw.empty() && o.status ? answer : o.raw))
        return;
    while (!o.repeat.empty() && !Stopping(sink, o.repeatPauseMs) && sendAll(o.repeat)) {
    }
}

} // namespace

std::string SinkRequest::Header(const std::string& name) const {
    const std::size_t at = head.find("\r\n" + name + ": "), from = at + name.size() + 4;
    return at == std::string::npos ? "" : head.substr(from, head.find('\r', from) - from);
}

bool DashboardSink::Start(const SinkOptions& startOptions, int wantedPort, bool tls) {
    Stop();
    options = startOptions;
    requests.clear();
    stopping = false;
#ifdef CORVANE_SINK_TLS
    if (tls) {
        tlsServer = std::make_shared<httplib::SSLServer>(CORVANE_TEST_PKI "/server.pem",
                                                         CORVANE_TEST_PKI "/server.key");
        tlsServer->Post(".*", [this](const httplib::Request& in, httplib::Response& out) {
            SinkRequest request{in.method, in.target, in.version,
                                in.method + " " + in.target + " " + in.version + "\r\n", in.body};
            for (const auto& [name, value] : in.headers)
                request.head += name + ": " + value + "\r\n";
            Record(*this, request);
            out.status = options.status;
            out.set_header("Location", options.location);
        });
        if ((port = tlsServer->bind_to_any_port("127.0.0.1")) <= 0)
            return false;
        thread = std::thread([this] { tlsServer->listen_after_bind(); });
        while (!tlsServer->is_running()) // a stop before this would be lost
            std::this_thread::yield();
        return true;
    }
#endif
    const bool started =
        !tls && peer.Start(
                    wantedPort, [this](SocketHandle s) { Serve(*this, s); }, options.address);
    port = peer.port;
    return started;
}

void DashboardSink::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    peer.Stop();
#ifdef CORVANE_SINK_TLS
    if (tlsServer)
        tlsServer->stop();
#endif
    if (thread.joinable())
        thread.join();
    tlsServer.reset();
}

std::wstring DashboardSink::BaseUrl() const {
    return (tlsServer ? L"https://" : L"http://") + Utf8ToWide(options.address) + L":" +
           std::to_wstring(port);
}

std::vector<SinkRequest> DashboardSink::Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

bool DashboardSink::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return requests.size() >= count; });
}
