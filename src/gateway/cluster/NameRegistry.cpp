// SPDX-License-Identifier: MIT
#include "NameRegistry.h"

#include "NatsSupport.h"

#include <nats/nats.h>

#include <QThread>

using NatsSupport::monotonicNs;

namespace ClusterDetail {

namespace {

void onConnected(natsConnection *, void *) {}

// The server says the key is not where the request expected it: someone else has it.
bool isConflict(natsStatus s, jsErrCode code = jsErrCode(0))
{
    if (s != NATS_ERR)
        return false;
    if (code == JSStreamWrongLastSequenceErr)
        return true;
    const QByteArray error = NatsSupport::lastError(s);
    return error.contains("wrong last sequence") || error.contains("key exists");
}

} // namespace

// The registry's own connection and bucket; used on the worker thread only.
class KvWorker
{
public:
    KvWorker(const NameRegistrySettings &settings, std::function<void(qint64)> bucketTtlKnown)
        : m_settings(settings), m_bucketTtlKnown(std::move(bucketTtlKnown))
    {
    }
    ~KvWorker()
    {
        if (m_kv)
            kvStore_Destroy(m_kv);
        if (m_js)
            jsCtx_Destroy(m_js);
        if (m_connection) {
            natsConnection_Close(m_connection);
            natsConnection_Destroy(m_connection);
        }
    }

    void open()
    {
        NatsSupport::ConnectionSettings connection;
        connection.urls = m_settings.urls;
        connection.name = "vesk-gateway names " + m_settings.node;
        connection.reconnectWaitMs = m_settings.reconnectWaitMs;
        QByteArray error;
        natsOptions *options = NatsSupport::createOptions(connection, &error);
        if (!options) {
            qWarning("name registry: %s", error.constData());
            return;
        }
        natsOptions_SetRetryOnFailedConnect(options, true, onConnected, nullptr);
        const natsStatus s = natsConnection_Connect(&m_connection, options);
        natsOptions_Destroy(options);
        if (s != NATS_OK && s != NATS_NOT_YET_CONNECTED) {
            m_connection = nullptr;
            qWarning("name registry: %s", NatsSupport::lastError(s).constData());
            return;
        }
        jsOptions jsOpts;
        jsOptions_Init(&jsOpts);
        jsOpts.Wait = m_settings.requestTimeoutMs;
        if (natsConnection_JetStream(&m_js, m_connection, &jsOpts) != NATS_OK)
            m_js = nullptr;
    }

    // The bucket, bound or created on first use and after a failure.
    kvStore *kv()
    {
        if (m_kv || !m_js)
            return m_kv;
        if (js_KeyValue(&m_kv, m_js, m_settings.bucket.constData()) == NATS_OK) {
            readBucketTtl();
            return m_kv;
        }
        m_kv = nullptr;
        kvConfig config;
        kvConfig_Init(&config);
        config.Bucket = m_settings.bucket.constData();
        config.History = 1;
        config.TTL = int64_t(m_settings.ttlMs) * 1000000; // nanoseconds
        config.StorageType = js_FileStorage; // claims outlive a NATS restart
        const natsStatus s = js_CreateKeyValue(&m_kv, m_js, &config);
        if (s == NATS_OK) {
            readBucketTtl();
            return m_kv;
        }
        m_kv = nullptr;
        m_lastError = NatsSupport::lastError(s);
        // Another node may have created it at the same moment.
        if (js_KeyValue(&m_kv, m_js, m_settings.bucket.constData()) != NATS_OK)
            m_kv = nullptr;
        else
            readBucketTtl();
        return m_kv;
    }

    NameRegistry::Claim claim(const QByteArray &key, uint64_t *revision)
    {
        const natsStatus s = onBucket([&](kvStore *store) {
            return kvStore_Create(revision, store, key.constData(), m_settings.node.constData(),
                                  int(m_settings.node.size()));
        });
        if (s == NATS_INVALID_ARG)
            return NameRegistry::Claim::Unavailable;
        if (s == NATS_OK)
            return NameRegistry::Claim::Won;
        m_lastError = NatsSupport::lastError(s);
        return isConflict(s) ? NameRegistry::Claim::Taken : NameRegistry::Claim::Unavailable;
    }

    // New revision, or 0; *conflict when someone else wrote the key since.
    // A key that is gone altogether (the server the gateways moved to never
    // had it) is written afresh, only if still absent.
    quint64 update(const QByteArray &key, quint64 last, bool *conflict)
    {
        *conflict = false;
        uint64_t revision = 0;
        natsStatus s = onBucket([&](kvStore *store) {
            return kvStore_Update(&revision, store, key.constData(), m_settings.node.constData(),
                                  int(m_settings.node.size()), last);
        });
        if (s == NATS_OK)
            return revision;
        if (s == NATS_INVALID_ARG || !isConflict(s))
            return 0;
        if (isAbsent(key)) {
            s = onBucket([&](kvStore *store) {
                return kvStore_Create(&revision, store, key.constData(), m_settings.node.constData(),
                                      int(m_settings.node.size()));
            });
            if (s == NATS_OK)
                return revision;
        }
        *conflict = isConflict(s);
        return 0;
    }

    // Deletes the key only if it is still at `last`: a name that expired and
    // went to someone else is left alone.
    bool remove(const QByteArray &key, quint64 last)
    {
        if (!kv())
            return false;
        natsMsg *msg = nullptr;
        const QByteArray subject = "$KV." + m_settings.bucket + '.' + key;
        if (natsMsg_Create(&msg, subject.constData(), nullptr, nullptr, 0) != NATS_OK)
            return false;
        natsMsgHeader_Set(msg, "KV-Operation", "DEL");
        jsPubOptions options;
        jsPubOptions_Init(&options);
        options.ExpectLastSubjectSeq = last;
        jsErrCode code = jsErrCode(0);
        const natsStatus s = js_PublishMsg(nullptr, m_js, msg, &options, &code);
        natsMsg_Destroy(msg);
        return s == NATS_OK;
    }

    // The last failure, for the log.
    QByteArray takeError() { return std::exchange(m_lastError, {}); }

private:
    // Runs request on the bucket; when nothing answers for the bucket (the
    // connection moved to a server without it), binds or creates it again
    // once. NATS_INVALID_ARG: no bucket at all.
    template <typename Request>
    natsStatus onBucket(Request request)
    {
        kvStore *store = kv();
        if (!store)
            return NATS_INVALID_ARG;
        natsStatus s = retried([&] { return request(store); });
        if (s != NATS_NO_RESPONDERS && s != NATS_NOT_FOUND)
            return s;
        kvStore_Destroy(m_kv);
        m_kv = nullptr;
        store = kv();
        if (!store)
            return NATS_INVALID_ARG;
        return retried([&] { return request(store); });
    }

    // The key has no value: never written here, expired, or deleted.
    bool isAbsent(const QByteArray &key)
    {
        kvEntry *entry = nullptr;
        const natsStatus s = kvStore_Get(&entry, m_kv, key.constData());
        if (entry)
            kvEntry_Destroy(entry);
        return s == NATS_NOT_FOUND;
    }

    void readBucketTtl()
    {
        jsStreamInfo *info = nullptr;
        jsErrCode code = jsErrCode(0);
        const QByteArray stream = "KV_" + m_settings.bucket;
        if (js_GetStreamInfo(&info, m_js, stream.constData(), nullptr, &code) != NATS_OK || !info)
            return;
        // The node that created the bucket chose its time to live.
        if (info->Config && info->Config->MaxAge > 0)
            m_bucketTtlKnown(info->Config->MaxAge / 1000000);
        jsStreamInfo_Destroy(info);
    }

    // A bucket created a moment ago may not listen yet: the request finds no
    // responder at once. That passes within milliseconds. An answer that took
    // long (the connection was moving to another server) is not tried again here.
    template <typename Request>
    static natsStatus retried(Request request)
    {
        qint64 startedNs = NatsSupport::monotonicNs();
        natsStatus s = request();
        for (int i = 0; i < 5 && s == NATS_NO_RESPONDERS && NatsSupport::monotonicNs() - startedNs < kQuickNs; ++i) {
            QThread::msleep(20);
            startedNs = NatsSupport::monotonicNs();
            s = request();
        }
        return s;
    }
    static constexpr qint64 kQuickNs = 200'000'000;

    NameRegistrySettings m_settings;
    QByteArray m_lastError;
    std::function<void(qint64)> m_bucketTtlKnown;
    natsConnection *m_connection = nullptr;
    jsCtx *m_js = nullptr;
    kvStore *m_kv = nullptr;
};

} // namespace ClusterDetail

using ClusterDetail::KvWorker;

NameRegistry::NameRegistry(NameRegistrySettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings))
{
    m_settings.urls = NatsSupport::splitUrls(m_settings.urls);
    m_ttlMs = m_settings.ttlMs;
    m_refreshTimer.setInterval(qMax(1, m_settings.ttlMs / 3));
    connect(&m_refreshTimer, &QTimer::timeout, this, &NameRegistry::refresh);
    m_deadlineTimer.setInterval(qBound(20, m_settings.ttlMs / 20, 250));
    connect(&m_deadlineTimer, &QTimer::timeout, this, &NameRegistry::checkDeadlines);
}

NameRegistry::~NameRegistry()
{
    // Names still held are given back, best effort, before the connection closes.
    if (m_started && !m_stopped) {
        for (auto it = m_held.cbegin(); it != m_held.cend(); ++it) {
            const QByteArray key = it.key();
            const quint64 revision = it->revision;
            post([key, revision](KvWorker &worker) { worker.remove(key, revision); });
        }
    }
    stop();
}

qint64 NameRegistry::safeForMs() const
{
    // A fifth of the time to live is left as margin for clocks and delays.
    return m_ttlMs - m_ttlMs / 5;
}

// Names expire after the bucket's time to live, whatever this node was told:
// a shorter one is kept to, so a name is never thought safe after it expired.
void NameRegistry::adoptBucketTtl(qint64 bucketTtlMs)
{
    const qint64 ttl = qMin<qint64>(m_settings.ttlMs, bucketTtlMs);
    if (ttl == m_ttlMs)
        return;
    const qint64 shorterNs = (safeForMs() - (ttl - ttl / 5)) * 1000000;
    m_ttlMs = ttl;
    for (Held &held : m_held)
        held.safeUntilNs -= shorterNs;
    m_refreshTimer.setInterval(int(qMax<qint64>(1, m_ttlMs / 3)));
    m_deadlineTimer.setInterval(int(qBound(qint64(20), m_ttlMs / 20, qint64(250))));
    emit logMessage(QStringLiteral("names: the bucket keeps names for %1 ms; refreshing to match").arg(m_ttlMs));
    checkDeadlines();
}

void NameRegistry::start()
{
    if (m_started)
        return;
    m_started = true;
    m_worker = new KvWorker(m_settings, [this](qint64 ttlMs) {
        QMetaObject::invokeMethod(this, [this, ttlMs] { adoptBucketTtl(ttlMs); });
    });
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("name-registry"));
    m_workerContext = new QObject;
    m_workerContext->moveToThread(m_thread);
    m_thread->start();
    post([](KvWorker &worker) {
        worker.open();
        worker.kv();
    });
    m_refreshTimer.start();
    m_deadlineTimer.start();
}

void NameRegistry::abandon()
{
    m_held.clear();
    stop();
}

void NameRegistry::stop()
{
    if (!m_started || m_stopped)
        return;
    m_stopped = true;
    m_refreshTimer.stop();
    m_deadlineTimer.stop();
    NatsSupport::endWorkerThread(std::exchange(m_thread, nullptr), std::exchange(m_workerContext, nullptr),
                                 [worker = std::exchange(m_worker, nullptr)] { delete worker; });
}

void NameRegistry::post(std::function<void(KvWorker &)> job)
{
    if (!m_worker)
        return;
    KvWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_workerContext, [worker, job = std::move(job)] { job(*worker); });
}

void NameRegistry::claim(const QByteArray &name)
{
    const QByteArray key = NatsSupport::nameKey(name);
    if (!m_worker || m_held.contains(key)) {
        const Claim result = m_worker ? Claim::Taken : Claim::Unavailable;
        QMetaObject::invokeMethod(this, [this, name, result] { emit claimFinished(name, result); },
                                  Qt::QueuedConnection);
        return;
    }
    post([this, key, name](KvWorker &worker) {
        const qint64 startedNs = monotonicNs();
        uint64_t revision = 0;
        const Claim result = worker.claim(key, &revision);
        const QByteArray error = result == Claim::Unavailable ? worker.takeError() : QByteArray();
        QMetaObject::invokeMethod(this, [this, key, name, result, revision, startedNs, error] {
            if (!error.isEmpty())
                emit logMessage(QStringLiteral("names: cannot claim: %1").arg(QString::fromUtf8(error)));
            if (result == Claim::Won) {
                m_held.insert(key, Held{name, revision, startedNs + safeForMs() * 1000000});
                // Already too late (the loop stood still): it must not count as held.
                if (!holds(name)) {
                    deleteKey(key, revision, name, false);
                    m_held.remove(key);
                    emit claimFinished(name, Claim::Unavailable);
                    return;
                }
            }
            emit claimFinished(name, result);
        });
    });
}

void NameRegistry::release(const QByteArray &name)
{
    const QByteArray key = NatsSupport::nameKey(name);
    const auto held = m_held.constFind(key);
    if (held == m_held.constEnd()) {
        QMetaObject::invokeMethod(this, [this, name] { emit released(name); }, Qt::QueuedConnection);
        return;
    }
    const quint64 revision = held->revision;
    m_held.erase(held);
    deleteKey(key, revision, name, true);
}

void NameRegistry::deleteKey(const QByteArray &key, quint64 revision, const QByteArray &name,
                             bool announce)
{
    post([this, key, revision, name, announce](KvWorker &worker) {
        worker.remove(key, revision);
        if (announce)
            QMetaObject::invokeMethod(this, [this, name] { emit released(name); });
    });
}

bool NameRegistry::holds(const QByteArray &name) const
{
    const auto held = m_held.constFind(NatsSupport::nameKey(name));
    return held != m_held.constEnd() && monotonicNs() < held->safeUntilNs;
}

void NameRegistry::refresh()
{
    checkDeadlines();
    if (m_refreshing || m_held.isEmpty())
        return;
    m_refreshing = true;
    QList<RefreshResult> batch;
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        batch.append(RefreshResult{it.key(), it->revision});
    post([this, batch](KvWorker &worker) mutable {
        for (RefreshResult &item : batch) {
            item.startedNs = monotonicNs();
            item.revision = worker.update(item.key, item.sentRevision, &item.conflict);
        }
        QMetaObject::invokeMethod(this, [this, batch] { onRefreshed(batch); });
    });
}

void NameRegistry::onRefreshed(const QList<RefreshResult> &results)
{
    m_refreshing = false;
    QList<QByteArray> taken;
    int failed = 0;
    for (const RefreshResult &result : results) {
        const auto held = m_held.find(result.key);
        const bool current = held != m_held.end() && held->revision == result.sentRevision;
        if (!current) {
            // Released (or lost) while the refresh ran: undo the refresh's write.
            if (result.revision && held == m_held.end())
                deleteKey(result.key, result.revision, {}, false);
            continue;
        }
        if (result.revision) {
            held->revision = result.revision;
            held->safeUntilNs = qMax(held->safeUntilNs, result.startedNs + safeForMs() * 1000000);
        } else if (result.conflict) {
            taken.append(result.key);
        } else {
            ++failed;
        }
    }
    if (failed)
        emit logMessage(QStringLiteral("names: %1 names could not be refreshed").arg(failed));
    loseNames(taken, "taken over by another node");
    checkDeadlines();
}

void NameRegistry::expireOverdue()
{
    checkDeadlines();
}

void NameRegistry::checkDeadlines()
{
    const qint64 now = monotonicNs();
    QList<QByteArray> expired;
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it) {
        if (now >= it->safeUntilNs)
            expired.append(it.key());
    }
    loseNames(expired, "not refreshed in time");
}

void NameRegistry::loseNames(const QList<QByteArray> &keys, const char *why)
{
    if (keys.isEmpty())
        return;
    QList<QByteArray> names;
    for (const QByteArray &key : keys)
        names.append(m_held.take(key).name);
    emit logMessage(QStringLiteral("names: %1 names lost, %2").arg(names.size()).arg(QLatin1String(why)));
    emit namesLost(names);
}
