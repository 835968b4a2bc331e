// SPDX-License-Identifier: MIT
// The files the program keeps or reads, damaged or out of reach: the settings
// file, its folder, and the two list files.
#include "settings/Settings.h"
#include "reception/DisplayText.h"
#include "support/TestSupport.h"
#include "ui/FrmChannel.h"
#include "ui/FrmOpt.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"
#include "ui/frmServers.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

class tst_storedfiles : public QObject
{
    Q_OBJECT

    TestStore store;
    TestListFolder lists;

    static TorvalMain *shownMainWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *main = qobject_cast<TorvalMain *>(w); main && main->isVisible())
                return main;
        }
        return nullptr;
    }

    static QString settingsFile()
    {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, "VeskChat", "VeskChat").fileName();
    }

    // Records the text of every message box that opens, and closes it.
    struct Boxes {
        QStringList texts;
        void arm()
        {
            onModal("QMessageBox", [this](QWidget *w) {
                texts << static_cast<QMessageBox *>(w)->text();
                static_cast<QMessageBox *>(w)->accept();
                arm();
            }, 10000);
        }
    };

private slots:
    void init()
    {
        TestStore::clear();
        QApplication::setQuitOnLastWindowClosed(false);
        for (const char *name : {"Servers.txt", "Channels.txt"}) {
            lists.remove(name);
            QDir(listFilePath(QLatin1String(name))).removeRecursively(); // a folder standing in for it
        }
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QTest::qWait(0);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store.path());
    }

    // A settings file that is not one: the first start's questions, then saving works.
    void damagedSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("profileKept");
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary += char(i * 7 % 256);
        QTest::newRow("garbage") << QByteArray("[Options\n==ScreenSize\n\\\\\\\n[]]]\n=\n") << false;
        QTest::newRow("binary") << binary << false;
        QTest::newRow("junk around a good value") << "\x01\x02junk\n[Options]\nScreenSize=800\n" + binary << true;
    }

    void damagedSettingsFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, profileKept);
        QDir().mkpath(QFileInfo(settingsFile()).path());
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();

        Boxes boxes;
        boxes.arm();
        QWidget *first = TorvalMod1::Main();
        if (!profileKept) {
            QVERIFY(qobject_cast<FrmOpt *>(first));
            control<QPushButton>(first, "cmdOK")->click();
        }
        QTRY_VERIFY(shownMainWindow());
        QVERIFY(SaveSetting(Keys::HomeChannel, QStringLiteral("Lobby")));
        QCOMPARE(GetSetting(Keys::HomeChannel), QStringLiteral("Lobby"));
        QCOMPARE(GetSetting(Keys::ScreenSize), QString::fromLatin1(profileKept ? "800" : "640"));
        QTest::qWait(50);
        QCOMPARE(boxes.texts, QStringList());
    }

    // Saves that fail are told once; the program goes on with what the user chose.
    void folderThatCannotBeWritten()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("/dev/null/settings"));
        Boxes boxes;
        boxes.arm();
        QWidget *first = TorvalMod1::Main();
        QVERIFY(qobject_cast<FrmOpt *>(first));
        control<QPushButton>(first, "cmdOK")->click(); // the profile cannot be stored
        QTRY_VERIFY(shownMainWindow());
        QTRY_COMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].contains(QLatin1String("could not save its settings to /dev/null/settings")),
                 qPrintable(boxes.texts[0]));

        QVERIFY(!SaveSetting(Keys::HomeChannel, QStringLiteral("Lobby")));
        QVERIFY(!SaveSetting(Keys::Server, QStringLiteral("127.0.0.1")));
        QTest::qWait(50);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(shownMainWindow());
    }

    // What each picker lists from a list file that is missing, out of reach, binary or very long.
    void listFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<bool>("asFolder");     // a folder stands where the file should be
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("firstShown");
        QTest::addColumn<QString>("firstPicked");

        QTest::newRow("missing") << QByteArray() << false << -1 << QStringList() << QString();
        QTest::newRow("a folder") << QByteArray() << true << -1 << QStringList() << QString();
        const char binary[] = "\x00\x01\x02\xFF\x1B[2Jabc\r\n\x10\x11\x12\x13\n\x7F\x80\nnever";
        QTest::newRow("binary") << QByteArray(binary, sizeof binary - 1) << false
                                << 3
                                << QStringList{QStringLiteral("\uFFFD\uFFFD\uFFFD\u00FF\uFFFD[2Jabc"),
                                               QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD"), QStringLiteral("\uFFFD\u20AC")}
                                << QStringLiteral("\0\x01\x02\u00FF\x1B[2Jabc");
        QByteArray many;
        for (int i = 0; i < 100000; ++i)
            many += "server" + QByteArray::number(100000 + i) + ".example.org\r\n";
        QTest::newRow("100,000 lines") << many << false << 100000
                                       << QStringList{"server100000.example.org", "server100001.example.org"}
                                       << QStringLiteral("server100000.example.org");
        QTest::newRow("one line of a megabyte") << QByteArray(1 << 20, 'x') << false << 1
                                                << QStringList{QString(kDisplayNameCut, u'x') + cutMarker((1 << 20) - kDisplayNameCut)}
                                                << QString(32767, u'x'); // all an entry box holds
    }

    void listFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, asFolder);
        QFETCH(int, count);
        QFETCH(QStringList, firstShown);
        QFETCH(QString, firstPicked);
        const QString serversPath = listFilePath(QStringLiteral("Servers.txt"));
        const QString channelsPath = listFilePath(QStringLiteral("Channels.txt"));
        if (asFolder) {
            QVERIFY(QDir().mkpath(serversPath) && QDir().mkpath(channelsPath));
        } else if (!content.isEmpty()) {
            lists.write("Servers.txt", content);
            lists.write("Channels.txt", content);
        }

        Boxes boxes;
        boxes.arm();
        TorvalMain w;
        w.show();
        std::unique_ptr<frmServers> servers(new frmServers());
        auto *button = control<QPushButton>(&w, "cmdChannel");
        button->setEnabled(true);
        button->click();
        FrmChannel *channel = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets())
            channel = channel ? channel : qobject_cast<FrmChannel *>(window);
        QVERIFY(channel);
        for (QWidget *picker : {static_cast<QWidget *>(servers.get()), static_cast<QWidget *>(channel)}) {
            auto *list = control<QListWidget>(picker, "List1");
            QCOMPARE(list->count(), std::max(count, 0));
            for (int row = 0; row < firstShown.size(); ++row)
                QCOMPARE(list->item(row)->text(), firstShown[row]);
            if (count > 0) {
                list->setCurrentRow(0);
                auto *entry = picker->findChild<QLineEdit *>(QStringLiteral("txtserver"))
                                  ? control<QLineEdit>(picker, "txtserver")
                                  : control<QLineEdit>(picker, "txtchannel");
                QCOMPARE(entry->text(), firstPicked);
            }
        }
        QTRY_COMPARE(boxes.texts.size(), count < 0 ? 2 : 0);
    }
};

QTEST_MAIN(tst_storedfiles)
#include "tst_storedfiles.moc"
