// SPDX-License-Identifier: MIT
#pragma once

#include "session/KnownHosts.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSsl>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTimer>

class QSslCertificate;
class QSslSocket;

// The SubjectPublicKeyInfo of a DER certificate, exactly as the certificate
// carries it; empty when the bytes are not a certificate.
QByteArray subjectPublicKeyInfo(QByteArrayView certificateDer);
// SHA-256 of the certificate's public key: what a server is pinned by. It
// survives a renewed certificate that keeps its key. Empty for a null certificate.
QByteArray keyFingerprint(const QSslCertificate &certificate);

// What to do with a secure connection once its handshake has shown the
// server's certificate.
struct TrustDecision {
    enum Kind {
        Accept,        // verified, or the user trusts this very key
        AskTrust,      // verification failed for a key the user has not pinned: ask
        RefuseChanged, // the key differs from the one pinned for this server
        Refuse,        // a fault no pin can excuse (no certificate, a revoked one)
    };
    Kind kind = Refuse;
    QStringList reasons;    // plain words, one per distinct problem
    QByteArray fingerprint; // the server's key now
    QByteArray pinned;      // the key on file (RefuseChanged)
};

// errors: what verifying the chain and the host name found (none when both
// passed); fingerprint: keyFingerprint of the server's certificate; pin: the
// known-hosts verdict for that key. A key pinned for this server excuses the
// verification failures; a changed key is refused even behind a valid chain,
// since the user pinned this server to the old one.
TrustDecision decideTrust(const QList<QSslError> &errors, const QString &host, const QByteArray &fingerprint,
                          const PinLookup &pin);

// A verification failure in plain words; host is the name that was dialled.
QString tlsErrorReason(const QSslError &error, const QString &host);

// The chat pane's line once a login completes: "Connected securely to X (TLS 1.3)",
// or "Connected to X without encryption" for a plain link.
QString connectionSecurityNotice(const QString &hostPort, bool secure, QSsl::SslProtocol protocol);
// The protocol's usual name ("TLS 1.3"); empty for one without a name.
QString tlsProtocolName(QSsl::SslProtocol protocol);

// True when bytes that arrived on a plain connection open a TLS record: the
// server expects a secure connection (a tls:// entry).
bool looksLikeTls(QByteArrayView firstBytes);

// Watches one QSslSocket's handshake and applies the known-hosts file to it.
// The decision is made when the certificate has been seen; a connection the
// user has to be asked about is closed first, and the question is left to the
// caller once the socket has gone, never asked inside the TLS callbacks. The
// only verification failures it lets pass are the exact ones of a key pinned
// for this server.
//
// Use: create it over a socket that will connectToHostEncrypted(host, port)
// and connect to its signals before connecting; it reports exactly once per
// connection attempt.
class ServerTrustCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr int kHandshakeMilliseconds = 10'000;

    // hostPort names the server in the known-hosts file (ServerEntry::hostPort()).
    ServerTrustCheck(QSslSocket *socket, KnownHosts *knownHosts, const QString &host, const QString &hostPort,
                     QObject *parent = nullptr);
    void setHandshakeTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

signals:
    // Encrypted and trusted; the login may go ahead on the socket.
    void trusted();
    // Not trusted; the socket is closed. AskTrust: show the trust window and,
    // when the user trusts, pin decision.fingerprint and connect again.
    void untrusted(const TrustDecision &decision);
    // The secure handshake did not happen (the server does not speak TLS on
    // that port, or did not answer in time); the socket is closed.
    void handshakeFailed(const QString &reason);

private:
    void onConnected();
    void onSslErrors(const QList<QSslError> &errors);
    void onEncrypted();
    void onError();
    void onTimeout();
    void finish(); // reports what was decided, once the socket is down
    TrustDecision decideFor(const QList<QSslError> &errors);

    QPointer<QSslSocket> m_socket;
    KnownHosts *m_knownHosts;
    QString m_host;
    QString m_hostPort;
    QTimer m_deadline;
    int m_timeoutMs = kHandshakeMilliseconds;
    bool m_decided = false;     // a decision was made for this connection
    bool m_reported = false;
    TrustDecision m_decision;
    QString m_failure;
};
