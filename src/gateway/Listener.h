// SPDX-License-Identifier: MIT
#pragma once

#include "ClientConnection.h"
#include "GatewayLimits.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>

// Accepting: the listening socket, the caps on connections in total and per
// address, and the connections themselves with their unsent output. A
// connection over a cap is refused before any state exists for it.
class Listener : public QObject
{
    Q_OBJECT

public:
    explicit Listener(const GatewayLimits &limits, QObject *parent = nullptr);
    ~Listener() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 serverPort() const { return m_tcpServer.serverPort(); }
    QString errorString() const { return m_tcpServer.errorString(); }
    // A second port whose connections speak the same protocol inside TLS. The
    // context must outlive the listener.
    bool listenTls(const QHostAddress &address, quint16 port, const TlsServerContext *context);
    quint16 tlsPort() const { return m_tlsServer.serverPort(); }
    QString tlsErrorString() const { return m_tlsServer.errorString(); }

    int connectionCount() const { return int(m_connections.size()); }
    const QSet<ClientConnection *> &connections() const { return m_connections; }
    const ClientConnection::Totals &totals() const { return m_totals; }

    // The connection has logged in: it no longer counts as unfinished.
    void markLoggedIn(const ClientConnection *connection);
    // The connection has closed: it no longer counts at all.
    void forget(ClientConnection *connection, bool loggedIn);
    // Deletes every connection at once; none of them signals anything more.
    void closeAll();

signals:
    // A new connection, already counted; its handshake has begun.
    void accepted(ClientConnection *connection);
    void logMessage(const QString &message);

private:
    struct AddressCount
    {
        int connections = 0;
        int unfinished = 0; // not logged in yet
    };

    // Hands accepted descriptors straight to the listener, which owns the sockets.
    class TcpServer : public QTcpServer
    {
    public:
        std::function<void(qintptr)> accepted;

    protected:
        void incomingConnection(qintptr descriptor) override { accepted(descriptor); }
    };

    static bool listenOn(TcpServer &server, const QHostAddress &address, quint16 port);
    void onIncoming(qintptr descriptor, bool tls);
    QByteArray connectionProblem(const AddressCount &count) const;
    void log(const ClientConnection *connection, const QString &what);

    GatewayLimits m_limits;
    TcpServer m_tcpServer;
    TcpServer m_tlsServer;
    const TlsServerContext *m_tlsContext = nullptr;
    ClientConnection::Totals m_totals;
    QSet<ClientConnection *> m_connections;
    QHash<QHostAddress, AddressCount> m_addresses;
};
