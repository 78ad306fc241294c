#pragma once
// HTTPS for the dashboard sink, with certificates made on the spot (POSIX with OpenSSL only).
#include <string>

#include "platform/net_peers.h"

// A test CA, a server certificate for 127.0.0.1 and localhost signed by it, and a self-signed
// certificate for the same names that nobody trusts. All PEM.
struct TestPki {
    std::string caCertPem;
    std::string serverCertPem;
    std::string serverKeyPem;
    std::string selfSignedCertPem;
    std::string selfSignedKeyPem;
};
bool MakeTestPki(TestPki& pki);

struct SinkTls;
SinkTls* NewSinkTls(const std::string& certPem, const std::string& keyPem);
void FreeSinkTls(SinkTls* tls);

// One connection's TLS session: nullptr when the handshake fails.
void* SinkTlsAccept(SinkTls* tls, SocketHandle socket);
int SinkTlsRead(void* session, char* buffer, int length);
int SinkTlsWrite(void* session, const char* data, int length);
void SinkTlsFree(void* session);
