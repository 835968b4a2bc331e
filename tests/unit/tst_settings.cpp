// SPDX-License-Identifier: MIT
#include "settings/Settings.h"

#include "support/TestCore.h"

#include <QFile>
#include <QTest>

Q_DECLARE_METATYPE(const SettingKey *)

class tst_settings : public QObject
{
    Q_OBJECT

    TestStore store;

private slots:
    void init() { TestStore::clear(); }

    void defaultsOnEmptyStore_data()
    {
        QTest::addColumn<const SettingKey *>("key");
        QTest::addColumn<QString>("expected");
        for (const SettingKey *k : {&Keys::ScreenSize, &Keys::HomeChannel, &Keys::Server, &Keys::IdleTime,
                                    &Keys::IdleString})
            QTest::newRow(k->key) << k << QStringLiteral("0");
        QTest::newRow("Username") << &Keys::Username << QString();
    }

    void defaultsOnEmptyStore()
    {
        QFETCH(const SettingKey *, key);
        QFETCH(QString, expected);
        QCOMPARE(GetSetting(*key), expected);
    }

    // A save reaches the file at once, under the application's name, section and key.
    void saveIsOnDiskAtOnce()
    {
        const QString channel = QStringLiteral("Public Chat 1, \"quoted\" = yes");
        SaveSetting(Keys::HomeChannel, channel);
        SaveSetting(Keys::Username, QStringLiteral("Zoë"));
        QFile file(store.path() + QStringLiteral("/VeskChat/VeskChat.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray ini = file.readAll();
        QVERIFY(ini.contains("[Options]") && ini.contains("[Connect]"));
        QCOMPARE(GetSetting(Keys::HomeChannel), channel);
        QCOMPARE(GetSetting(Keys::Username), QStringLiteral("Zoë"));
    }

    void storedNumbers_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("value");
        QTest::newRow("profile") << "1024" << 1024;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("limits") << "32767" << 32767;
        QTest::newRow("low limit") << "-32768" << -32768;
        QTest::newRow("blanks") << " 800 " << 800;
        QTest::newRow("too big") << "32768" << 0;
        QTest::newRow("too small") << "-32769" << 0;
        QTest::newRow("fraction") << "12.5" << 0;
        QTest::newRow("words") << "big" << 0;
        QTest::newRow("hex") << "0x10" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("huge") << "99999999999999999999" << 0;
    }

    void storedNumbers()
    {
        QFETCH(QString, stored);
        QFETCH(int, value);
        SaveSetting(Keys::ScreenSize, stored);
        QCOMPARE(int(toInt16OrZero(GetSetting(Keys::ScreenSize))), value);
    }
};

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
