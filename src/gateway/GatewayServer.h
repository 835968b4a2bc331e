// SPDX-License-Identifier: MIT
#pragma once

#include "ChatWorld.h"
#include "ClusterLink.h"
#include "GatewayLimits.h"
#include "Listener.h"
#include "LoginGate.h"
#include "NameRegistry.h"
#include "Scheduler.h"
#include "TlsServer.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

// The local chat gateway, put together from its three parts: the Listener
// accepts and admits connections, the Scheduler decides whose lines are
// handled when and flushes output, and the ChatWorld runs each line through
// its command table. This class only wires them up, and with a cluster also
// the link to the other gateways and the network-wide name registry.
class GatewayServer : public QObject
{
    Q_OBJECT

public:
    explicit GatewayServer(const GatewayLimits &limits = {}, QObject *parent = nullptr);
    ~GatewayServer() override;

    bool listen(const QHostAddress &address, quint16 port) { return m_listener.listen(address, port); }
    quint16 serverPort() const { return m_listener.serverPort(); }
    QString errorString() const { return m_listener.errorString(); }

    // Also listens for TLS connections, with this certificate and key.
    bool listenTls(const QHostAddress &address, quint16 port, std::unique_ptr<TlsServerContext> context);
    quint16 tlsPort() const { return m_listener.tlsPort(); }
    QString tlsErrorString() const { return m_listener.tlsErrorString(); }

    // With accounts set, non-anonymous users need a matching name and
    // password, checked off the event loop and throttled after failures.
    void setAccounts(Accounts accounts, const LoginGate::Options &options = {});

    // Joins the chat network of the NATS servers in urls as node; before
    // listen(). Connecting goes on in the background, for ever; an empty
    // string, or why the settings cannot work.
    // maxPendingMessages: see ClusterSettings.
    QString joinCluster(const QStringList &urls, const QByteArray &node, int nameTtlMs = 15000,
                        int maxPendingMessages = ClusterSettings().maxPendingMessages);
    // Leaves the network without a goodbye, as a killed process would (tests).
    void abandonCluster();
    ClusterLink *clusterLink() const { return m_link.get(); }

    int userCount() const { return m_world.userCount(); }
    int connectionCount() const { return m_listener.connectionCount(); }
    qint64 queuedOutputBytes() const { return m_listener.totals().queuedBytes; }
    qsizetype banCount(const QByteArray &channel) const { return m_world.banCount(channel); }

signals:
    // One line per connection event (connect, login, channel change, disconnect).
    void logMessage(const QString &message);

private:
    void onAccepted(ClientConnection *connection);
    void onClosed(ClientConnection *connection);
    void onLoginRequested(ClientConnection *connection, const QByteArray &name, const QByteArray &password);
    void finishLogin(ClientConnection *connection, const QByteArray &name, const QByteArray &password);

    // Declared first, so they outlive the world and the connections that use them.
    std::unique_ptr<NameRegistry> m_registry;
    std::unique_ptr<ClusterLink> m_link;
    std::unique_ptr<TlsServerContext> m_tlsContext;
    std::unique_ptr<LoginGate> m_gate;
    Listener m_listener;
    Scheduler m_scheduler;
    ChatWorld m_world;
};
