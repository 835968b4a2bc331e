// SPDX-License-Identifier: MIT
// An OpenSSL TLS client over memory buffers, to drive a server TlsSession
// without sockets (tests and benchmarks).
#pragma once

#include "TlsServer.h"

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace TlsTest {

struct MemoryClient
{
    SSL_CTX *ctx = nullptr;
    SSL *ssl = nullptr;
    BIO *in = nullptr;
    BIO *out = nullptr;

    // maxVersion 0: anything; ciphers: a TLS 1.2 cipher list, or nullptr for the defaults.
    explicit MemoryClient(int maxVersion = 0, const char *ciphers = nullptr, int minVersion = 0)
    {
        ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        if (minVersion || maxVersion)
            SSL_CTX_set_security_level(ctx, 0); // let it offer old versions, for the server to refuse
        if (minVersion)
            SSL_CTX_set_min_proto_version(ctx, minVersion);
        if (maxVersion)
            SSL_CTX_set_max_proto_version(ctx, maxVersion);
        if (ciphers)
            SSL_CTX_set_cipher_list(ctx, ciphers);
        start();
    }
    // A client on a context shared with others (benchmarks make many).
    explicit MemoryClient(SSL_CTX *shared)
    {
        SSL_CTX_up_ref(shared);
        ctx = shared;
        start();
    }
    void start()
    {
        ssl = SSL_new(ctx);
        in = BIO_new(BIO_s_mem());
        out = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in, -1);
        BIO_set_mem_eof_return(out, -1);
        SSL_set_bio(ssl, in, out);
        SSL_set_connect_state(ssl);
    }
    ~MemoryClient()
    {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
    MemoryClient(const MemoryClient &) = delete;
    MemoryClient &operator=(const MemoryClient &) = delete;

    QByteArray output()
    {
        QByteArray bytes(qsizetype(BIO_ctrl_pending(out)), Qt::Uninitialized);
        if (!bytes.isEmpty())
            BIO_read(out, bytes.data(), int(bytes.size()));
        return bytes;
    }
    void input(const QByteArray &bytes)
    {
        if (!bytes.isEmpty())
            BIO_write(in, bytes.constData(), int(bytes.size()));
    }
    // 1 done, 0 wants more, -1 failed.
    int handshakeStep()
    {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl);
        if (result == 1)
            return 1;
        const int error = SSL_get_error(ssl, result);
        ERR_clear_error();
        return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? 0 : -1;
    }
    QByteArray encrypt(const QByteArray &plain)
    {
        SSL_write(ssl, plain.constData(), int(plain.size()));
        return output();
    }
    // Everything readable from the bytes given so far.
    QByteArray decrypt(const QByteArray &ciphertext)
    {
        input(ciphertext);
        QByteArray plain;
        char buffer[16384];
        int n;
        while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
            plain.append(buffer, n);
        ERR_clear_error();
        return plain;
    }
};

// Runs the handshake, delivering bytes in pieces of at most `piece` bytes.
// True when both sides finished.
inline bool handshake(MemoryClient &client, TlsSession &server, qsizetype piece = 1 << 20)
{
    for (int round = 0; round < 100; ++round) {
        const int clientState = client.handshakeStep();
        if (clientState < 0)
            return false;
        const QByteArray toServer = client.output();
        for (qsizetype at = 0; at < toServer.size(); at += piece) {
            QByteArray plain;
            if (server.feed(QByteArrayView(toServer).sliced(at, qMin(piece, toServer.size() - at)), &plain)
                == TlsSession::Status::Failed)
                return false;
        }
        const QByteArray toClient = server.takeOutput();
        for (qsizetype at = 0; at < toClient.size(); at += piece)
            client.input(toClient.mid(at, piece));
        if (clientState == 1 && server.handshakeDone() && toClient.isEmpty() && toServer.isEmpty())
            return true;
    }
    return false;
}

} // namespace TlsTest
