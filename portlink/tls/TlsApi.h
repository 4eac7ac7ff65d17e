/* The C function table between the port link library and its TLS module, which alone links OpenSSL. */
#ifndef VELLPORT_TLS_API_H
#define VELLPORT_TLS_API_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELL_TLS_API_VERSION 1

/* Step results: done, the socket must become readable or writable first, the peer closed, or failed (the
 * error text says why). */
enum {
    VELL_TLS_DONE = 1,
    VELL_TLS_CLOSED = 0,
    VELL_TLS_WANT_READ = -1,
    VELL_TLS_WANT_WRITE = -2,
    VELL_TLS_FAILED = -3,
    VELL_TLS_REFUSED = -4
};

/* PEM texts as read from the trust folder; cert and key may be null (no client certificate). */
struct VellTlsCredentials {
    const char* ca;
    size_t caSize;
    const char* cert;
    size_t certSize;
    const char* key;
    size_t keySize;
    const char* name; /* the name the server's certificate must carry */
};

struct VellTlsSummary {
    char protocol[16];
    char subject[256];
    char issuer[256];
    long daysLeft;
    int clientCertificateSent;
};

struct VellTlsApi {
    int version;
    /* A client session over the connected non-blocking socket fd; null on failure, error filled. */
    void* (*open)(int fd, const struct VellTlsCredentials* credentials, char* error, size_t errorSize);
    int (*handshake)(void* session, char* error, size_t errorSize);
    int (*read)(void* session, unsigned char* buffer, size_t size, size_t* got, char* error,
                size_t errorSize);
    int (*write)(void* session, const unsigned char* bytes, size_t size, size_t* written, char* error,
                 size_t errorSize);
    /* Sends close_notify, once; the connection's read side stays open. */
    void (*closeNotify)(void* session);
    void (*summary)(void* session, struct VellTlsSummary* summary);
    void (*close)(void* session);
};

typedef const struct VellTlsApi* (*VellTlsEntry)(void);
#define VELL_TLS_ENTRY "vellTlsApi"

#ifdef __cplusplus
}
#endif

#endif
