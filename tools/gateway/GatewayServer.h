// SPDX-License-Identifier: MIT
#pragma once

#include "ClientConnection.h"
#include "GatewayLimits.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The chat world: accepts connections, logs users in, and keeps channels,
// channel operators, squelch lists, and bans while their channel is in use.
//
// Work is done in passes. Sockets only buffer what they read; a pass then
// gives every client with buffered lines a turn of a few lines, round robin,
// and ends by flushing each client that has output once. A client that sends
// faster than its line rate, or whose channel has a member too far behind, is
// not given turns (nor read) until that changes, so TCP slows it down and
// nothing it sent is lost.
class GatewayServer : public QObject
{
    Q_OBJECT

public:
    static inline const QByteArray kLobbyChannel = "Lobby";
    static inline const QByteArray kVoidChannel = "The Void";

    explicit GatewayServer(const GatewayLimits &limits = {}, QObject *parent = nullptr);
    ~GatewayServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 serverPort() const { return m_tcpServer.serverPort(); }
    QString errorString() const { return m_tcpServer.errorString(); }

    // With accounts set, non-anonymous users need a matching name:password.
    void setAccounts(const QHash<QByteArray, QByteArray> &accounts) { m_accounts = accounts; }

    int userCount() const { return int(m_users.size()); }
    int connectionCount() const { return int(m_connections.size()); }
    qint64 queuedOutputBytes() const { return m_totals.queuedBytes; }
    qsizetype banCount(const QByteArray &channel) const;

signals:
    // One line per connection event (connect, login, channel change, disconnect).
    void logMessage(const QString &message);

private:
    struct Channel;

    struct User
    {
        ClientConnection *connection = nullptr;
        QByteArray name;
        Channel *channel = nullptr;
        QSet<QByteArray> squelched; // case-folded names
        double tokens = 0;          // lines it may send now
        qint64 refilledAtNs = 0;
        bool waiting = false;       // for a member of its channel to catch up
        QTimer rateTimer;           // ends a pause for its line rate
    };

    struct Channel
    {
        QByteArray name;
        QByteArray key;
        QList<User *> members; // in order of arrival; the first one is the operator
        QList<User *> waiting; // senders paused until the members catch up
    };

    struct AddressCount
    {
        int connections = 0;
        int unfinished = 0; // not logged in yet
    };

    // Hands accepted descriptors straight to the server, which owns the sockets.
    class Listener : public QTcpServer
    {
    public:
        std::function<void(qintptr)> accepted;

    protected:
        void incomingConnection(qintptr descriptor) override { accepted(descriptor); }
    };

    void onIncoming(qintptr descriptor);
    QByteArray connectionProblem(const AddressCount &count) const;
    void forgetConnection(ClientConnection *connection, bool loggedIn);

    void schedulePass();
    void runPass();
    bool takeTurn(ClientConnection *connection, qint64 nowNs);
    bool takeToken(User *user, qint64 nowNs);
    void makeReady(ClientConnection *connection, bool fresh = false);
    void wakeWaiting(Channel *channel);
    void flushAll();
    void enforceOutputBudget();

    void onLoginRequested(ClientConnection *connection, const QByteArray &name,
                          const QByteArray &password);
    void onLine(ClientConnection *connection, QByteArrayView line);
    void onClosed(ClientConnection *connection);

    void talk(User *user, const QByteArray &text);
    void emote(User *user, const QByteArray &text);
    void whisper(User *user, const QByteArray &target, const QByteArray &text);
    void join(User *user, const QByteArray &channel);
    void whois(User *user, const QByteArray &target);
    void kickOrBan(User *user, const QByteArray &target, const QByteArray &reason, bool ban);
    void squelch(User *user, const QByteArray &target, bool on);

    QByteArray checkLogin(const QByteArray &name, const QByteArray &password) const;
    QByteArray uniqueName(const QByteArray &name) const;
    User *findUser(const QByteArray &name) const;
    bool isBanned(const User *user, const QByteArray &channelName) const;
    static bool isOperator(const User *user);
    static QByteArrayView flags(const User *user);

    void enterChannel(User *user, const QByteArray &channelName, bool logChange);
    void leaveChannel(User *user);
    void sendChannelState(User *user);
    // Sends line to every member of channel except `except`; members who
    // squelched `author` are skipped.
    // Returns true when a recipient is now too far behind.
    bool broadcast(Channel *channel, const QByteArray &line, const User *except = nullptr,
                   const User *author = nullptr);
    // Returns true when the recipient is now too far behind.
    bool sendTo(const User *user, const QByteArray &line);

    void log(const ClientConnection *connection, const QString &what);

    GatewayLimits m_limits;
    Listener m_tcpServer;
    std::optional<QHash<QByteArray, QByteArray>> m_accounts;
    ClientConnection::Totals m_totals;
    QSet<ClientConnection *> m_connections;
    QHash<QHostAddress, AddressCount> m_addresses;
    std::deque<ClientConnection *> m_ready;  // clients with lines to handle, in turn order
    QSet<ClientConnection *> m_readySet;
    std::vector<ClientConnection *> m_dirty; // clients with output since the last flush
    qint64 m_deliveries = 0;
    bool m_passScheduled = false;
    bool m_senderMustWait = false;           // set while handling a line
    QElapsedTimer m_clock;
    std::map<QByteArray, std::unique_ptr<User>> m_users;        // by case-folded name
    QHash<const ClientConnection *, User *> m_userByConnection;
    std::map<QByteArray, std::unique_ptr<Channel>> m_channels;  // by case-folded name
    QHash<QByteArray, QSet<QByteArray>> m_bans;                 // channel -> user names, folded;
                                                                // only for channels in use
};
