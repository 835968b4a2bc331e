// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/ChatEvent.h"
#include "protocol/LineFramer.h"

#include "session/ServerEntry.h"
#include "session/ServerTrust.h"

#include <QAbstractSocket>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QSsl>
#include <QString>

#include <deque>

class KnownHosts;
class QSslSocket;
class QTcpSocket;

// The link to the chat gateway: owns the socket, writes the login handshake
// and the user's lines in the gateway's 8-bit code page, and turns received
// bytes into typed events. Its ChatSession connects to its signals and
// turns the events into the user list and lines ready to show.
//
// Reception runs in slices: each reads from the socket only as much as it
// needs, so the socket's bounded buffer makes TCP hold a flooding server
// back, and each ends after a few milliseconds, a number of lines or of
// characters, whichever comes first, so the event loop keeps running.
class ChatLink : public QObject
{
    Q_OBJECT

public:
    explicit ChatLink(QObject *parent = nullptr);

    // The socket ("Winsock1"), for tests that link it to a local server themselves.
    QTcpSocket *socket() const;
    QAbstractSocket::SocketState state() const;

    // Starts a new plain connection, dropping any current one with what it had received.
    void connectTo(const QString &host, quint16 port);
    // Starts a new connection to a parsed entry through proxy: plain TCP, or
    // TLS whose server is checked against knownHosts before anything is written.
    void connectTo(const ServerEntry &entry, const QNetworkProxy &proxy, KnownHosts *knownHosts);
    // Writes the login handshake: two mode bytes, two empty lines, the name and
    // the password lines. Written while the connection may still be being made:
    // the socket queues the bytes and sends them once connected; on a secure
    // link they wait until the server is trusted. False, and nothing written,
    // when no connection is open or being made.
    bool writeHandshake(const QString &name, const QString &password);
    // The current connection is TLS and its server was trusted.
    bool isSecure() const { return m_secure && m_trusted; }
    QSsl::SslProtocol secureProtocol() const;
    // How long a TLS handshake may take before the connection is given up.
    void setHandshakeTimeout(int milliseconds) { m_handshakeMs = milliseconds; }
    void close();

    // The link is up, or still being made.
    bool isAlive() const;
    // A line written now reaches the server: the link is up, or it is still
    // being made and the login is already queued ahead of it.
    bool canSend() const;
    // Writes text + CR LF in the gateway's code page; false when nothing was sent.
    bool sendLine(const QString &text);

    // Runs bytes through the same framing and cutting as received data, at
    // once, emitting every slice before it returns.
    void feedBytesForTesting(QByteArrayView bytes);

signals:
    // One slice's events, in the order their lines arrived.
    void eventsReceived(const ChatEvents &events);
    // The connection never came up; reason is in plain words. Once per connection.
    void connectFailed(const QString &reason);
    // A link that was up has dropped; reason is in plain words.
    void linkLost(const QString &reason);
    // The connection never came up; text is a whole sentence of its own (a proxy's fault).
    void connectFailedText(const QString &text);
    // A secure server was not trusted; the socket is closed.
    void untrusted(const TrustDecision &decision);
    // A secure server was trusted; the login (if queued) is on its way.
    void trusted();
    void stateChanged(QAbstractSocket::SocketState state);

private:
    void onReadyRead();
    void onError();
    void runSlices();
    // Cuts backlog lines, reading more as needed, for one slice; true when work is left.
    bool runSlice();
    bool readChunk();
    void frameBytes(QByteArrayView bytes);
    void startConnection();
    void onTrusted();
    void failConnection(const QString &reason);
    // Writes bytes now, or keeps them until a secure server is trusted.
    bool writeOut(const QByteArray &bytes);
    void dropTrustCheck();

    QSslSocket *m_socket;
    QPointer<ServerTrustCheck> m_trustCheck;
    QByteArray m_held;             // written before a secure server was trusted
    QString m_host;
    quint16 m_port = 0;
    int m_handshakeMs = ServerTrustCheck::kHandshakeMilliseconds;
    bool m_secure = false;
    bool m_trusted = false;
    bool m_tcpUp = false;          // the current connection's TCP link came up
    bool m_anyReceived = false;    // a byte arrived on the current connection
    LineFramer m_framer;
    std::deque<QString> m_backlog; // decoded lines, each with its final carriage return
    bool m_sliceQueued = false;    // a continuation of runSlices waits in the event loop
    bool m_loginSent = false;      // the handshake has been written since the last connectTo
    bool m_everUp = false;         // the current connection reached the connected state
    bool m_failureReported = false;
};

// The socket's error in plain words.
QString linkErrorReason(QAbstractSocket::SocketError error, const QString &detail);
