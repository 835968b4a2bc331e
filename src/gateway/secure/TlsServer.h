// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <memory>

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

// The gateway's TLS side: one server context loaded at start, and one
// TlsSession per connection that turns socket bytes into protocol bytes and
// back. Nothing here touches a socket or blocks: the connection reads and
// writes its descriptor as it does for plain TCP and passes the bytes through.
class TlsServerContext
{
public:
    // Loads a PEM certificate chain and its private key. Returns nullptr and one
    // line in *error (naming the file and what is wrong with it) when a file is
    // missing, unreadable, malformed, encrypted, or the key is not the
    // certificate's.
    static std::unique_ptr<TlsServerContext> load(const QString &certFile, const QString &keyFile,
                                                  QString *error);
    ~TlsServerContext();

    TlsServerContext(const TlsServerContext &) = delete;
    TlsServerContext &operator=(const TlsServerContext &) = delete;

    ssl_ctx_st *handle() const { return m_ctx; }

private:
    explicit TlsServerContext(ssl_ctx_st *ctx) : m_ctx(ctx) {}

    ssl_ctx_st *m_ctx;
};

// One server-side TLS connection over memory buffers.
//
//   socket readable  -> feed(bytes, &plain)  -> plain to the line reader,
//                                               takeOutput() to the socket
//   line to send     -> write(line)          -> takeOutput() to the socket
//   socket EOF       -> an ordinary disconnect (no close-notify is needed)
//
// feed() decrypts everything the bytes complete, including records OpenSSL
// holds back internally, so the caller never has to wait for more socket
// input to see bytes that already arrived. Lines written before the handshake
// has finished are kept and encrypted once it has.
class TlsSession
{
public:
    enum class Status {
        Ok,     // keep going; send takeOutput() if there is any
        Closed, // the peer sent close-notify; send takeOutput(), then close
        Failed, // handshake or record error; send takeOutput() (an alert), then drop
    };

    // Bytes a session keeps for the peer before the handshake has finished;
    // more fails the session instead of growing without bound.
    static constexpr qsizetype kMaxEarlyBytes = 64 * 1024;
    // The most plaintext one TLS record carries.
    static constexpr qsizetype kRecordBytes = 16 * 1024;

    explicit TlsSession(const TlsServerContext &context);
    ~TlsSession();

    TlsSession(const TlsSession &) = delete;
    TlsSession &operator=(const TlsSession &) = delete;

    // Ciphertext read from the socket. Decrypted bytes are appended to *plaintext.
    Status feed(QByteArrayView ciphertext, QByteArray *plaintext);
    // Plaintext to send; the ciphertext waits in takeOutput().
    Status write(QByteArrayView plaintext);
    // Encrypts up to maxBytes from the front of a connection's output queue
    // (its first line from frontOffset on) as full-size records instead of one
    // record per line. Returns the plaintext bytes taken, for the caller to
    // remove from its queue; 0 when the session has failed or was shut down.
    qsizetype writeQueued(const std::deque<QByteArray> &queue, qsizetype frontOffset,
                          qsizetype maxBytes = kRecordBytes);
    // Queues a close-notify for the peer.
    void shutdown();

    // Ciphertext for the socket, in order; empties the buffer.
    QByteArray takeOutput();
    qsizetype pendingOutput() const;

    bool handshakeDone() const { return m_handshakeDone; }
    bool peerClosed() const { return m_peerClosed; }
    bool failed() const { return m_failed; }
    // Why the session failed, for the log.
    QString errorString() const { return m_error; }
    // "TLSv1.3" and the like once the handshake is done.
    QString protocolName() const;
    QString cipherName() const;

private:
    Status pump(QByteArray *plaintext);
    Status encrypt(QByteArrayView plaintext);
    Status fail(int sslError);
    Status status() const;

    ssl_st *m_ssl = nullptr;
    bio_st *m_in = nullptr;  // socket -> OpenSSL
    bio_st *m_out = nullptr; // OpenSSL -> socket
    QByteArray m_early;      // written before the handshake finished
    QString m_error;
    bool m_handshakeDone = false;
    bool m_peerClosed = false;
    bool m_shutdownSent = false;
    bool m_failed = false;
};
