// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class QThread;

namespace ClusterDetail {
class KvWorker;
}

struct NameRegistrySettings
{
    QStringList urls;
    QByteArray node;
    QByteArray bucket = "vesk_names";
    int ttlMs = 15000;          // a name not refreshed for this long is free again
    int requestTimeoutMs = 2000;
    int reconnectWaitMs = 250;
};

// User names, unique across the network: a JetStream key-value bucket with
// one key per case-folded name, created only if absent, so of several nodes
// claiming one name at once exactly one wins. The bucket's time to live frees
// the names of a node that died; the holding node refreshes its keys every
// third of it, each with the revision it last wrote, so a name taken over by
// someone else meanwhile is noticed. A node that cannot refresh a name for
// most of the time to live gives it up before it can expire: the gateway
// drops that user rather than risk two users with one name.
//
// Requests to NATS run on a worker thread; results come back as signals.
class NameRegistry : public QObject
{
    Q_OBJECT

public:
    enum class Claim { Won, Taken, Unavailable };
    Q_ENUM(Claim)

    explicit NameRegistry(NameRegistrySettings settings, QObject *parent = nullptr);
    ~NameRegistry() override;

    void start();
    // Stops without releasing anything, as a killed process would (tests).
    void abandon();

    // Answers with claimFinished.
    void claim(const QByteArray &name);
    // Gives the name back at once; answered with released (also when it was gone).
    void release(const QByteArray &name);
    // True only while the name is held and certainly not yet expired, also
    // after the event loop stood still (the process was stopped).
    bool holds(const QByteArray &name) const;
    int heldCount() const { return int(m_held.size()); }

    // How long a held name stays safe after a successful write.
    qint64 safeForMs() const;
    // Gives up at once (namesLost) the names past their safe time, without
    // waiting for the next check: after the event loop stood still.
    void expireOverdue();

signals:
    void claimFinished(const QByteArray &name, NameRegistry::Claim result);
    void released(const QByteArray &name);
    // Names this node no longer holds: their users must go.
    void namesLost(const QList<QByteArray> &names);
    void logMessage(const QString &message);

private:
    struct Held
    {
        QByteArray name;
        quint64 revision = 0;
        qint64 safeUntilNs = 0;
    };
    struct RefreshResult
    {
        QByteArray key;
        quint64 sentRevision = 0;
        quint64 revision = 0; // 0: failed
        bool conflict = false;
        qint64 startedNs = 0;
    };

    void post(std::function<void(ClusterDetail::KvWorker &)> job);
    void refresh();
    void onRefreshed(const QList<RefreshResult> &results);
    void checkDeadlines();
    void adoptBucketTtl(qint64 bucketTtlMs);
    void loseNames(const QList<QByteArray> &keys, const char *why);
    void deleteKey(const QByteArray &key, quint64 revision, const QByteArray &name, bool announce);
    void stop();

    NameRegistrySettings m_settings;
    bool m_started = false;
    bool m_stopped = false;
    bool m_refreshing = false;
    qint64 m_ttlMs = 0; // the shorter of the settings' and the bucket's
    QThread *m_thread = nullptr;
    QObject *m_workerContext = nullptr;
    ClusterDetail::KvWorker *m_worker = nullptr;
    QHash<QByteArray, Held> m_held; // by key
    QTimer m_refreshTimer;
    QTimer m_deadlineTimer;
};
