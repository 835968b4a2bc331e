#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>

#include <map>
#include <memory>
#include <optional>

class ClientConnection;

// The chat world: accepts connections, logs users in, and keeps channels,
// channel operators, bans and squelch lists for the lifetime of the process.
class GatewayServer : public QObject
{
    Q_OBJECT

public:
    static inline const QByteArray LobbyChannel = "Lobby";
    static inline const QByteArray VoidChannel = "The Void";

    explicit GatewayServer(QObject *parent = nullptr);
    ~GatewayServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 serverPort() const { return m_tcpServer.serverPort(); }
    QString errorString() const { return m_tcpServer.errorString(); }

    // With accounts set, non-anonymous users need a matching name:password.
    void setAccounts(const QHash<QByteArray, QByteArray> &accounts) { m_accounts = accounts; }
    void setMaxPendingOutput(qint64 bytes) { m_maxPendingOutput = bytes; }

    int userCount() const { return int(m_users.size()); }

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
    };

    struct Channel
    {
        QByteArray name;
        QByteArray key;
        QList<User *> members; // in order of arrival; the first one is the operator
    };

    void onNewConnection();
    void onLoginRequested(ClientConnection *connection, const QByteArray &name,
                          const QByteArray &password);
    void onLine(ClientConnection *connection, const QByteArray &line);
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
    void broadcast(Channel *channel, const QByteArray &line, const User *except = nullptr,
                   const User *author = nullptr);
    static void sendTo(const User *user, const QByteArray &line);

    void log(const ClientConnection *connection, const QString &what);

    QTcpServer m_tcpServer;
    std::optional<QHash<QByteArray, QByteArray>> m_accounts;
    qint64 m_maxPendingOutput;
    std::map<QByteArray, std::unique_ptr<User>> m_users;        // by case-folded name
    QHash<const ClientConnection *, User *> m_userByConnection;
    std::map<QByteArray, std::unique_ptr<Channel>> m_channels;  // by case-folded name
    QHash<QByteArray, QSet<QByteArray>> m_bans;                 // channel -> user names, folded
};
