// SPDX-License-Identifier: MIT
#pragma once

#include "ClusterMessage.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace ClusterDetail {
class Inbox;
class NatsWorker;
}

struct ClusterSettings
{
    QStringList urls;         // NATS servers, tried in this order, for ever
    QByteArray node;          // this gateway's name in the network, unique
    int heartbeatMs = 1000;
    int nodeTimeoutMs = 5000; // a gateway silent this long has left, with its users
    int reconnectWaitMs = 250;
    // Messages received but not yet handled by the event loop; beyond this the
    // link drops what arrives and reports itself a slow consumer.
    int maxPendingMessages = 50000;
    int caughtUpAfterMs = 1000; // quiet time without drops that ends a slow spell
    // A channel's subscription outlives its last local member this long, so
    // users coming and going do not make and unmake subscriptions in a burst.
    int idleSubscriptionMs = 5000;
};

// The gateway's link to the other gateways of one chat network, through NATS.
//
// All NATS calls run on a worker thread; what arrives is queued (bounded) and
// handed to the thread that owns the link in batches, so a NATS outage never
// blocks the gateway's event loop. Each channel has a subject that this node
// subscribes to while it has local members there (and a few seconds after,
// see idleSubscriptionMs); each node has a subject
// for what is meant for it alone (whispers, snapshots); presence (joins,
// leaves, heartbeats) goes on one subject that every node hears.
//
// Order: everything one node sends reaches another node in the order sent
// (one connection each way, one sequence of numbers per subject), with
// duplicates dropped; so one user's lines, joins and leaves are seen in order
// everywhere. Lines of different nodes may interleave differently on
// different nodes; lines of users on the same node keep that node's order.
class ClusterLink : public QObject
{
    Q_OBJECT

public:
    struct Stats
    {
        qint64 published = 0;
        qint64 received = 0;   // accepted and handled
        qint64 duplicates = 0;
        qint64 gaps = 0;       // jumps in a sender's numbers: lines lost on the way
        qint64 rejected = 0;   // not a gateway message
        qint64 dropped = 0;    // arrived while the event loop was too far behind
    };

    explicit ClusterLink(ClusterSettings settings, QObject *parent = nullptr);
    // Says goodbye, so the others drop this node's users at once.
    ~ClusterLink() override;

    // Why the settings cannot work, or an empty string.
    QByteArray settingsProblem() const;
    // Connects in the background and keeps trying for ever; returns at once.
    void start();
    // Stops without a goodbye, as a killed process would (tests).
    void abandon();

    bool isUp() const { return m_up; }
    const QByteArray &node() const { return m_settings.node; }
    const Stats &stats() const { return m_stats; }

    // What the local world tells the network. Names are as the users typed them.
    void userJoined(const QByteArray &user, const QByteArray &channel, const QByteArray &flags);
    void userLeft(const QByteArray &user, const QByteArray &channel, const QByteArray &flags);
    // line: complete event lines for every member of channel; author: the user
    // whose squelch lists apply, or empty.
    void sendChannelLine(const QByteArray &channel, const QByteArray &author, const QByteArray &line);
    // False when no other node holds `to` (the world answers as for an unknown user).
    bool sendWhisper(const QByteArray &from, const QByteArray &to, const QByteArray &line);
    // An operator here moved victim out of channel; every node with members
    // there shows line and, for a ban, keeps the victim out.
    void sendKick(const QByteArray &channel, const QByteArray &op, const QByteArray &victim,
                  const QByteArray &line, bool ban);

    // Users for which this returns false are left out of the snapshots this
    // node sends; the world passes NameRegistry::holds, so that a node that
    // was stopped past the names' time to live never announces a name it lost.
    void setSnapshotFilter(std::function<bool(const QByteArray &user)> filter)
    {
        m_snapshotFilter = std::move(filter);
    }

    // The users banned from a channel with local members (the world keeps
    // bans). Asked when a node's first user enters that channel elsewhere.
    void setBanListProvider(std::function<QList<QByteArray>(const QByteArray &channel)> provider)
    {
        m_banListProvider = std::move(provider);
    }

    // The rest of the network as this node knows it.
    struct RemoteUser
    {
        QByteArray name, node, channel, flags;
    };
    std::optional<RemoteUser> findRemoteUser(const QByteArray &name) const;
    QList<RemoteUser> remoteMembers(const QByteArray &channel) const; // in order of arrival here
    QList<QByteArray> peers() const;
    // This node listens on the channel: it has members there, or had them lately.
    bool isSubscribed(const QByteArray &channel) const;
    // A local user was just given this name in the network: anyone shown
    // with it on another node is stale (that node lost it) and goes.
    void nameClaimed(const QByteArray &user);

signals:
    void lineForChannel(const QByteArray &channel, const QByteArray &author, const QByteArray &line);
    void whisperFor(const QByteArray &user, const QByteArray &from, const QByteArray &line);
    void remoteJoined(const QByteArray &node, const QByteArray &user, const QByteArray &channel,
                      const QByteArray &flags);
    void remoteLeft(const QByteArray &node, const QByteArray &user, const QByteArray &channel,
                    const QByteArray &flags);
    // Another node announces a user with the name of a local user: the world
    // checks at once whether it still holds that name, and drops the local
    // user if not; a local user still there keeps the name.
    void nameContested(const QByteArray &user);
    void kicked(const QByteArray &channel, const QByteArray &op, const QByteArray &victim,
                const QByteArray &line, bool ban);
    // Bans other nodes keep for a channel this node just entered.
    void bansLearned(const QByteArray &channel, const QList<QByteArray> &users);
    void nodeJoined(const QByteArray &node);
    void nodeLost(const QByteArray &node);
    void linkDown();
    // afterOutage: lines may have been missed; linesMayBeMissing follows for
    // each channel with local members, and snapshots bring the user lists back.
    void linkUp(bool afterOutage);
    // At most once per channel per incident (outage, slow spell).
    void linesMayBeMissing(const QByteArray &channel);
    void slowConsumer();
    void caughtUp();
    void logMessage(const QString &message);

private:
    struct LocalUser
    {
        QByteArray name, channel, flags;
    };
    struct LocalChannel
    {
        QByteArray name, subject;
        int members = 0;
    };
    struct Peer
    {
        quint64 incarnation = 0;
        qint64 lastSeenMs = 0;
    };
    struct PendingSnapshot
    {
        qint64 remaining = -1;
        QList<ClusterMember> members;
    };
    struct StreamKey
    {
        quint64 incarnation;
        QByteArray subject;
        friend bool operator==(const StreamKey &, const StreamKey &) = default;
        friend size_t qHash(const StreamKey &key, size_t seed = 0)
        {
            return qHashMulti(seed, key.incarnation, key.subject);
        }
    };

    void post(std::function<void(ClusterDetail::NatsWorker &)> job);
    void publish(const QByteArray &subject, ClusterMessage &message);
    Q_INVOKABLE void drainInbox();
    void handleEvent(int event);
    void handleMessage(const QByteArray &subject, const QByteArray &bytes);
    bool acceptSequence(const QByteArray &subject, const ClusterMessage &message);
    void notePeer(const ClusterMessage &message);
    void applySnapshot(const QByteArray &origin, const QList<ClusterMember> &members);
    void addRemote(const QByteArray &node, const QByteArray &user, const QByteArray &channel,
                   const QByteArray &flags);
    void removeRemote(const QByteArray &node, const QByteArray &user, const QByteArray &channel);
    void loseNode(const QByteArray &node, const QString &why);
    void sendSnapshot(const QByteArray &toNode);
    void sendHello();
    void sweepPeers();
    void reportMissing(const QByteArray &channel);
    void noteDrops();
    void announce(ClusterMessage::Kind kind, const QByteArray &user, const QByteArray &channel,
                  const QByteArray &flags);
    void dropIdleSubscriptions();
    void startSlowSpell(const QString &why);
    void stop(bool sayBye);
    qint64 nowMs() const { return m_clock.elapsed(); }

    ClusterSettings m_settings;
    quint64 m_incarnation = 0;
    bool m_started = false;
    bool m_stopped = false;
    bool m_up = false;
    bool m_everUp = false;
    bool m_slow = false;
    qint64 m_droppedSeen = 0;
    Stats m_stats;
    QElapsedTimer m_clock;
    QTimer m_heartbeat;
    QTimer m_quiet; // ends a slow spell
    QTimer m_idleSweep; // unsubscribes channels left without local members

    QThread *m_thread = nullptr;
    QObject *m_workerContext = nullptr; // lives on m_thread
    ClusterDetail::NatsWorker *m_worker = nullptr;
    ClusterDetail::Inbox *m_inbox = nullptr;

    QHash<QByteArray, LocalUser> m_localUsers;        // by folded name
    QHash<QByteArray, LocalChannel> m_localChannels;  // by folded name
    QHash<QByteArray, QByteArray> m_channelBySubject; // also of idle subscriptions
    QHash<QByteArray, qint64> m_idleSinceMs;          // subject -> when its last member left
    QHash<QByteArray, quint64> m_nextSeq;             // by subject
    QHash<StreamKey, quint64> m_lastSeq;
    QHash<QByteArray, Peer> m_peers;                  // by node
    QHash<QByteArray, PendingSnapshot> m_pendingSnapshots; // by node
    QHash<QByteArray, RemoteUser> m_remoteUsers;      // by folded name
    QHash<QByteArray, qint64> m_remoteOrder;          // folded name -> arrival number
    qint64 m_arrivals = 0;
    QHash<QByteArray, qint64> m_missingReportedMs;    // folded channel -> when
    qint64 m_rejectLogs = 0;
    std::function<bool(const QByteArray &)> m_snapshotFilter;
    std::function<QList<QByteArray>(const QByteArray &)> m_banListProvider;
};
