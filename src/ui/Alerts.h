// SPDX-License-Identifier: MIT
#pragma once

#include "session/ShownLines.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>

// Desktop notifications through the freedesktop notification service on the
// session bus. At most one notification is posted per interval; what comes
// in between is counted and posted as one ("3 more whispers") when the
// interval ends. Without a bus or a service nothing happens, silently, and
// nothing ever waits for an answer.
class QWidget;

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Whisper, Mention };

    explicit DesktopNotifier(QObject *parent = nullptr); // the session bus
    DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    void setIntervalMs(int ms) { m_cooldown.setInterval(ms); }
    // summary and body are plain text; the body is escaped for services that read markup.
    void notify(Kind kind, const QString &summary, const QString &body);

private:
    void post(const QString &summary, const QString &body);
    void cooldownEnded();

    QDBusConnection m_bus;
    QTimer m_cooldown;
    int m_heldWhispers = 0;
    int m_heldMentions = 0;
};

// The alerts as a session's filter: while the window is not the active one,
// a whisper received or a line that mentions the user asks for attention
// and posts a desktop notification.
class MessageAlerts : public ShownLineFilter
{
public:
    MessageAlerts(QWidget *window, int intervalSeconds) : m_window(window), m_intervalMs(intervalSeconds * 1000) {}
    void linesReady(const ShownLines &lines) override;

private:
    QWidget *m_window;
    int m_intervalMs;
    DesktopNotifier *m_notifier = nullptr; // made at the first alert: it opens the session bus
};

// "1 more whisper", "3 more whispers", "2 more mentions", or both joined by " and ".
QString heldAlertsText(int whispers, int mentions);

inline constexpr char kNotifyService[] = "org.freedesktop.Notifications";
inline constexpr char kNotifyPath[] = "/org/freedesktop/Notifications";
inline constexpr char kNotifyInterface[] = "org.freedesktop.Notifications";
