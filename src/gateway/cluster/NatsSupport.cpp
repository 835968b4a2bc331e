// SPDX-License-Identifier: MIT
#include "NatsSupport.h"

#include <nats/nats.h>

#include <QObject>
#include <QThread>

#include <vector>

namespace NatsSupport {

QStringList splitUrls(const QStringList &arguments)
{
    QStringList urls;
    for (const QString &argument : arguments) {
        for (const QString &part : argument.split(u',', Qt::SkipEmptyParts)) {
            const QString url = part.trimmed();
            if (!url.isEmpty())
                urls.append(url);
        }
    }
    return urls;
}

QByteArray foldCase(QByteArrayView name)
{
    return name.toByteArray().toLower();
}

QByteArrayView channelSubjectPrefix()
{
    return "vesk.chan.";
}

QByteArray channelSubject(QByteArrayView channelName)
{
    return channelSubjectPrefix().toByteArray() + foldCase(channelName).toHex();
}

QByteArray nodeSubject(QByteArrayView node)
{
    return "vesk.node." + node.toByteArray();
}

QByteArray presenceSubject()
{
    return "vesk.presence";
}

QByteArray nameKey(QByteArrayView userName)
{
    return "n." + foldCase(userName).toHex();
}

natsOptions *createOptions(const ConnectionSettings &settings, QByteArray *error)
{
    natsOptions *options = nullptr;
    natsStatus s = natsOptions_Create(&options);
    std::vector<QByteArray> urls;
    for (const QString &url : settings.urls)
        urls.push_back(url.toUtf8());
    std::vector<const char *> pointers;
    for (const QByteArray &url : urls)
        pointers.push_back(url.constData());
    if (s == NATS_OK)
        s = natsOptions_SetServers(options, pointers.data(), int(pointers.size()));
    if (s == NATS_OK)
        s = natsOptions_SetName(options, settings.name.constData());
    // The library gives up after 60 attempts by default; a gateway never does.
    if (s == NATS_OK)
        s = natsOptions_SetMaxReconnect(options, -1);
    if (s == NATS_OK)
        s = natsOptions_SetReconnectWait(options, settings.reconnectWaitMs);
    if (s == NATS_OK)
        s = natsOptions_SetReconnectJitter(options, 100, 100);
    if (s == NATS_OK)
        s = natsOptions_SetTimeout(options, settings.connectTimeoutMs);
    if (s == NATS_OK)
        s = natsOptions_SetPingInterval(options, settings.pingIntervalMs);
    if (s == NATS_OK)
        s = natsOptions_SetMaxPingsOut(options, 2);
    // Servers are tried in the order given, so every gateway prefers the first.
    if (s == NATS_OK)
        s = natsOptions_SetNoRandomize(options, true);
    if (s != NATS_OK) {
        if (error)
            *error = lastError(s);
        natsOptions_Destroy(options);
        return nullptr;
    }
    return options;
}

QByteArray lastError(int status)
{
    natsStatus s = NATS_OK;
    const char *text = nats_GetLastError(&s);
    if (text && *text)
        return QByteArray(text);
    return QByteArray(natsStatus_GetText(natsStatus(status)));
}

void endWorkerThread(QThread *thread, QObject *context, std::function<void()> finish)
{
    if (!thread)
        return;
    QMetaObject::invokeMethod(context, [thread, finish = std::move(finish)] {
        finish();
        thread->quit();
    });
    thread->wait();
    delete context;
    delete thread;
}

} // namespace NatsSupport
