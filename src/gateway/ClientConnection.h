// SPDX-License-Identifier: MIT
#pragma once

#include "TlsServer.h"
#include "protocol/LineFramer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

// One client socket: handshake, line framing and the output queue. Knows
// nothing about users or channels; the scheduler decides when lines are handled
// and when output is flushed.
//
// The socket is a plain non-blocking descriptor. It is read one chunk at a
// time, and only once the lines of the previous chunk have been handled, so a
// client that sends faster than it is served is slowed by TCP. Queued lines
// are shared with the other recipients' queues (implicit sharing) and leave
// with one writev() per flush instead of being copied into a socket buffer.
//
// On the TLS port the same bytes pass through a TlsSession: what is read is
// decrypted before the line reader sees it, and each flush encrypts at most
// one record's worth of the queue, more only once that has left.
//
// Closing never happens synchronously inside a call, so the server can send to
// many connections in a loop without any of them vanishing mid-loop; closed()
// is emitted exactly once, later, from the event loop.
class ClientConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kReadChunkBytes = 64 * 1024;
    static constexpr int kCloseTimeoutMs = 5 * 1000;

    // Unsent output of all connections together, kept by the owner.
    struct Totals
    {
        qint64 queuedBytes = 0;
    };

    // Takes ownership of the connected socket descriptor.
    ClientConnection(int descriptor, Totals *totals, QObject *parent = nullptr);
    ~ClientConnection() override;

    // The remote address of a connected socket, IPv4-mapped addresses as IPv4.
    static QHostAddress remoteAddress(int descriptor, quint16 *port = nullptr);

    // "address:port" of the remote end, for log lines.
    QString peer() const { return m_peer; }
    QHostAddress address() const { return m_address; }
    QString closeReason() const { return m_closeReason; }
    bool isClosing() const { return m_state == State::Closing; }

    void startLoginTimer(int ms);
    // Runs the connection through TLS from its first byte; the handshake must
    // be done within handshakeMs or the connection is dropped.
    void startTls(std::unique_ptr<TlsSession> session, int handshakeMs);
    bool isTls() const { return m_tls != nullptr; }
    // Whether the peer has shut down its end, even with unread input before
    // that; asked while the connection's input is held back.
    bool peerHasClosed() const;
    // Above `bytes` of unsent output, senders wait for this client for holdMs
    // at most, and after graceMs it is dropped.
    void setQueueLimit(qint64 bytes, int holdMs, int graceMs);

    // Queues a line for the next flush. Returns true when the unsent output is
    // now above its limit and the senders should wait for this client.
    bool send(const QByteArray &line);
    qint64 queuedBytes() const { return m_queuedBytes; }
    // Writes as much of the queue as the socket takes.
    void flush();

    // The next chat line, after handling the handshake lines before it. False
    // when no complete line is buffered; reading the socket resumes then.
    // The view stays valid until the next call.
    bool nextLine(QByteArrayView &line);

    // Answers loginRequested(): from now on lines come from nextLine().
    void acceptLogin();
    // Sends an info line saying why, then closes once it has been written.
    void refuse(QByteArrayView message);
    // Closes after the queued output has been written.
    void close(const QString &reason = {});
    // Closes at once; unsent output is discarded and its memory released.
    void drop(const QString &reason);

signals:
    void loginRequested(const QByteArray &name, const QByteArray &password);
    void handshakeFailed(const QString &reason);
    // Lines are buffered; the server should call nextLine().
    void inputReady();
    // The first line queued since the last flush.
    void outputQueued();
    // Senders need no longer wait for this client: its unsent output went
    // below the limit, or it has been above for as long as they wait.
    void channelReleased();
    void closed();

private:
    enum class State { Mode, Filler, Name, Password, AwaitingLogin, Chatting, Closing };

    void onReadable();
    bool readChunk();
    void takeBytes(QByteArrayView data);
    void takeCiphertext(QByteArrayView data);
    void flushTls();
    bool sendCiphertext();
    void failTls(const QString &reason);
    void abandon(const QString &reason);
    void handleHandshakeLine(LineFramer::Result result, QByteArrayView line);
    void failHandshake(QByteArrayView message);
    void consume(qsizetype written);
    void releaseQueue();
    void shutDownOutput();
    void finishLater();
    void finish();
    void closeDescriptor(bool reset);

    int m_fd;
    Totals *m_totals;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QHostAddress m_address;
    QString m_peer;
    LineFramer m_framer;
    QTimer m_loginTimer;
    QTimer m_graceTimer;
    QTimer m_holdTimer;
    QTimer m_closeTimer;
    State m_state = State::Mode;
    int m_modeBytesSeen = 0;
    int m_fillerLinesSeen = 0;
    QByteArray m_name;
    QString m_closeReason;

    std::deque<QByteArray> m_queue;
    qsizetype m_frontOffset = 0; // bytes of m_queue.front() already written
    qint64 m_queuedBytes = 0;
    qint64 m_maxQueueBytes = 1024 * 1024;
    bool m_flushPending = false;

    std::unique_ptr<TlsSession> m_tls;
    QByteArray m_tlsOut; // ciphertext not yet taken by the socket
    qsizetype m_tlsOutOffset = 0;
    QTimer m_tlsTimer;
    bool m_closeNotifyQueued = false;

    bool m_peerClosed = false;
    bool m_outputShutDown = false;
    bool m_finishQueued = false;
};
