// SPDX-License-Identifier: MIT
#include "gui/ChatWindow.h"
#include "settings/Settings.h"
#include "ui/Alerts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>

// Stands in for the desktop's notification service and records each call.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList calls; // "summary | body"

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        Q_UNUSED(appName);
        Q_UNUSED(replacesId);
        Q_UNUSED(icon);
        Q_UNUSED(actions);
        Q_UNUSED(hints);
        Q_UNUSED(timeout);
        calls << summary + QStringLiteral(" | ") + body;
        return uint(calls.size());
    }
};

class tst_alerts : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;
    QProcess m_daemon;
    QString m_address;

private slots:
    void initTestCase()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        if (!m_daemon.waitForStarted())
            QSKIP("dbus-daemon is not installed");
        QTRY_VERIFY(m_daemon.canReadLine());
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
        // The window's notifier uses the session bus: this private one.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }
    void cleanupTestCase()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    void coalescesWithinTheInterval()
    {
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
        QDBusConnection client = QDBusConnection::connectToBus(m_address, QStringLiteral("client"));
        QVERIFY(service.isConnected() && client.isConnected());
        FakeNotifications fake;
        QVERIFY(service.registerObject(QLatin1String(kNotifyPath), &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QLatin1String(kNotifyService)));

        DesktopNotifier notifier(client);
        notifier.setIntervalMs(300);
        notifier.notify(DesktopNotifier::Kind::Whisper, "Whisper from bo", "hi <b>&");
        notifier.notify(DesktopNotifier::Kind::Whisper, "Whisper from bo", "two");
        notifier.notify(DesktopNotifier::Kind::Mention, "cy mentioned you", "anna?");
        notifier.notify(DesktopNotifier::Kind::Whisper, "Whisper from cy", "three");
        QTRY_COMPARE(fake.calls.size(), 2);
        QCOMPARE(fake.calls, (QStringList{"Whisper from bo | hi &lt;b&gt;&amp;",
                                          "Vesk Chat | 2 more whispers and 1 more mention"}));
        // Quiet for a whole interval: the next one goes out at once, alone.
        QTest::qWait(700);
        notifier.notify(DesktopNotifier::Kind::Mention, "dee mentioned you", "anna!");
        QTRY_COMPARE(fake.calls.size(), 3);
        QTest::qWait(500);
        QCOMPARE(fake.calls.last(), QStringLiteral("dee mentioned you | anna!"));
        QCOMPARE(fake.calls.size(), 3);
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    void windowAlertsOnWhisperAndMentionWhileInactive()
    {
        TestStore::clear();
        SaveSetting(Keys::AlertSeconds, QStringLiteral("1"));
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service2"));
        FakeNotifications fake;
        QVERIFY(service.registerObject(QLatin1String(kNotifyPath), &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QLatin1String(kNotifyService)));
        ChatWindow w; // never shown, so never the active window
        QVERIFY(w.connectNow());
        w.server.send("1005 TALK bo 0010 \"nothing for you\"\r\n"
                      "1004 WHISPER cy 0010 \"psst <i>\"\r\n"
                      "1005 TALK bo 0010 \"tester: look\"\r\n"
                      "1004 WHISPER cy 0010 \"again\"\r\n");
        QTRY_COMPARE(fake.calls.size(), 1);
        QCOMPARE(fake.calls.first(), QStringLiteral("Whisper from cy | psst &lt;i&gt;"));
        QTRY_COMPARE_WITH_TIMEOUT(fake.calls.size(), 2, 3000);
        QCOMPARE(fake.calls.last(), QStringLiteral("Vesk Chat | 1 more whisper and 1 more mention"));
        QTest::qWait(1200);
        QCOMPARE(fake.calls.size(), 2);
        QDBusConnection::disconnectFromBus(QStringLiteral("service2"));
    }
};

QTEST_MAIN(tst_alerts)
#include "tst_alerts.moc"
