#include "tools/dashboard_sink/sink_tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <csignal>

struct SinkTls {
    SSL_CTX* context = nullptr;
};

namespace {

EVP_PKEY* NewKey() {
    return EVP_EC_gen("P-256");
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for `commonName` with `key`, signed by `issuerKey` under `issuer` (itself when
// null), valid from a day ago for a year.
X509* NewCertificate(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                     bool authority, long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Corvane tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    bool ok = AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    if (authority) {
        ok = ok && AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && AddExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             AddExtension(cert, signer, NID_key_usage, "critical,digitalSignature") &&
             AddExtension(cert, signer, NID_ext_key_usage, "serverAuth") &&
             AddExtension(cert, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    }
    if (issuer)
        ok = ok && AddExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (!ok || X509_sign(cert, issuerKey, EVP_sha256()) == 0) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

std::string CertPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return pem;
}

std::string KeyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return pem;
}

} // namespace

bool MakeTestPki(TestPki& pki) {
    EVP_PKEY* caKey = NewKey();
    EVP_PKEY* serverKey = NewKey();
    EVP_PKEY* loneKey = NewKey();
    X509* ca = nullptr;
    X509* server = nullptr;
    X509* lone = nullptr;
    if (caKey && serverKey && loneKey) {
        ca = NewCertificate("Corvane test CA", caKey, nullptr, caKey, true, 1);
        if (ca)
            server = NewCertificate("127.0.0.1", serverKey, ca, caKey, false, 2);
        lone = NewCertificate("127.0.0.1", loneKey, nullptr, loneKey, false, 3);
    }
    const bool made = ca && server && lone;
    if (made) {
        pki.caCertPem = CertPem(ca);
        pki.serverCertPem = CertPem(server);
        pki.serverKeyPem = KeyPem(serverKey);
        pki.selfSignedCertPem = CertPem(lone);
        pki.selfSignedKeyPem = KeyPem(loneKey);
    }
    X509_free(lone);
    X509_free(server);
    X509_free(ca);
    EVP_PKEY_free(loneKey);
    EVP_PKEY_free(serverKey);
    EVP_PKEY_free(caKey);
    return made;
}

SinkTls* NewSinkTls(const std::string& certPem, const std::string& keyPem) {
    // OpenSSL writes with write(); a client that hung up must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        return nullptr;
    BIO* certBio = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = cert && key && SSL_CTX_use_certificate(context, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(context, key) == 1 &&
                    SSL_CTX_check_private_key(context) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(keyBio);
    BIO_free(certBio);
    if (!ok) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return new SinkTls{context};
}

void FreeSinkTls(SinkTls* tls) {
    if (!tls)
        return;
    SSL_CTX_free(tls->context);
    delete tls;
}

void* SinkTlsAccept(SinkTls* tls, SocketHandle socket) {
    SSL* session = SSL_new(tls->context);
    if (!session)
        return nullptr;
    if (SSL_set_fd(session, static_cast<int>(socket)) != 1 || SSL_accept(session) != 1) {
        SSL_free(session);
        ERR_clear_error();
        return nullptr;
    }
    return session;
}

int SinkTlsRead(void* session, char* buffer, int length) {
    const int n = SSL_read(static_cast<SSL*>(session), buffer, length);
    if (n <= 0)
        ERR_clear_error();
    return n;
}

int SinkTlsWrite(void* session, const char* data, int length) {
    const int n = SSL_write(static_cast<SSL*>(session), data, length);
    if (n <= 0)
        ERR_clear_error();
    return n;
}

void SinkTlsFree(void* session) {
    SSL_shutdown(static_cast<SSL*>(session));
    SSL_free(static_cast<SSL*>(session));
    ERR_clear_error();
}
