// The library's TLS module: client sessions over OpenSSL 3 behind the C table of TlsApi.h, so that the
// library itself never links libssl and a process loads it only when it uses a TLS target.
#include "TlsApi.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace {

struct Session {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    X509* clientCertificate = nullptr;
    EVP_PKEY* clientKey = nullptr;
    bool clientCertificateSent = false;
    bool closeNotifySent = false;
    std::string name;

    ~Session() {
        SSL_free(ssl);
        SSL_CTX_free(context);
        X509_free(clientCertificate);
        EVP_PKEY_free(clientKey);
    }
};

void setError(char* error, std::size_t size, const std::string& text) {
    if (size > 0) {
        std::snprintf(error, size, "%s", text.c_str());
    }
}

// The first error OpenSSL queued in words, or fallback when there is none.
std::string queuedError(const char* fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char* words = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return words != nullptr ? words : fallback;
}

// OpenSSL's socket BIO writes with write(): a peer that closed would raise SIGPIPE in the caller's process.
// This one sends with MSG_NOSIGNAL.
int socketWrite(BIO* bio, const char* bytes, int size) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    const ssize_t sent = ::send(fd, bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(sent);
}

int socketRead(BIO* bio, char* buffer, int size) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    const ssize_t got = ::recv(fd, buffer, static_cast<std::size_t>(size), 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        BIO_set_retry_read(bio);
    }
    if (got > 0) {
        // Quick acknowledgement is not sticky: a delayed ACK would hold the server's next record back.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    return static_cast<int>(got);
}

long socketControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vell socket");
        BIO_meth_set_write(made, socketWrite);
        BIO_meth_set_read(made, socketRead);
        BIO_meth_set_ctrl(made, socketControl);
        return made;
    }();
    return method;
}

int sessionIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Called only when the server asks for a certificate: so the summary can tell whether one went out.
int offerClientCertificate(SSL* ssl, X509** certificate, EVP_PKEY** key) {
    auto* session = static_cast<Session*>(SSL_get_ex_data(ssl, sessionIndex()));
    if (session == nullptr || session->clientCertificate == nullptr) {
        return 0;
    }
    X509_up_ref(session->clientCertificate);
    EVP_PKEY_up_ref(session->clientKey);
    *certificate = session->clientCertificate;
    *key = session->clientKey;
    session->clientCertificateSent = true;
    return 1;
}

int noPassphrase(char*, int, int, void*) {
    return 0;
}

bool loadAnchors(SSL_CTX* context, const char* pem, std::size_t size) {
    BIO* memory = BIO_new_mem_buf(pem, static_cast<int>(size));
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(memory, nullptr, noPassphrase, nullptr);
    BIO_free(memory);
    int anchors = 0;
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    for (int i = 0; infos != nullptr && i < sk_X509_INFO_num(infos); ++i) {
        X509* certificate = sk_X509_INFO_value(infos, i)->x509;
        anchors += certificate != nullptr && X509_STORE_add_cert(store, certificate) == 1 ? 1 : 0;
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    ERR_clear_error();
    return anchors > 0;
}

bool loadClient(Session& session, const VellTlsCredentials& credentials, std::string& problem) {
    BIO* memory = BIO_new_mem_buf(credentials.cert, static_cast<int>(credentials.certSize));
    session.clientCertificate = PEM_read_bio_X509(memory, nullptr, noPassphrase, nullptr);
    BIO_free(memory);
    memory = BIO_new_mem_buf(credentials.key, static_cast<int>(credentials.keySize));
    session.clientKey = PEM_read_bio_PrivateKey(memory, nullptr, noPassphrase, nullptr);
    BIO_free(memory);
    ERR_clear_error();
    if (session.clientCertificate == nullptr) {
        problem = "client.pem holds no PEM certificate";
    } else if (session.clientKey == nullptr) {
        problem = "client.key holds no PEM private key without a passphrase";
    } else if (X509_check_private_key(session.clientCertificate, session.clientKey) != 1) {
        problem = "client.key is not the key of client.pem";
    }
    ERR_clear_error();
    return problem.empty();
}

void* openSession(int fd, const VellTlsCredentials* credentials, char* error, std::size_t errorSize) {
    auto session = std::make_unique<Session>();
    session->name = credentials->name;
    session->context = SSL_CTX_new(TLS_client_method());
    if (session->context == nullptr) {
        setError(error, errorSize, "cannot set up TLS: " + queuedError("out of memory"));
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(session->context, TLS1_2_VERSION);
    // ser2net ends without close_notify; that is the end of the data, not an attack on it.
    SSL_CTX_set_options(session->context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(session->context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_mode(session->context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(session->context, SSL_VERIFY_PEER, nullptr);
    // The pinned file may hold the server's own certificate rather than a CA's.
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(session->context), X509_V_FLAG_PARTIAL_CHAIN);
    if (!loadAnchors(session->context, credentials->ca, credentials->caSize)) {
        setError(error, errorSize, "ca.pem holds no PEM certificate");
        return nullptr;
    }
    std::string problem;
    if (credentials->cert != nullptr && !loadClient(*session, *credentials, problem)) {
        setError(error, errorSize, problem);
        return nullptr;
    }
    SSL_CTX_set_client_cert_cb(session->context, offerClientCertificate);
    session->ssl = SSL_new(session->context);
    BIO* bio = BIO_new(socketMethod());
    if (session->ssl == nullptr || bio == nullptr) {
        BIO_free(bio);
        setError(error, errorSize, "cannot set up TLS: " + queuedError("out of memory"));
        return nullptr;
    }
    // The data slot carries the descriptor itself and is never dereferenced.
    BIO_set_data(
        bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))); // NOLINT(performance-no-int-to-ptr)
    BIO_set_init(bio, 1);
    SSL_set_bio(session->ssl, bio, bio);
    SSL_set_ex_data(session->ssl, sessionIndex(), session.get());
    in6_addr address{};
    const bool literal = ::inet_pton(AF_INET, session->name.c_str(), &address) == 1 ||
                         ::inet_pton(AF_INET6, session->name.c_str(), &address) == 1;
    X509_VERIFY_PARAM* param = SSL_get0_param(session->ssl);
    const int named = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, session->name.c_str())
                              : X509_VERIFY_PARAM_set1_host(param, session->name.c_str(), 0);
    if (named != 1) {
        setError(error, errorSize, "cannot check the server's name " + session->name);
        return nullptr;
    }
    if (!literal) {
        SSL_set_tlsext_host_name(session->ssl, session->name.c_str());
    }
    SSL_set_connect_state(session->ssl);
    return session.release();
}

// Why the server's certificate was not accepted, in the words an administrator acts on.
std::string verifyWords(const Session& session, long result) {
    switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the server's certificate is not made out to " + session.name +
               " (for another name: ?name=NAME in the URL)";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the server's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the server's certificate is not valid yet (check the clocks)";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        return "the server's certificate is from an unknown CA: not signed by ca.pem";
    default: {
        // With OpenSSL's number, for what its words leave open.
        char words[256];
        std::snprintf(words, sizeof words, "the server's certificate was not accepted: %s (X509 error %ld)",
                      X509_verify_cert_error_string(result), result);
        return words;
    }
    }
}

// The step's result from SSL_get_error, the reason filled on failure.
int stepResult(Session& session, int returned, char* error, std::size_t errorSize, bool handshaking) {
    const int kind = SSL_get_error(session.ssl, returned);
    if (kind == SSL_ERROR_WANT_READ) {
        return VELL_TLS_WANT_READ;
    }
    if (kind == SSL_ERROR_WANT_WRITE) {
        return VELL_TLS_WANT_WRITE;
    }
    if (kind == SSL_ERROR_ZERO_RETURN ||
        (kind == SSL_ERROR_SYSCALL && (errno == ECONNRESET || errno == EPIPE || errno == 0))) {
        ERR_clear_error();
        return VELL_TLS_CLOSED;
    }
    if (const long verified = SSL_get_verify_result(session.ssl); handshaking && verified != X509_V_OK) {
        ERR_clear_error();
        setError(error, errorSize, verifyWords(session, verified));
        return VELL_TLS_FAILED;
    }
    const std::string words = queuedError(kind == SSL_ERROR_SYSCALL ? std::strerror(errno) : "a TLS failure");
    // An alert from the server is its refusal ("tlsv13 alert certificate required").
    const bool alert = words.find("alert") != std::string::npos;
    setError(error, errorSize, words);
    return alert ? VELL_TLS_REFUSED : VELL_TLS_FAILED;
}

int handshake(void* opaque, char* error, std::size_t errorSize) {
    auto& session = *static_cast<Session*>(opaque);
    const int returned = SSL_do_handshake(session.ssl);
    return returned == 1 ? VELL_TLS_DONE : stepResult(session, returned, error, errorSize, true);
}

int readSession(void* opaque, unsigned char* buffer, std::size_t size, std::size_t* got, char* error,
                std::size_t errorSize) {
    auto& session = *static_cast<Session*>(opaque);
    *got = 0;
    const int returned = SSL_read_ex(session.ssl, buffer, size, got);
    return returned == 1 ? VELL_TLS_DONE : stepResult(session, returned, error, errorSize, false);
}

int writeSession(void* opaque, const unsigned char* bytes, std::size_t size, std::size_t* written,
                 char* error, std::size_t errorSize) {
    auto& session = *static_cast<Session*>(opaque);
    *written = 0;
    const int returned = SSL_write_ex(session.ssl, bytes, size, written);
    return returned == 1 ? VELL_TLS_DONE : stepResult(session, returned, error, errorSize, false);
}

void closeNotify(void* opaque) {
    auto& session = *static_cast<Session*>(opaque);
    if (!session.closeNotifySent) {
        session.closeNotifySent = true;
        SSL_shutdown(session.ssl);
        ERR_clear_error();
    }
}

void summarize(void* opaque, VellTlsSummary* summary) {
    auto& session = *static_cast<Session*>(opaque);
    *summary = {};
    const std::string_view protocol = SSL_get_version(session.ssl);
    std::memcpy(summary->protocol, protocol.data(), std::min(protocol.size(), sizeof summary->protocol - 1));
    summary->clientCertificateSent = session.clientCertificateSent ? 1 : 0;
    X509* peer = SSL_get1_peer_certificate(session.ssl);
    if (peer == nullptr) {
        return;
    }
    X509_NAME_oneline(X509_get_subject_name(peer), summary->subject, sizeof summary->subject);
    X509_NAME_oneline(X509_get_issuer_name(peer), summary->issuer, sizeof summary->issuer);
    int days = 0;
    int seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(peer)) == 1) {
        summary->daysLeft = days;
    }
    X509_free(peer);
}

void closeSession(void* opaque) {
    delete static_cast<Session*>(opaque);
}

const VellTlsApi kApi{VELL_TLS_API_VERSION, openSession, handshake, readSession,
                      writeSession,         closeNotify, summarize, closeSession};

} // namespace

extern "C" __attribute__((visibility("default"))) const VellTlsApi* vellTlsApi() {
    return &kApi;
}
