#include "tools/dashboard_sink/dashboard_sink.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#ifdef CORVANE_SINK_TLS
#include "tools/dashboard_sink/sink_tls.h"
#endif

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 4 * 1024 * 1024;
constexpr int kReceiveTimeoutMs = 5000;

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Plain or TLS, the connection code reads and writes through this.
struct Stream {
    SocketHandle socket = kInvalidSocket;
    void* tls = nullptr;

    int Read(char* buffer, int length) {
#ifdef CORVANE_SINK_TLS
        if (tls)
            return SinkTlsRead(tls, buffer, length);
#endif
        return SocketReceive(socket, buffer, length);
    }
    bool WriteAll(const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(data.size() - sent, 65536));
#ifdef CORVANE_SINK_TLS
            const int n = tls ? SinkTlsWrite(tls, data.data() + sent, chunk)
                              : SocketSend(socket, data.data() + sent, chunk);
#else
            const int n = SocketSend(socket, data.data() + sent, chunk);
#endif
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
};

// Reads one request: head up to the blank line, then Content-Length bytes of body.
bool ReadRequest(Stream& stream, SinkRequest& request) {
    std::string data;
    char buffer[8192];
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHead)
            return false;
        const int n = stream.Read(buffer, sizeof buffer);
        if (n <= 0)
            return false;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t lineStart = 0;
    std::size_t contentLength = 0;
    bool first = true;
    while (lineStart < headEnd) {
        std::size_t lineEnd = data.find("\r\n", lineStart);
        const std::string line = data.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (first) {
            first = false;
            const auto a = line.find(' ');
            const auto b = line.rfind(' ');
            if (a == std::string::npos || b == a)
                return false;
            request.method = line.substr(0, a);
            request.target = line.substr(a + 1, b - a - 1);
            request.version = line.substr(b + 1);
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        if (SameNoCase(request.headers.back().first, "Content-Length"))
            contentLength = std::strtoul(request.headers.back().second.c_str(), nullptr, 10);
    }
    if (contentLength > kMaxBody)
        return false;
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < contentLength) {
        const int n = stream.Read(buffer, sizeof buffer);
        if (n <= 0)
            return false;
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    request.body.resize(contentLength);
    return true;
}

} // namespace

int SinkRequest::HeaderCount(const std::string& name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& header) {
        return SameNoCase(header.first, name);
    }));
}

std::string SinkRequest::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (SameNoCase(header.first, name))
            return header.second;
    return std::string();
}

const char* SinkReason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool DashboardSink::Start(const SinkOptions& startOptions, int wantedPort, SinkTls* context) {
    Stop();
    const SocketHandle socket = TcpListen("127.0.0.1", wantedPort);
    if (socket == kInvalidSocket)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        options = startOptions;
        tls = context;
        requests.clear();
        accepted = 0;
    }
    port = LocalPort(socket);
    listener.store(socket);
    stopping.store(false);
    acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void DashboardSink::Stop() {
    if (!acceptThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping.store(true);
    }
    changed.notify_all();
    // A connection of our own wakes the accept on every platform; closing alone does not on all.
    const SocketHandle wake = TcpConnect("127.0.0.1", port, 1000);
    if (wake == kInvalidSocket)
        CloseSocketSlot(listener);
    acceptThread.join();
    CloseSocket(wake);
    CloseSocketSlot(listener);
    // Connections end by themselves: every wait in them is bounded or watches `stopping`. Their
    // sockets stay theirs to close, so no handle is closed under a thread still using it.
    Reap(true);
}

void DashboardSink::SetOptions(const SinkOptions& newOptions) {
    std::lock_guard<std::mutex> lock(mutex);
    options = newOptions;
}

std::wstring DashboardSink::BaseUrl() const {
    return (tls ? L"https://127.0.0.1:" : L"http://127.0.0.1:") + std::to_wstring(port);
}

std::vector<SinkRequest> DashboardSink::Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

int DashboardSink::Connections() {
    std::lock_guard<std::mutex> lock(mutex);
    return accepted;
}

bool DashboardSink::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return requests.size() >= count; });
}

void DashboardSink::Reap(bool all) {
    std::list<Connection> finished;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            auto next = std::next(it);
            if (all || it->done)
                finished.splice(finished.end(), connections, it);
            it = next;
        }
    }
    for (Connection& connection : finished)
        connection.thread.join();
}

void DashboardSink::AcceptLoop() {
    for (;;) {
        const SocketHandle socket = TcpAccept(listener.load());
        if (stopping.load() || socket == kInvalidSocket) {
            CloseSocket(socket);
            if (stopping.load())
                return;
            continue;
        }
        Reap(false);
        std::lock_guard<std::mutex> lock(mutex);
        ++accepted;
        connections.emplace_back();
        Connection& connection = connections.back();
        connection.socket = socket;
        connection.thread = std::thread([this, &connection] { Serve(connection); });
    }
}

void DashboardSink::Serve(Connection& connection) {
    SinkOptions now;
    SinkTls* context;
    {
        std::lock_guard<std::mutex> lock(mutex);
        now = options;
        context = tls;
    }
    Stream stream;
    stream.socket = connection.socket;
    SetReceiveTimeout(stream.socket, kReceiveTimeoutMs);
    bool handshook = true;
#ifdef CORVANE_SINK_TLS
    if (context) {
        stream.tls = SinkTlsAccept(context, stream.socket);
        handshook = stream.tls != nullptr;
    }
#else
    (void)context;
#endif
    if (handshook && now.behaviour == SinkBehaviour::Reset) {
        char first;
        stream.Read(&first, 1);
    } else if (handshook) {
        SinkRequest request;
        if (ReadRequest(stream, request)) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(request);
            }
            changed.notify_all();
            if (now.onRequest)
                now.onRequest(request);
            switch (now.behaviour) {
            case SinkBehaviour::Answer: {
                std::unique_lock<std::mutex> lock(mutex);
                if (now.delayMs > 0 &&
                    changed.wait_for(lock, std::chrono::milliseconds(now.delayMs),
                                     [this] { return stopping.load(); }))
                    break;
                lock.unlock();
                stream.WriteAll("HTTP/1.1 " + std::to_string(now.status) + " " +
                                SinkReason(now.status) +
                                "\r\nContent-Type: text/plain\r\nContent-Length: " +
                                std::to_string(now.body.size()) +
                                (now.status / 100 == 3 ? "\r\nLocation: " + now.location : "") +
                                "\r\nConnection: close\r\n\r\n" + now.body);
                break;
            }
            case SinkBehaviour::NeverAnswer: {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return stopping.load(); });
                break;
            }
            case SinkBehaviour::Raw:
                stream.WriteAll(now.raw);
                break;
            case SinkBehaviour::RawEndless:
                if (stream.WriteAll(now.raw) && !now.rawRepeat.empty())
                    while (!stopping.load() && stream.WriteAll(now.rawRepeat)) {
                    }
                break;
            default:
                break;
            }
        }
    }
#ifdef CORVANE_SINK_TLS
    if (stream.tls)
        SinkTlsFree(stream.tls);
#endif
    CloseSocket(connection.socket);
    std::lock_guard<std::mutex> lock(mutex);
    connection.done = true;
}
