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
        closeAllWindows();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store.path());
    }

    // A settings file that is not one brings the first start's questions, then
    // saving works. Saves to a folder that cannot be written are told once, and
    // the program goes on with what the user chose.
    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: the folder cannot be written
        QTest::addColumn<bool>("profileKept");
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary += char(i * 7 % 256);
        QTest::newRow("garbage") << "[Options\n==ScreenSize\n\\\\\\\n[]]]\n=\n" + binary << false;
        QTest::newRow("junk around a good value") << "\x01\x02junk\n[Options]\nScreenSize=800\n" + binary << true;
        QTest::newRow("folder cannot be written") << QByteArray() << false;
    }

    void settingsFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, profileKept);
        const bool writable = !content.isEmpty();
        if (writable) {
            QFile file(QSettings(QSettings::IniFormat, QSettings::UserScope, "VeskChat", "VeskChat").fileName());
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
        } else {
            QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("/dev/null/settings"));
        }

        Boxes boxes;
        boxes.arm();
        QWidget *first = TorvalMod1::Main();
        if (!profileKept) {
            QVERIFY(qobject_cast<FrmOpt *>(first));
            control<QPushButton>(first, "cmdOK")->click(); // stores the profile
        }
        QTRY_VERIFY(shownWindow<TorvalMain>());
        QTRY_COMPARE(boxes.texts.size(), writable ? 0 : 1);
        QCOMPARE(SaveSetting(Keys::HomeChannel, QStringLiteral("Lobby")), writable);
        QCOMPARE(SaveSetting(Keys::Server, QStringLiteral("127.0.0.1")), writable);
        if (writable) {
            QCOMPARE(GetSetting(Keys::HomeChannel), QStringLiteral("Lobby"));
            QCOMPARE(GetSetting(Keys::ScreenSize), QString::fromLatin1(profileKept ? "800" : "640"));
        } else {
            QVERIFY2(boxes.texts[0].contains(u"could not save its settings to /dev/null/settings"), qPrintable(boxes.texts[0]));
        }
        QTest::qWait(50);
        QCOMPARE(boxes.texts.size(), writable ? 0 : 1);
        QVERIFY(shownWindow<TorvalMain>());
    }

    // What each picker lists and picks from a list file that is out of reach
    // (told once per picker; a missing one: tst_pickers), binary or very long.
    void listFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: a folder stands where the file should be
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("firstShown");
        QTest::addColumn<QString>("firstPicked");

        QTest::newRow("a folder") << QByteArray() << 0 << QString() << QString();
        const char binary[] = "\x00\x01\x02\xFF\x1B[2Jabc\r\n\x10\x11\x12\x13\n\x7F\x80\nnever";
        QTest::newRow("binary") << QByteArray(binary, sizeof binary - 1) << 3
                                << QStringLiteral("\uFFFD\uFFFD\uFFFD\u00FF\uFFFD[2Jabc") << QStringLiteral("\0\x01\x02\u00FF\x1B[2Jabc");
        QByteArray many;
        for (int i = 0; i < 100000; ++i)
            many += "server" + QByteArray::number(100000 + i) + ".example.org\r\n";
        QTest::newRow("100,000 lines") << many << 100000 << "server100000.example.org" << "server100000.example.org";
        QTest::newRow("one line of a megabyte") << QByteArray(1 << 20, 'x') << 1
                                                << QString(kDisplayNameCut, u'x') + cutMarker((1 << 20) - kDisplayNameCut)
                                                << QString(32767, u'x'); // all an entry box holds
    }

    void listFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, count);
        QFETCH(QString, firstShown);
        QFETCH(QString, firstPicked);
        for (const char *name : {"Servers.txt", "Channels.txt"}) {
            if (content.isEmpty())
                QVERIFY(QDir().mkpath(listFilePath(QLatin1String(name))));
            else
                lists.write(name, content);
        }

        Boxes boxes;
        boxes.arm();
        TorvalMain w;
        w.show();
        std::unique_ptr<frmServers> servers(new frmServers());
        QPushButton *button = w.controls().cmdChannel;
        button->setEnabled(true);
        button->click();
        QVERIFY(shownWindow<FrmChannel>());
        for (QWidget *picker : {static_cast<QWidget *>(servers.get()), static_cast<QWidget *>(shownWindow<FrmChannel>())}) {
            auto *list = control<QListWidget>(picker, "List1");
            QCOMPARE(list->count(), count);
            if (count > 0) {
                QCOMPARE(list->item(0)->text(), firstShown);
                list->setCurrentRow(0);
                const char *entry = qobject_cast<frmServers *>(picker) ? "txtserver" : "txtchannel";
                QCOMPARE(control<QLineEdit>(picker, entry)->text(), firstPicked);
            }
        }
        QTRY_COMPARE(boxes.texts.size(), count == 0 ? 2 : 0);
    }
};

QTEST_MAIN(tst_storedfiles)
#include "tst_storedfiles.moc"
