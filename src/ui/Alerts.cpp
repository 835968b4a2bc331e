// SPDX-License-Identifier: MIT
#include "ui/Alerts.h"

#include <QApplication>
#include <QWidget>

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace {
constexpr char kAppName[] = "Vesk Chat";
constexpr int kDefaultIntervalMs = 5000;
constexpr int kExpireDefault = -1; // the service decides how long it shows

QString countText(int count, const char *singular)
{
    return QStringLiteral("%1 more %2%3").arg(count).arg(QLatin1String(singular),
                                                      count == 1 ? QString() : QStringLiteral("s"));
}
} // namespace

QString heldAlertsText(int whispers, int mentions)
{
    QStringList parts;
    if (whispers > 0)
        parts << countText(whispers, "whisper");
    if (mentions > 0)
        parts << countText(mentions, "mention");
    return parts.join(QLatin1String(" and "));
}

DesktopNotifier::DesktopNotifier(QObject *parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent)
{
}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    m_cooldown.setSingleShot(true);
    m_cooldown.setInterval(kDefaultIntervalMs);
    connect(&m_cooldown, &QTimer::timeout, this, &DesktopNotifier::cooldownEnded);
}

void DesktopNotifier::notify(Kind kind, const QString &summary, const QString &body)
{
    if (m_cooldown.isActive()) {
        ++(kind == Kind::Whisper ? m_heldWhispers : m_heldMentions);
        return;
    }
    post(summary, body);
}

void DesktopNotifier::cooldownEnded()
{
    if (m_heldWhispers == 0 && m_heldMentions == 0)
        return;
    const QString text = heldAlertsText(m_heldWhispers, m_heldMentions);
    m_heldWhispers = m_heldMentions = 0;
    post(QLatin1String(kAppName), text);
}

void DesktopNotifier::post(const QString &summary, const QString &body)
{
    m_cooldown.start();
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kNotifyService), QLatin1String(kNotifyPath),
                                                       QLatin1String(kNotifyInterface), QStringLiteral("Notify"));
    call << QLatin1String(kAppName) << uint(0) << QStringLiteral("vesk-chat") << summary << body.toHtmlEscaped()
         << QStringList() << QVariantMap() << kExpireDefault;
    // No service answers with an error that nobody waits for.
    m_bus.asyncCall(call);
}

void MessageAlerts::linesReady(const ShownLines &lines)
{
    if (m_window->isActiveWindow())
        return;
    for (const ShownLine &line : lines.lines()) {
        const std::optional<LineAlert> alert = alertFor(line);
        if (!alert)
            continue;
        QApplication::alert(m_window);
        if (!m_notifier) {
            m_notifier = new DesktopNotifier(m_window);
            m_notifier->setIntervalMs(m_intervalMs);
        }
        m_notifier->notify(alert->kind == LineAlert::Kind::Whisper ? DesktopNotifier::Kind::Whisper
                                                                   : DesktopNotifier::Kind::Mention,
                           alert->summary, alert->body);
    }
}
