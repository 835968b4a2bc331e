// SPDX-License-Identifier: MIT
#include "ClusterLink.h"

#include "ClusterMessage.h"
#include "NatsSupport.h"

#include <nats/nats.h>

#include <QMutex>
#include <QPointer>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <deque>
#include <map>

using NatsSupport::foldCase;

namespace ClusterDetail {

enum Event { Connected = 1, Disconnected, Reconnected, NatsSlowConsumer };

// What NATS threads hand to the link's thread. Shared by the link, the
// connection and each subscription; the last one to let go deletes it, so a
// late callback never touches freed memory.
class Inbox
{
public:
    struct Item
    {
        int event = 0; // or a message
        QByteArray subject;
        QByteArray data;
    };

    Inbox(ClusterLink *link, qsizetype limit) : m_link(link), m_limit(limit) {}

    void ref() { m_refs.fetch_add(1); }
    void release()
    {
        if (m_refs.fetch_sub(1) == 1)
            delete this;
    }

    void detach()
    {
        QMutexLocker lock(&m_mutex);
        m_link = nullptr;
        m_items.clear();
    }

    void push(Item item, std::function<void()> wake)
    {
        QMutexLocker lock(&m_mutex);
        if (!m_link)
            return;
        if (item.event == 0 && qsizetype(m_items.size()) >= m_limit) {
            ++m_dropped;
            return;
        }
        m_items.push_back(std::move(item));
        if (!m_wakePosted) {
            m_wakePosted = true;
            // Posted while the link is known alive; Qt discards it if the
            // link is deleted before it runs.
            wake();
        }
    }

    ClusterLink *link() const { return m_link; }

    // Up to max items; wakeAgain is set when more are left.
    std::deque<Item> take(qsizetype max, qint64 *dropped)
    {
        QMutexLocker lock(&m_mutex);
        std::deque<Item> batch;
        while (!m_items.empty() && qsizetype(batch.size()) < max) {
            batch.push_back(std::move(m_items.front()));
            m_items.pop_front();
        }
        m_wakePosted = !m_items.empty();
        *dropped = m_dropped;
        return batch;
    }
    bool empty()
    {
        QMutexLocker lock(&m_mutex);
        return m_items.empty();
    }

private:
    ~Inbox() = default;

    QMutex m_mutex;
    ClusterLink *m_link;
    const qsizetype m_limit;
    std::deque<Item> m_items;
    bool m_wakePosted = false;
    qint64 m_dropped = 0;
    std::atomic<int> m_refs{1};
};

namespace {

void wakeLink(Inbox *inbox);

void onMessage(natsConnection *, natsSubscription *, natsMsg *msg, void *closure)
{
    auto *inbox = static_cast<Inbox *>(closure);
    Inbox::Item item;
    item.subject = QByteArray(natsMsg_GetSubject(msg));
    item.data = QByteArray(natsMsg_GetData(msg), natsMsg_GetDataLength(msg));
    natsMsg_Destroy(msg);
    inbox->push(std::move(item), [inbox] { wakeLink(inbox); });
}

void pushEvent(void *closure, int event)
{
    auto *inbox = static_cast<Inbox *>(closure);
    inbox->push({event, {}, {}}, [inbox] { wakeLink(inbox); });
}

void onConnected(natsConnection *, void *closure) { pushEvent(closure, Connected); }
void onDisconnected(natsConnection *, void *closure) { pushEvent(closure, Disconnected); }
void onReconnected(natsConnection *, void *closure) { pushEvent(closure, Reconnected); }
void onClosed(natsConnection *, void *closure) { static_cast<Inbox *>(closure)->release(); }
void onSubscriptionDone(void *closure) { static_cast<Inbox *>(closure)->release(); }
void onError(natsConnection *, natsSubscription *, natsStatus status, void *closure)
{
    if (status == NATS_SLOW_CONSUMER)
        pushEvent(closure, NatsSlowConsumer);
}

} // namespace

// The NATS connection and subscriptions; used on the worker thread only.
class NatsWorker
{
public:
    NatsWorker(NatsSupport::ConnectionSettings settings, Inbox *inbox)
        : m_settings(std::move(settings)), m_inbox(inbox)
    {
        m_inbox->ref();
    }
    ~NatsWorker()
    {
        close();
        m_inbox->release();
    }

    QByteArray open()
    {
        QByteArray error;
        natsOptions *options = NatsSupport::createOptions(m_settings, &error);
        if (!options)
            return error;
        m_inbox->ref(); // for the connection, released when it is closed
        natsOptions_SetDisconnectedCB(options, onDisconnected, m_inbox);
        natsOptions_SetReconnectedCB(options, onReconnected, m_inbox);
        natsOptions_SetClosedCB(options, onClosed, m_inbox);
        natsOptions_SetErrorHandler(options, onError, m_inbox);
        natsOptions_SetRetryOnFailedConnect(options, true, onConnected, m_inbox);
        // A node never hears itself.
        natsOptions_SetNoEcho(options, true);
        const natsStatus s = natsConnection_Connect(&m_connection, options);
        natsOptions_Destroy(options);
        if (s == NATS_OK) {
            pushEvent(m_inbox, Connected);
        } else if (s != NATS_NOT_YET_CONNECTED) {
            m_connection = nullptr;
            m_inbox->release();
            return NatsSupport::lastError(s);
        }
        return {};
    }

    natsStatus publish(const QByteArray &subject, const QByteArray &data)
    {
        if (!m_connection)
            return NATS_CONNECTION_CLOSED;
        return natsConnection_Publish(m_connection, subject.constData(), data.constData(),
                                      int(data.size()));
    }

    void subscribe(const QByteArray &subject)
    {
        destroyRetired(false);
        if (!m_connection || m_subscriptions.count(subject))
            return;
        natsSubscription *sub = nullptr;
        if (natsConnection_Subscribe(&sub, m_connection, subject.constData(), onMessage, m_inbox)
            != NATS_OK)
            return;
        m_inbox->ref();
        natsSubscription_SetOnCompleteCB(sub, onSubscriptionDone, m_inbox);
        // The link's own bounded queue is where falling behind is measured;
        // the library's limits only guard against a stalled link thread.
        natsSubscription_SetPendingLimits(sub, 1 << 20, 256 << 20);
        m_subscriptions.emplace(subject, sub);
    }

    // The library may still be delivering to a subscription it was just told
    // to end; destroying it at once races with that (and crashed under
    // churn), so it is destroyed a while later.
    void unsubscribe(const QByteArray &subject)
    {
        destroyRetired(false);
        const auto it = m_subscriptions.find(subject);
        if (it == m_subscriptions.end())
            return;
        natsSubscription_Unsubscribe(it->second);
        m_retired.push_back({it->second, NatsSupport::monotonicNs()});
        m_subscriptions.erase(it);
    }

    // Destroys the subscriptions ended long enough ago, or all of them.
    void destroyRetired(bool all)
    {
        const qint64 before = NatsSupport::monotonicNs() - kRetiredNs;
        while (!m_retired.empty() && (all || m_retired.front().sinceNs < before)) {
            natsSubscription_Destroy(m_retired.front().sub);
            m_retired.pop_front();
        }
    }

    void close()
    {
        if (!m_connection)
            return;
        destroyRetired(true);
        for (auto &[subject, sub] : m_subscriptions)
            natsSubscription_Destroy(sub);
        m_subscriptions.clear();
        natsConnection_Close(m_connection);
        natsConnection_Destroy(m_connection);
        m_connection = nullptr;
    }

    void flush(int timeoutMs)
    {
        if (m_connection)
            natsConnection_FlushTimeout(m_connection, timeoutMs);
    }

    qsizetype retiredCount() const { return qsizetype(m_retired.size()); }

private:
    struct Retired
    {
        natsSubscription *sub;
        qint64 sinceNs;
    };
    static constexpr qint64 kRetiredNs = 2'000'000'000;

    NatsSupport::ConnectionSettings m_settings;
    Inbox *m_inbox;
    natsConnection *m_connection = nullptr;
    std::map<QByteArray, natsSubscription *> m_subscriptions;
    std::deque<Retired> m_retired;
};

namespace {

void wakeLink(Inbox *inbox)
{
    // Called with the inbox locked and its link alive.
    ClusterLink *link = inbox->link();
    QMetaObject::invokeMethod(link, "drainInbox", Qt::QueuedConnection);
}

} // namespace

} // namespace ClusterDetail

using namespace ClusterDetail;
using Kind = ClusterMessage::Kind;

namespace {

// Messages handled per turn of the event loop, so local users get turns too.
constexpr qsizetype kBatch = 512;
// A hostile peer must not fill the log.
constexpr qint64 kRejectLogsInFull = 20;
// Users per snapshot message: 400 of the largest entries take about 56 KiB.
constexpr qsizetype kSnapshotPart = 400;

} // namespace

ClusterLink::ClusterLink(ClusterSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings))
{
    m_settings.urls = NatsSupport::splitUrls(m_settings.urls);
    m_incarnation = QRandomGenerator::global()->generate64() | 1;
    m_clock.start();
    m_heartbeat.setInterval(m_settings.heartbeatMs);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] {
        // While NATS is away a heartbeat would only wait in the library's buffer.
        if (m_up) {
            ClusterMessage beat;
            beat.kind = Kind::Heartbeat;
            publish(NatsSupport::presenceSubject(), beat);
        }
        sweepPeers();
        post([](NatsWorker &worker) { worker.destroyRetired(false); });
    });
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(m_settings.caughtUpAfterMs);
    connect(&m_quiet, &QTimer::timeout, this, &ClusterLink::noteDrops);
    m_idleSweep.setInterval(qMax(20, m_settings.idleSubscriptionMs / 4));
    connect(&m_idleSweep, &QTimer::timeout, this, &ClusterLink::dropIdleSubscriptions);
}

ClusterLink::~ClusterLink()
{
    stop(true);
}

QByteArray ClusterLink::settingsProblem() const
{
    if (m_settings.urls.isEmpty())
        return "no NATS server given";
    if (QByteArray problem = nodeNameProblem(m_settings.node); !problem.isEmpty())
        return problem;
    return {};
}

void ClusterLink::start()
{
    if (m_started || !settingsProblem().isEmpty())
        return;
    m_started = true;
    m_inbox = new Inbox(this, m_settings.maxPendingMessages);
    NatsSupport::ConnectionSettings connection;
    connection.urls = m_settings.urls;
    connection.name = "vesk-gateway " + m_settings.node;
    connection.reconnectWaitMs = m_settings.reconnectWaitMs;
    m_worker = new NatsWorker(connection, m_inbox);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("cluster-link"));
    m_workerContext = new QObject;
    m_workerContext->moveToThread(m_thread);
    m_thread->start();

    const QByteArray node = m_settings.node;
    QPointer<ClusterLink> self(this);
    post([node](NatsWorker &worker) {
        const QByteArray error = worker.open();
        if (!error.isEmpty())
            qWarning("cluster link %s: %s", node.constData(), error.constData());
    });
    // Subscriptions are sent before anything is published, in one stream, so
    // the answers to the hello below cannot arrive before this node listens.
    const QByteArray own = NatsSupport::nodeSubject(m_settings.node);
    const QByteArray presence = NatsSupport::presenceSubject();
    post([own, presence](NatsWorker &worker) {
        worker.subscribe(own);
        worker.subscribe(presence);
    });
    sendHello();
    m_heartbeat.start();
    emit logMessage(QStringLiteral("cluster: node %1 connecting to %2")
                            .arg(QString::fromUtf8(m_settings.node), m_settings.urls.join(u',')));
}

void ClusterLink::abandon()
{
    stop(false);
}

void ClusterLink::stop(bool sayBye)
{
    if (!m_started || m_stopped)
        return;
    m_stopped = true;
    m_heartbeat.stop();
    m_quiet.stop();
    m_idleSweep.stop();
    if (sayBye) {
        ClusterMessage bye;
        bye.kind = Kind::Bye;
        publish(NatsSupport::presenceSubject(), bye);
        post([](NatsWorker &worker) { worker.flush(500); });
    }
    m_inbox->detach();
    NatsSupport::endWorkerThread(std::exchange(m_thread, nullptr), std::exchange(m_workerContext, nullptr),
                                 [worker = std::exchange(m_worker, nullptr)] { delete worker; });
    m_inbox->release();
    m_inbox = nullptr;
    m_up = false;
}

void ClusterLink::post(std::function<void(NatsWorker &)> job)
{
    if (!m_worker)
        return;
    NatsWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_workerContext, [worker, job = std::move(job)] { job(*worker); });
}

void ClusterLink::publish(const QByteArray &subject, ClusterMessage &message)
{
    if (!m_worker)
        return;
    message.origin = m_settings.node;
    message.incarnation = m_incarnation;
    message.seq = ++m_nextSeq[subject];
    const QByteArray bytes = encodeClusterMessage(message);
    if (bytes.isEmpty()) {
        --m_nextSeq[subject];
        emit logMessage(QStringLiteral("cluster: not sent, cannot be encoded (kind %1)")
                                .arg(int(message.kind)));
        return;
    }
    ++m_stats.published;
    post([subject, bytes](NatsWorker &worker) {
        // While NATS is away the library buffers; only a full buffer loses lines,
        // which readers then see as a gap.
        worker.publish(subject, bytes);
    });
}

void ClusterLink::drainInbox()
{
    if (!m_inbox)
        return;
    qint64 dropped = 0;
    std::deque<Inbox::Item> batch = m_inbox->take(kBatch, &dropped);
    if (dropped != m_droppedSeen) {
        m_stats.dropped = dropped;
        m_droppedSeen = dropped;
        startSlowSpell(QStringLiteral("falling behind, dropped messages"));
    }
    for (Inbox::Item &item : batch) {
        if (!m_inbox)
            return; // stopped by a slot connected to one of the signals
        if (item.event)
            handleEvent(item.event);
        else
            handleMessage(item.subject, item.data);
    }
    // The inbox posts no new wake-up while one batch follows another.
    if (m_inbox && batch.size() == size_t(kBatch))
        QMetaObject::invokeMethod(this, "drainInbox", Qt::QueuedConnection);
}

// Lines of any channel may be gone: each channel with local members hears so once.
void ClusterLink::startSlowSpell(const QString &why)
{
    m_quiet.start();
    if (m_slow)
        return;
    m_slow = true;
    emit logMessage(QStringLiteral("cluster: %1").arg(why));
    emit slowConsumer();
    const QList<LocalChannel> channels = m_localChannels.values();
    for (const LocalChannel &channel : channels)
        reportMissing(channel.name);
}

// A slow spell ends when the quiet timer runs out without new drops.
void ClusterLink::noteDrops()
{
    if (!m_slow)
        return;
    if (m_inbox && !m_inbox->empty()) {
        m_quiet.start();
        return;
    }
    m_slow = false;
    emit logMessage(QStringLiteral("cluster: caught up"));
    emit caughtUp();
}

void ClusterLink::handleEvent(int event)
{
    switch (event) {
    case Connected:
    case Reconnected: {
        if (m_up)
            return;
        m_up = true;
        const bool afterOutage = m_everUp;
        m_everUp = true;
        emit logMessage(QStringLiteral("cluster: connected to NATS"));
        if (afterOutage) {
            // Our own outage is not the peers' silence.
            for (Peer &peer : m_peers)
                peer.lastSeenMs = nowMs();
            sendHello();
        }
        emit linkUp(afterOutage);
        if (afterOutage) {
            const QList<LocalChannel> channels = m_localChannels.values();
            for (const LocalChannel &channel : channels)
                reportMissing(channel.name);
        }
        break;
    }
    case Disconnected:
        if (!m_up)
            return;
        m_up = false;
        emit logMessage(QStringLiteral("cluster: lost NATS, reconnecting"));
        emit linkDown();
        break;
    case NatsSlowConsumer:
        startSlowSpell(QStringLiteral("NATS reports this node as a slow consumer"));
        break;
    }
}

void ClusterLink::handleMessage(const QByteArray &subject, const QByteArray &bytes)
{
    ClusterDecodeResult decoded = decodeClusterMessage(bytes);
    if (!decoded.message) {
        ++m_stats.rejected;
        if (++m_rejectLogs <= kRejectLogsInFull || m_rejectLogs % 1000 == 0) {
            emit logMessage(QStringLiteral("cluster: dropped a message on %1: %2 (%3 so far)")
                                    .arg(QString::fromLatin1(subject.left(80)),
                                         QString::fromLatin1(decoded.problem))
                                    .arg(m_rejectLogs));
        }
        return;
    }
    const ClusterMessage &m = *decoded.message;
    if (m.origin == m_settings.node && m.incarnation == m_incarnation)
        return;
    // Late for a subscription already ended: its numbers are no longer followed.
    if (subject.startsWith(NatsSupport::channelSubjectPrefix()) && !m_channelBySubject.contains(subject))
        return;
    notePeer(m);
    if (!acceptSequence(subject, m))
        return;
    ++m_stats.received;

    switch (m.kind) {
    case Kind::Hello:
    case Kind::SnapshotRequest:
        sendSnapshot(m.origin);
        break;
    case Kind::Bye:
        loseNode(m.origin, QStringLiteral("left"));
        break;
    case Kind::Heartbeat:
        break;
    case Kind::Snapshot: {
        // Parts of one snapshot follow each other; a part out of turn starts afresh.
        const qint64 remaining = m.flags.toLongLong();
        PendingSnapshot &pending = m_pendingSnapshots[m.origin];
        if (pending.remaining != remaining + 1)
            pending.members.clear();
        pending.members.append(m.members);
        pending.remaining = remaining;
        if (remaining == 0) {
            const QList<ClusterMember> members = std::move(pending.members);
            m_pendingSnapshots.remove(m.origin);
            applySnapshot(m.origin, members);
        }
        break;
    }
    case Kind::Join:
        addRemote(m.origin, m.user, m.channel, m.flags);
        break;
    case Kind::Leave:
        removeRemote(m.origin, m.user, m.channel);
        break;
    case Kind::ChannelLine:
        if (m_localChannels.contains(foldCase(m.channel)))
            emit lineForChannel(m.channel, m.user, m.payload);
        break;
    case Kind::Whisper:
        if (m_localUsers.contains(foldCase(m.target)))
            emit whisperFor(m.target, m.user, m.payload);
        break;
    case Kind::Kick:
    case Kind::Ban:
        if (m_localChannels.contains(foldCase(m.channel)))
            emit kicked(m.channel, m.user, m.target, m.payload, m.kind == Kind::Ban);
        break;
    case Kind::BanListRequest:
        if (m_banListProvider && m_localChannels.contains(foldCase(m.channel))) {
            ClusterMessage answer;
            answer.kind = Kind::BanList;
            answer.channel = m.channel;
            // Bans per channel are capped by the gateway far below one message's worth.
            const QList<QByteArray> bans = m_banListProvider(m.channel).mid(0, kSnapshotPart);
            for (const QByteArray &user : bans)
                answer.members.append({user, m.channel, "0"});
            if (!answer.members.isEmpty())
                publish(NatsSupport::nodeSubject(m.origin), answer);
        }
        break;
    case Kind::BanList:
        if (m_localChannels.contains(foldCase(m.channel))) {
            QList<QByteArray> users;
            for (const ClusterMember &member : m.members)
                users.append(member.user);
            emit bansLearned(m.channel, users);
        }
        break;
    }
}

// Drops what was seen already; a jump means lines were lost on the way.
bool ClusterLink::acceptSequence(const QByteArray &subject, const ClusterMessage &m)
{
    quint64 &last = m_lastSeq[StreamKey{m.incarnation, subject}];
    if (m.seq <= last) {
        ++m_stats.duplicates;
        return false;
    }
    const bool gap = last != 0 && m.seq != last + 1;
    last = m.seq;
    if (gap) {
        ++m_stats.gaps;
        if (const auto channel = m_channelBySubject.constFind(subject);
            channel != m_channelBySubject.constEnd()) {
            // Nobody here to tell while the subscription is only idling.
            if (m_localChannels.contains(foldCase(*channel)))
                reportMissing(*channel);
        } else if (m.kind != Kind::Snapshot) {
            // Presence was lost: ask the sender for its users again.
            ClusterMessage request;
            request.kind = Kind::SnapshotRequest;
            publish(NatsSupport::nodeSubject(m.origin), request);
        }
    }
    return true;
}

void ClusterLink::notePeer(const ClusterMessage &m)
{
    auto it = m_peers.find(m.origin);
    if (it != m_peers.end() && it->incarnation == m.incarnation) {
        it->lastSeenMs = nowMs();
        return;
    }
    if (it != m_peers.end())
        loseNode(m.origin, QStringLiteral("restarted"));
    m_peers.insert(m.origin, Peer{m.incarnation, nowMs()});
    emit logMessage(QStringLiteral("cluster: node %1 joined").arg(QString::fromLatin1(m.origin)));
    emit nodeJoined(m.origin);
    // A node met through anything but its hello or snapshot may have users.
    if (m.kind != Kind::Hello && m.kind != Kind::Snapshot) {
        ClusterMessage request;
        request.kind = Kind::SnapshotRequest;
        publish(NatsSupport::nodeSubject(m.origin), request);
    }
}

void ClusterLink::applySnapshot(const QByteArray &origin, const QList<ClusterMember> &members)
{
    QHash<QByteArray, const ClusterMember *> now;
    for (const ClusterMember &member : members)
        now.insert(foldCase(member.user), &member);
    QList<RemoteUser> gone;
    for (const RemoteUser &user : std::as_const(m_remoteUsers)) {
        if (user.node != origin)
            continue;
        const ClusterMember *member = now.value(foldCase(user.name));
        if (!member || foldCase(member->channel) != foldCase(user.channel))
            gone.append(user);
    }
    for (const RemoteUser &user : gone)
        removeRemote(user.node, user.name, user.channel);
    for (const ClusterMember &member : members) {
        const auto known = m_remoteUsers.constFind(foldCase(member.user));
        if (known == m_remoteUsers.constEnd() || known->node != origin)
            addRemote(origin, member.user, member.channel, member.flags);
    }
}

void ClusterLink::addRemote(const QByteArray &node, const QByteArray &user,
                            const QByteArray &channel, const QByteArray &flags)
{
    const QByteArray key = foldCase(user);
    if (m_localUsers.contains(key)) {
        emit nameContested(user);
        if (m_localUsers.contains(key)) {
            emit logMessage(QStringLiteral("cluster: node %1 announces %2, a name held here; ignored")
                                    .arg(QString::fromLatin1(node), QString::fromLatin1(user)));
            return;
        }
    }
    if (const auto known = m_remoteUsers.constFind(key); known != m_remoteUsers.constEnd()) {
        if (known->node == node && foldCase(known->channel) == foldCase(channel)) {
            m_remoteUsers[key].flags = flags;
            return;
        }
        const RemoteUser old = *known;
        removeRemote(old.node, old.name, old.channel);
    }
    m_remoteUsers.insert(key, RemoteUser{user, node, channel, flags});
    m_remoteOrder.insert(key, ++m_arrivals);
    emit remoteJoined(node, user, channel, flags);
}

void ClusterLink::removeRemote(const QByteArray &node, const QByteArray &user,
                               const QByteArray &channel)
{
    const QByteArray key = foldCase(user);
    const auto known = m_remoteUsers.constFind(key);
    if (known == m_remoteUsers.constEnd() || known->node != node
        || foldCase(known->channel) != foldCase(channel))
        return;
    const RemoteUser old = *known;
    m_remoteUsers.remove(key);
    m_remoteOrder.remove(key);
    emit remoteLeft(old.node, old.name, old.channel, old.flags);
}

void ClusterLink::loseNode(const QByteArray &node, const QString &why)
{
    const auto peer = m_peers.constFind(node);
    if (peer == m_peers.constEnd())
        return;
    const quint64 incarnation = peer->incarnation;
    m_peers.erase(peer);
    m_pendingSnapshots.remove(node);
    for (auto it = m_lastSeq.begin(); it != m_lastSeq.end();) {
        if (it.key().incarnation == incarnation)
            it = m_lastSeq.erase(it);
        else
            ++it;
    }
    QList<RemoteUser> gone;
    for (const RemoteUser &user : std::as_const(m_remoteUsers)) {
        if (user.node == node)
            gone.append(user);
    }
    std::sort(gone.begin(), gone.end(), [this](const RemoteUser &a, const RemoteUser &b) {
        return m_remoteOrder.value(foldCase(a.name)) < m_remoteOrder.value(foldCase(b.name));
    });
    for (const RemoteUser &user : gone)
        removeRemote(user.node, user.name, user.channel);
    emit logMessage(QStringLiteral("cluster: node %1 %2, %3 users gone")
                            .arg(QString::fromLatin1(node), why)
                            .arg(gone.size()));
    emit nodeLost(node);
}

void ClusterLink::sendSnapshot(const QByteArray &toNode)
{
    QList<ClusterMember> members;
    for (const LocalUser &user : std::as_const(m_localUsers)) {
        if (!m_snapshotFilter || m_snapshotFilter(user.name))
            members.append({user.name, user.channel, user.flags});
    }
    // A part holds at most kSnapshotPart users, which fit in a message even
    // with the longest names and channels.
    const qsizetype parts = qMax<qsizetype>(1, (members.size() + kSnapshotPart - 1) / kSnapshotPart);
    for (qsizetype part = 0; part < parts; ++part) {
        ClusterMessage snapshot;
        snapshot.kind = Kind::Snapshot;
        snapshot.flags = QByteArray::number(parts - 1 - part);
        snapshot.members = members.mid(part * kSnapshotPart, kSnapshotPart);
        publish(NatsSupport::nodeSubject(toNode), snapshot);
    }
}

void ClusterLink::sendHello()
{
    ClusterMessage hello;
    hello.kind = Kind::Hello;
    publish(NatsSupport::presenceSubject(), hello);
}

void ClusterLink::sweepPeers()
{
    if (!m_up)
        return;
    QList<QByteArray> silent;
    for (auto it = m_peers.cbegin(); it != m_peers.cend(); ++it) {
        if (nowMs() - it->lastSeenMs > m_settings.nodeTimeoutMs)
            silent.append(it.key());
    }
    for (const QByteArray &node : silent)
        loseNode(node, QStringLiteral("went silent"));
}

void ClusterLink::reportMissing(const QByteArray &channel)
{
    const QByteArray key = foldCase(channel);
    const auto reported = m_missingReportedMs.constFind(key);
    if (reported != m_missingReportedMs.constEnd() && nowMs() - *reported < m_settings.nodeTimeoutMs)
        return;
    m_missingReportedMs.insert(key, nowMs());
    emit linesMayBeMissing(channel);
}

void ClusterLink::userJoined(const QByteArray &user, const QByteArray &channel,
                             const QByteArray &flags)
{
    const QByteArray userKey = foldCase(user);
    bool counted = false; // already a member: only the flags change (a new operator)
    if (const auto known = m_localUsers.constFind(userKey); known != m_localUsers.constEnd()) {
        if (foldCase(known->channel) != foldCase(channel))
            userLeft(known->name, known->channel, known->flags);
        else
            counted = true;
    }
    m_localUsers.insert(userKey, LocalUser{user, channel, flags});
    const QByteArray channelKey = foldCase(channel);
    LocalChannel &local = m_localChannels[channelKey];
    if (!counted && local.members++ == 0) {
        local.name = channel;
        local.subject = NatsSupport::channelSubject(channel);
        m_channelBySubject.insert(local.subject, channel);
        const QByteArray subject = local.subject;
        // An idle subscription is taken up again as it is.
        if (!m_idleSinceMs.remove(subject))
            post([subject](NatsWorker &worker) { worker.subscribe(subject); });
        ClusterMessage request;
        request.kind = Kind::BanListRequest;
        request.channel = channel;
        publish(subject, request);
    }
    announce(Kind::Join, user, channel, flags);
}

void ClusterLink::userLeft(const QByteArray &user, const QByteArray &channel,
                           const QByteArray &flags)
{
    const QByteArray userKey = foldCase(user);
    const auto known = m_localUsers.constFind(userKey);
    if (known == m_localUsers.constEnd() || foldCase(known->channel) != foldCase(channel))
        return;
    m_localUsers.erase(known);
    const QByteArray channelKey = foldCase(channel);
    const auto local = m_localChannels.find(channelKey);
    if (local != m_localChannels.end() && --local->members == 0) {
        // Lines keep arriving for a while, and are not delivered to anyone.
        m_idleSinceMs.insert(local->subject, nowMs());
        m_localChannels.erase(local);
        if (!m_idleSweep.isActive())
            m_idleSweep.start();
    }
    announce(Kind::Leave, user, channel, flags);
}

void ClusterLink::announce(Kind kind, const QByteArray &user, const QByteArray &channel, const QByteArray &flags)
{
    ClusterMessage m;
    m.kind = kind;
    m.user = user;
    m.channel = channel;
    m.flags = flags;
    publish(NatsSupport::presenceSubject(), m);
}

void ClusterLink::dropIdleSubscriptions()
{
    QList<QByteArray> expired;
    for (auto it = m_idleSinceMs.cbegin(); it != m_idleSinceMs.cend(); ++it) {
        if (nowMs() - *it >= m_settings.idleSubscriptionMs)
            expired.append(it.key());
    }
    for (const QByteArray &subject : expired) {
        m_idleSinceMs.remove(subject);
        m_channelBySubject.remove(subject);
        // Numbers seen on it no longer tell anything: the next subscription starts afresh.
        for (auto it = m_lastSeq.begin(); it != m_lastSeq.end();) {
            if (it.key().subject == subject)
                it = m_lastSeq.erase(it);
            else
                ++it;
        }
        post([subject](NatsWorker &worker) { worker.unsubscribe(subject); });
    }
    if (m_idleSinceMs.isEmpty())
        m_idleSweep.stop();
}

void ClusterLink::sendChannelLine(const QByteArray &channel, const QByteArray &author,
                                  const QByteArray &line)
{
    ClusterMessage m;
    m.kind = Kind::ChannelLine;
    m.channel = channel;
    m.user = author;
    m.payload = line;
    publish(NatsSupport::channelSubject(channel), m);
}

bool ClusterLink::sendWhisper(const QByteArray &from, const QByteArray &to, const QByteArray &line)
{
    const auto holder = m_remoteUsers.constFind(foldCase(to));
    if (holder == m_remoteUsers.constEnd())
        return false;
    ClusterMessage m;
    m.kind = Kind::Whisper;
    m.user = from;
    m.target = holder->name;
    m.payload = line;
    publish(NatsSupport::nodeSubject(holder->node), m);
    return true;
}

void ClusterLink::sendKick(const QByteArray &channel, const QByteArray &op,
                           const QByteArray &victim, const QByteArray &line, bool ban)
{
    ClusterMessage m;
    m.kind = ban ? Kind::Ban : Kind::Kick;
    m.channel = channel;
    m.user = op;
    m.target = victim;
    m.payload = line;
    publish(NatsSupport::channelSubject(channel), m);
}

std::optional<ClusterLink::RemoteUser> ClusterLink::findRemoteUser(const QByteArray &name) const
{
    const auto it = m_remoteUsers.constFind(foldCase(name));
    if (it == m_remoteUsers.constEnd())
        return std::nullopt;
    return *it;
}

QList<ClusterLink::RemoteUser> ClusterLink::remoteMembers(const QByteArray &channel) const
{
    const QByteArray key = foldCase(channel);
    QList<RemoteUser> members;
    for (const RemoteUser &user : m_remoteUsers) {
        if (foldCase(user.channel) == key)
            members.append(user);
    }
    std::sort(members.begin(), members.end(), [this](const RemoteUser &a, const RemoteUser &b) {
        return m_remoteOrder.value(foldCase(a.name)) < m_remoteOrder.value(foldCase(b.name));
    });
    return members;
}

QList<QByteArray> ClusterLink::peers() const
{
    QList<QByteArray> nodes = m_peers.keys();
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

void ClusterLink::nameClaimed(const QByteArray &user)
{
    if (const auto stale = m_remoteUsers.constFind(foldCase(user)); stale != m_remoteUsers.constEnd()) {
        const RemoteUser old = *stale;
        removeRemote(old.node, old.name, old.channel);
    }
}

bool ClusterLink::isSubscribed(const QByteArray &channel) const
{
    return m_localChannels.contains(foldCase(channel))
            || m_idleSinceMs.contains(NatsSupport::channelSubject(channel));
}
