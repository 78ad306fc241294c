#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>

#include "platform/http.h"
#include "platform/text.h"
#include "posting/post_client.h"
#include "posting/post_payload.h"
#include "tools/dashboard_sink/dashboard_sink.h"

#ifdef CORVANE_SINK_TLS
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/support/temp_folder.h"
#include "tools/dashboard_sink/sink_tls.h"
extern char** environ;
#endif
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// A proxy from the environment must not stand between the client and the loopback sink.
const bool noProxy = [] {
#ifdef _WIN32
    return _putenv("NO_PROXY=127.0.0.1,localhost") == 0; // names are case-blind there
#else
    return setenv("NO_PROXY", "127.0.0.1,localhost", 1) == 0 &&
           setenv("no_proxy", "127.0.0.1,localhost", 1) == 0;
#endif
}();

StationSnapshot Sample() {
    StationSnapshot s;
    s.call = L"QQ1ABC/P";
    s.location = L"M\u00FCnchen";
    return s;
}

bool Post(const std::wstring& base, const std::wstring& id = L"id",
          const std::wstring& key = L"key") {
    return PostStationUpdate(Sample(), base, id, key);
}

SinkOptions Behaving(SinkBehaviour behaviour, std::string raw = {}, std::string repeat = {}) {
    SinkOptions options;
    options.behaviour = behaviour;
    options.raw = std::move(raw);
    options.rawRepeat = std::move(repeat);
    return options;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The one request the sink got: the target with its query, our headers, the body as built.
void ExpectOnlyRequest(DashboardSink& sink, const std::string& target, const std::wstring& key) {
    const auto requests = sink.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const SinkRequest& r = requests[0];
    EXPECT_EQ(r.method + " " + r.target + " " + r.version, "POST " + target + " HTTP/1.1");
    EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(sink.port));
    EXPECT_EQ(r.Header("User-Agent"), "Corvane/1.0");
    EXPECT_EQ(r.HeaderCount("Content-Type"), 1);
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.body, BuildPostBody(Sample(), key));
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    for (const char* absent : {"Expect", "Accept", "Transfer-Encoding", "Authorization"})
        EXPECT_EQ(r.HeaderCount(absent), 0) << absent;
}

} // namespace

TEST(PostClient, SendsExactlyTheRequestTheDashboardExpects) {
    // Base URL path, dashboard ID, the target the dashboard sees; credentials in the URL are never
    // sent (the last row).
    const std::tuple<std::wstring, std::wstring, std::string> cases[] = {
        {L"/", L"ABC-123", "/?station_update=ABC-123"},
        {L"/blog/wp//", L"7", "/blog/wp/?station_update=7"},
        {L"", L"my id", "/?station_update=my%20id"},
        {L"", L"DASH1&api_key=X&freq=0", "/?station_update=DASH1%26api_key%3DX%26freq%3D0"},
        {L"@", L"id", "/?station_update=id"},
    };
    for (const auto& [path, id, target] : cases) {
        DashboardSink sink;
        ASSERT_TRUE(sink.Start(SinkOptions()));
        std::wstring base = sink.BaseUrl();
        if (path == L"@")
            base.insert(base.find(L"//") + 2, L"op:secret@");
        else
            base += path;
        EXPECT_TRUE(Post(base, id, L"key/+1"));
        ExpectOnlyRequest(sink, target, L"key/+1");
    }
}

TEST(PostClient, Only2xxIsDeliveredAndOnly307And308AreFollowed) {
    for (const int status : {200, 201, 204, 301, 302, 303, 400, 401, 404, 500, 503}) {
        SinkOptions options;
        options.status = status;
        DashboardSink sink;
        ASSERT_TRUE(sink.Start(options));
        EXPECT_EQ(Post(sink.BaseUrl()), status < 300) << status;
        EXPECT_EQ(sink.Connections(), 1) << status; // a followed Location would be a second
    }
    for (const int status : {307, 308}) {
        DashboardSink target, moved, loop;
        ASSERT_TRUE(target.Start(SinkOptions()));
        SinkOptions options;
        options.status = status;
        options.location = WideToUtf8(target.BaseUrl()) + "/?station_update=id";
        ASSERT_TRUE(moved.Start(options));
        EXPECT_TRUE(Post(moved.BaseUrl())) << status;
        ExpectOnlyRequest(target, "/?station_update=id", L"key"); // the same POST, elsewhere
        // A Location of its own, then a plain answer; a loop ends after five hops.
        options.location = "/again?x=1";
        options.onRequest = [&loop](const SinkRequest&) { loop.SetOptions(SinkOptions()); };
        ASSERT_TRUE(loop.Start(options));
        EXPECT_TRUE(Post(loop.BaseUrl()));
        ASSERT_EQ(loop.Requests().size(), 2u);
        EXPECT_EQ(loop.Requests()[1].target, "/again?x=1");
        EXPECT_EQ(loop.Requests()[1].body, loop.Requests()[0].body);
        options.onRequest = nullptr;
        options.location = "again";
        ASSERT_TRUE(loop.Start(options));
        EXPECT_FALSE(Post(loop.BaseUrl() + L"/wp/"));
        EXPECT_EQ(loop.Connections(), 6);
        EXPECT_EQ(loop.Requests().back().target, "/wp/again");
    }
}

TEST(PostClient, EmptyOrUnusableSettingsFailWithoutTraffic) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    const std::wstring base = sink.BaseUrl();
    const std::wstring hostPort = L"127.0.0.1:" + std::to_wstring(sink.port);
    const auto start = Clock::now();
    EXPECT_FALSE(Post(base, L"", L"key"));
    EXPECT_FALSE(Post(base, L"id", L""));
    const std::wstring longHost = L"http://" + std::wstring(300, L'h');
    for (const std::wstring& bad : {std::wstring(), hostPort, L"ftp://" + hostPort, longHost,
                                    base + L"/" + std::wstring(1100, L'p'), std::wstring(L"///")})
        EXPECT_FALSE(Post(bad)) << WideToUtf8(bad.substr(0, 30));
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(sink.Connections(), 0);
}

// Whatever a server sends back, the post ends in bounded time as delivered or failed. Where HTTP
// leaves room (a head cut short, an unasked-for interim answer) either verdict will do.
TEST(PostClient, AnyAnswerIsDeliveredOrFailedInBoundedTime) {
    using B = SinkBehaviour;
    const std::string ok = "HTTP/1.1 200 OK\r\n", interim = "HTTP/1.1 100 Continue\r\n\r\n";
    const std::string hugeBody = ok + "Content-Length: 1000000000\r\n\r\n";
    SinkOptions slow;
    slow.delayMs = 600;
    // Verdicts: D(elivered), F(ailed) or ? for either.
    const std::tuple<std::string, SinkOptions, char> cases[] = {
        {"slow 200", slow, 'D'},
        {"refused", SinkOptions(), 'F'},
        {"silence", Behaving(B::NeverAnswer), 'F'},
        {"close", Behaving(B::CloseWithoutAnswer), 'F'},
        {"reset", Behaving(B::Reset), 'F'},
        {"garbage", Behaving(B::Raw, "\x01\x02garbage\r\n\r\n\xFF"), 'F'},
        {"half status line", Behaving(B::Raw, "HTTP/1.1 20"), 'F'},
        {"half headers", Behaving(B::Raw, ok + "Content-Le"), '?'},
        {"short body", Behaving(B::Raw, ok + "Content-Length: 9\r\n\r\nab"), 'D'},
        {"interim then nothing", Behaving(B::Raw, interim), '?'},
        {"interim then 403", Behaving(B::Raw, interim + "HTTP/1.1 403 No\r\n\r\n"), 'F'},
        {"endless headers", Behaving(B::RawEndless, ok, "X: " + std::string(999, 'x') + "\r\n"),
         'F'},
        {"endless body", Behaving(B::RawEndless, hugeBody, std::string(65536, 'b')), 'D'},
    };
    for (const auto& [name, options, verdict] : cases) {
#ifdef _WIN32
        // Wine's WinHTTP reads headers without limit; Windows stops at 64 KB.
        if (name == "endless headers" &&
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            continue;
#endif
        DashboardSink sink;
        ASSERT_TRUE(sink.Start(options));
        if (name == "refused")
            sink.Stop(); // a port that was free a moment ago and has no listener now
        const auto start = Clock::now();
        const bool delivered = Post(sink.BaseUrl());
        if (verdict != '?') {
            EXPECT_EQ(delivered, verdict == 'D') << name;
        }
        EXPECT_LT(SecondsSince(start), 10.0) << name;
        if (name == "silence") { // the receive time-out, after the whole request
            EXPECT_GT(SecondsSince(start), 1.5);
        }
    }
}

#ifdef CORVANE_SINK_TLS
TEST(PostClientTls, OnlyACertificateFromATrustedCaCarriesTheRequest) {
    TestPki pki;
    ASSERT_TRUE(MakeTestPki(pki));
    using Tls = std::unique_ptr<SinkTls, void (*)(SinkTls*)>;
    const Tls trusted(NewSinkTls(pki.serverCertPem, pki.serverKeyPem), FreeSinkTls);
    const Tls selfSigned(NewSinkTls(pki.selfSignedCertPem, pki.selfSignedKeyPem), FreeSinkTls);
    ASSERT_TRUE(trusted && selfSigned);
    DashboardSink good, stranger, plain;
    ASSERT_TRUE(good.Start(SinkOptions(), 0, trusted.get()));
    ASSERT_TRUE(stranger.Start(SinkOptions(), 0, selfSigned.get()));
    ASSERT_TRUE(plain.Start(SinkOptions()));
    ASSERT_EQ(good.BaseUrl().rfind(L"https://", 0), 0u);

    SetHttpTrustedCertificates(pki.caCertPem);
    EXPECT_TRUE(Post(good.BaseUrl(), L"ABC"));
    ExpectOnlyRequest(good, "/?station_update=ABC", L"key");
    EXPECT_FALSE(Post(stranger.BaseUrl()));
    EXPECT_EQ(stranger.Connections(), 1);
    EXPECT_TRUE(stranger.Requests().empty());
    EXPECT_FALSE(Post(L"https://127.0.0.1:" + std::to_wstring(plain.port)));
    // A redirect from TLS to plain text is not followed: the form carries the key.
    SinkOptions downgrade;
    downgrade.status = 307;
    downgrade.location = WideToUtf8(plain.BaseUrl());
    good.SetOptions(downgrade);
    EXPECT_FALSE(Post(good.BaseUrl()));
    EXPECT_EQ(plain.Connections(), 1);
    EXPECT_TRUE(plain.Requests().empty());

    // With only the system's store to go by, the test CA's server is a stranger too.
    SetHttpTrustedCertificates("");
    EXPECT_FALSE(Post(good.BaseUrl(), L"ABC"));
    EXPECT_EQ(good.Requests().size(), 2u);
}

namespace {

// A real proxy (Debian's tinyproxy) on a free loopback port, in the foreground, for one test.
struct Tinyproxy {
    bool Start(int tunnelPort) {
        const SocketHandle probe = TcpListen("127.0.0.1", 0);
        port = LocalPort(probe);
        CloseSocket(probe);
        const std::string config = WideToUtf8(folder.File(L"tinyproxy.conf"));
        const std::string log = WideToUtf8(folder.File(L"tinyproxy.log"));
        std::ofstream(config) << "Port " << port << "\nListen 127.0.0.1\nAllow 127.0.0.1\n"
                              << "Timeout 10\nLogLevel Info\nConnectPort " << tunnelPort << "\n";
        const char* argv[] = {"tinyproxy", "-d", "-c", config.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int spawned =
            posix_spawnp(&pid, "tinyproxy", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return false;
        for (const auto start = Clock::now(); SecondsSince(start) < 10;) {
            const SocketHandle ready = TcpConnect("127.0.0.1", port, 200);
            CloseSocket(ready);
            if (ready != kInvalidSocket)
                return true;
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                break; // it gave up: the log in the folder says why
        }
        return false;
    }
    void Stop() {
        if (pid > 0 && kill(pid, SIGTERM) == 0)
            waitpid(pid, nullptr, 0);
        pid = 0;
    }
    ~Tinyproxy() { Stop(); }

    TempFolder folder;
    pid_t pid = -1;
    int port = 0;
};

} // namespace

TEST(PostClientTls, PlainAndTlsPostsGoThroughTheSystemsProxy) {
    TestPki pki;
    ASSERT_TRUE(MakeTestPki(pki));
    const std::unique_ptr<SinkTls, void (*)(SinkTls*)> tls(
        NewSinkTls(pki.serverCertPem, pki.serverKeyPem), FreeSinkTls);
    ASSERT_TRUE(tls);
    DashboardSink plain, secure;
    ASSERT_TRUE(plain.Start(SinkOptions()));
    ASSERT_TRUE(secure.Start(SinkOptions(), 0, tls.get()));
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start(secure.port)) << "tinyproxy (Debian package tinyproxy) must run here";
    // The variables as a user sets them, and no exception for loopback.
    const std::string via = "http://127.0.0.1:" + std::to_string(proxy.port);
    setenv("http_proxy", via.c_str(), 1);
    setenv("https_proxy", via.c_str(), 1);
    unsetenv("NO_PROXY");
    unsetenv("no_proxy");
    SetHttpTrustedCertificates(pki.caCertPem);

    EXPECT_TRUE(Post(plain.BaseUrl()));
    const auto forwarded = plain.Requests();
    EXPECT_TRUE(forwarded.size() == 1 &&
                forwarded[0].Header("Via").find("tinyproxy") != std::string::npos);
    EXPECT_TRUE(Post(secure.BaseUrl(), L"ABC"));
    ExpectOnlyRequest(secure, "/?station_update=ABC", L"key");
    proxy.Stop(); // the only road to the dashboards is gone
    EXPECT_FALSE(Post(secure.BaseUrl(), L"ABC"));
    EXPECT_EQ(secure.Connections(), 1);

    SetHttpTrustedCertificates("");
    unsetenv("http_proxy");
    unsetenv("https_proxy");
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    setenv("no_proxy", "127.0.0.1,localhost", 1);
}
#endif
