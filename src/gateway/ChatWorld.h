// SPDX-License-Identifier: MIT
#pragma once

#include "ClientConnection.h"
#include "GatewayLimits.h"
#include "Scheduler.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <initializer_list>
#include <map>
#include <memory>
#include <optional>

class ClusterLink;
class NameRegistry;

// The chat world: logged-in users, channels with their operators, squelch
// lists, and bans while their channel is in use. It handles one line at a
// time, as the scheduler gives it, through the command table (Commands.cpp),
// and writes to connections but never reads them.
//
// With a cluster link the world is shared with other gateways: names are
// claimed network-wide before a user is admitted, channel lines go out once
// per line to the link, and the link's news (remote joins, leaves, lines,
// whispers, kicks) reaches the local members.
class ChatWorld : public QObject
{
    Q_OBJECT

public:
    static inline const QByteArray kLobbyChannel = "Lobby";
    static inline const QByteArray kVoidChannel = "The Void";

    ChatWorld(const GatewayLimits &limits, Scheduler &scheduler, QObject *parent = nullptr);
    ~ChatWorld() override;

    // Shares the world with the other gateways of a network; both outlive the world.
    void attachCluster(ClusterLink *link, NameRegistry *registry);

    int userCount() const { return int(m_users.size()); }
    qsizetype banCount(const QByteArray &channel) const;
    bool isLoggedIn(const ClientConnection *connection) const { return m_userByConnection.contains(connection); }

    // Why the name and password cannot log in at all, or an empty array. Account
    // passwords are checked before logIn(), by the server's login gate.
    QByteArray checkLogin(const QByteArray &name, const QByteArray &password) const;
    // Claims the name in the network (with a cluster), then admits the user
    // into the lobby and emits loggedIn; or refuses the connection saying why.
    void logIn(ClientConnection *connection, const QByteArray &name, const QByteArray &password);
    // One chat line of a logged-in user; the list its sender must wait on, or null.
    Scheduler::WaitList *handleLine(ClientConnection *connection, QByteArrayView line);
    // The reader no longer holds its channel back: the channel's senders go on.
    void readerCaughtUp(const ClientConnection *connection);
    // The user of a closed connection leaves.
    void connectionClosed(ClientConnection *connection);

signals:
    void loggedIn(ClientConnection *connection);
    // One line per login, channel change and disconnect.
    void logMessage(const QString &message);

private:
    struct Channel;

    struct User
    {
        ClientConnection *connection = nullptr;
        QByteArray name;
        Channel *channel = nullptr;
        QSet<QByteArray> squelched; // case-folded names
        bool nameLost = false;      // the network took the name back: on its way out
    };

    struct Channel
    {
        QByteArray name;
        QByteArray key;
        QList<User *> members; // in order of arrival
        User *op = nullptr;    // the operator if it is here; alone, always the first member
        Scheduler::WaitList waiting; // senders paused until the members catch up
    };

    // What follows a command word, cut as its row of the command table says.
    struct Arguments
    {
        QByteArrayView target; // a user name, or the channel name for /join
        QByteArrayView text;   // talk, emote or whisper text, or a kick or ban reason
    };
    struct Command;
    static const Command *findCommand(QByteArrayView word);

    // The command table's handlers (Commands.cpp).
    void runLine(User *user, QByteArrayView line);
    void talk(User *user, const Arguments &arguments);
    void emote(User *user, const Arguments &arguments);
    void whisper(User *user, const Arguments &arguments);
    void join(User *user, const Arguments &arguments);
    void whois(User *user, const Arguments &arguments);
    void kick(User *user, const Arguments &arguments);
    void ban(User *user, const Arguments &arguments);
    void squelch(User *user, const Arguments &arguments);
    void unsquelch(User *user, const Arguments &arguments);
    void kickOrBan(User *user, const Arguments &arguments, bool ban);
    void setSquelched(User *user, QByteArrayView target, bool on);

    QByteArray uniqueName(const QByteArray &name, int from = 1) const;
    void claimThenAdmit(ClientConnection *connection, const QByteArray &name, const QByteArray &candidate,
                        int attempt);
    void onClaimFinished(const QByteArray &name, int result);
    void admit(ClientConnection *connection, const QByteArray &name);
    void refuse(ClientConnection *connection, const QByteArray &name, const QByteArray &problem);
    User *findUser(QByteArrayView name) const;
    Channel *findChannel(QByteArrayView name) const;
    bool isBanned(const User *user, QByteArrayView channelName) const;
    static bool isOperator(const User *user);
    static QByteArrayView flags(const User *user);

    void enterChannel(User *user, const QByteArray &channelName, bool logChange);
    void leaveChannel(User *user);
    void sendChannelState(User *user);
    // Sends line to every member of channel except `except`; members who
    // squelched `author` are skipped. True when a recipient is now too far behind.
    bool broadcast(Channel *channel, const QByteArray &line, const User *except = nullptr,
                   QByteArrayView author = {});
    // Sends line to the other gateways' members of channel too.
    void relay(const Channel *channel, const QByteArray &line, QByteArrayView author = {});
    // True when the recipient is now too far behind.
    bool sendTo(const User *user, const QByteArray &line);

    void log(const ClientConnection *connection, const QString &what);

    // The cluster side (ChatWorld.cpp).
    bool remoteOperatorIn(const Channel *channel) const;
    void makeOperator(Channel *channel, User *user);
    void onRemoteJoined(const QByteArray &node, const QByteArray &user, const QByteArray &channel,
                        const QByteArray &flags);
    void onRemoteLeft(const QByteArray &node, const QByteArray &user, const QByteArray &channel,
                      const QByteArray &flags);
    void onKicked(const QByteArray &channel, const QByteArray &victim, const QByteArray &line, bool ban);
    void addBans(const QByteArray &channel, const QList<QByteArray> &users);
    void dropLostNames(const QList<QByteArray> &names);
    static QByteArray joined(std::initializer_list<QByteArrayView> parts);

    GatewayLimits m_limits;
    Scheduler &m_scheduler;
    bool m_senderMustWait = false; // set while handling a line
    std::map<QByteArray, std::unique_ptr<User>> m_users; // by case-folded name
    QHash<const ClientConnection *, User *> m_userByConnection;
    std::map<QByteArray, std::unique_ptr<Channel>> m_channels; // by case-folded name
    QHash<QByteArray, QSet<QByteArray>> m_bans; // channel -> user names, folded; only for channels in use

    struct PendingLogin
    {
        ClientConnection *connection = nullptr;
        QByteArray name; // as typed
        int attempt = 1;
    };
    ClusterLink *m_link = nullptr;
    NameRegistry *m_registry = nullptr;
    QHash<QByteArray, PendingLogin> m_claims; // folded name being claimed -> who waits for it
    QHash<const ClientConnection *, QByteArray> m_claimByConnection;
};
