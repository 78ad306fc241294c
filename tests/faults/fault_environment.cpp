// Before the first test counts descriptors and threads: everything that sets itself up once per
// process (the HTTP library, TLS, the resolver, the test framework) has done so, and no proxy
// stands in the way of the loopback peers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/http.h"
#include "tests/faults/fault_support.h"
#include "tools/dashboard_sink/dashboard_sink.h"

#ifdef CORVANE_SINK_TLS
#include "tools/dashboard_sink/sink_tls.h"
#endif

namespace {

struct FaultSuiteEnvironment : testing::Environment {
    void SetUp() override {
#ifdef _WIN32
        _putenv("NO_PROXY=127.0.0.1,localhost");
        _putenv("no_proxy=127.0.0.1,localhost");
#else
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        setenv("no_proxy", "127.0.0.1,localhost", 1);
#endif
        {
            // GoogleTest on Windows starts a thread of its own the first time a trace is used.
            SCOPED_TRACE("warm-up");
        }
        DashboardSink sink;
        if (sink.Start(SinkOptions()))
            HttpPostForm(sink.BaseUrl() + L"/?station_update=warm-up", "a=b");
#ifdef CORVANE_SINK_TLS
        TestPki pki;
        if (MakeTestPki(pki)) {
            SinkTls* tls = NewSinkTls(pki.serverCertPem, pki.serverKeyPem);
            {
                DashboardSink secure;
                if (tls && secure.Start(SinkOptions(), 0, tls)) {
                    SetHttpTrustedCertificates(pki.caCertPem);
                    HttpPostForm(secure.BaseUrl() + L"/?station_update=warm-up", "a=b");
                    SetHttpTrustedCertificates("");
                    HttpPostForm(secure.BaseUrl() + L"/?station_update=warm-up", "a=b");
                }
            }
            FreeSinkTls(tls);
        }
#endif
        ReportFigure("scale of the counts: " + std::to_string(FaultScale()));
    }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new FaultSuiteEnvironment);

} // namespace
