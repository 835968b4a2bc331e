// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <chrono>
#include <functional>

class QObject;
class QThread;

struct __natsOptions;
typedef struct __natsOptions natsOptions;
struct __natsConnection;
typedef struct __natsConnection natsConnection;

// Helpers shared by the cluster link and the name registry; only their .cpp
// files see the NATS client's header.
namespace NatsSupport {

// "nats://a:4222,nats://b:4222" or separate arguments, to a clean list; empty
// entries dropped.
QStringList splitUrls(const QStringList &arguments);

// Subjects. Channel names are raw bytes, so they travel as the hex of their
// case-folded form: one token whatever they contain.
QByteArray channelSubject(QByteArrayView channelName);
QByteArrayView channelSubjectPrefix();
QByteArray nodeSubject(QByteArrayView node);
QByteArray presenceSubject();

// Key-value keys allow only [-/_=.a-zA-Z0-9]: a case-folded name as hex.
QByteArray nameKey(QByteArrayView userName);

// ASCII case folding, the same as the gateway uses for user and channel names.
QByteArray foldCase(QByteArrayView name);

// Monotonic nanoseconds, comparable between threads.
inline qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

struct ConnectionSettings
{
    QStringList urls;
    QByteArray name;           // shown by the server's monitoring
    int reconnectWaitMs = 250;
    int connectTimeoutMs = 2000;
    int pingIntervalMs = 2000; // a dead server is noticed after two missed pings
};

// Options that fail over between the URLs and retry for ever, including the
// first connection. The caller sets callbacks and destroys the options.
natsOptions *createOptions(const ConnectionSettings &settings, QByteArray *error);

QByteArray lastError(int status);

// Runs finish (which deletes the worker) on the worker thread, where the
// worker's jobs run, then ends that thread and deletes it and context.
void endWorkerThread(QThread *thread, QObject *context, std::function<void()> finish);

} // namespace NatsSupport
