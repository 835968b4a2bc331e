// SPDX-License-Identifier: MIT
#include "settings/ListFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_listfile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void reading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("all long") << QByteArray("Lobby\r\nPublic Chat 1\r\nLobby\r\n")
                                  << QStringList{"Lobby", "Public Chat 1", "Lobby"};
        QTest::newRow("LF only") << QByteArray("Lobby\nPublic Chat 1\nLobby\n")
                                 << QStringList{"Lobby", "Public Chat 1", "Lobby"};
        QTest::newRow("no final line end") << QByteArray("Lobby\r\nTrivia") << QStringList{"Lobby", "Trivia"};
        QTest::newRow("short third line ends it")
            << QByteArray("first\r\nsecond\r\nabc\r\nfourth\r\n") << QStringList{"first", "second", "abc"};
        QTest::newRow("empty first line") << QByteArray("\r\nLobby\r\n") << QStringList{""};
        QTest::newRow("empty line ends it") << QByteArray("Lobby\r\n\r\nTrivia\r\n") << QStringList{"Lobby", ""};
        QTest::newRow("spaces kept") << QByteArray("  Lobby  \r\n") << QStringList{"  Lobby  "};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("lone CR") << QByteArray("Lobby\rTrivia\r") << QStringList{"Lobby", "Trivia"};
        QTest::newRow("Windows-1252") << QByteArray("Caf\xe9 Lounge\r\n") << QStringList{QStringLiteral("Café Lounge")};
        QTest::newRow("UTF-8") << QByteArray("Caf\xc3\xa9 Lounge\r\n") << QStringList{QStringLiteral("Café Lounge")};
    }

    void reading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, entries);
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        QVERIFY(FileExistsWithOpen(path));
        QCOMPARE(readListFile(path), std::optional<QStringList>(entries));
    }

    // Three folders stand for the program's folder, the per-user and a system
    // data folder; each row says which of them hold Servers.txt as a file and
    // which hold a folder of that name.
    void lookup_data()
    {
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("folders");
        QTest::addColumn<int>("found");
        QTest::newRow("beside the program wins") << "012" << "" << 0;
        QTest::newRow("per-user before system") << "12" << "" << 1;
        QTest::newRow("system only") << "2" << "" << 2;
        QTest::newRow("a folder of that name is passed over") << "2" << "01" << 2;
        QTest::newRow("nowhere: the program's folder") << "" << "" << 0;
    }

    void lookup()
    {
        QFETCH(QString, files);
        QFETCH(QString, folders);
        QFETCH(int, found);
        QTemporaryDir root;
        QStringList candidates;
        for (int i = 0; i < 3; ++i) {
            candidates.append(root.filePath(QString::number(i)));
            QDir folder(candidates.last());
            QVERIFY(folder.mkpath(QStringLiteral(".")));
            if (folders.contains(QChar('0' + i)))
                QVERIFY(folder.mkdir(QStringLiteral("Servers.txt")));
            if (files.contains(QChar('0' + i))) {
                QFile file(folder.filePath(QStringLiteral("Servers.txt")));
                QVERIFY(file.open(QIODevice::WriteOnly));
            }
        }
        QCOMPARE(findListFile(QStringLiteral("Servers.txt"), candidates),
                 QDir(candidates[found]).filePath(QStringLiteral("Servers.txt")));
    }

    void missingFile()
    {
        const QString path = dir.filePath(QStringLiteral("absent.txt"));
        QVERIFY(!FileExistsWithOpen(path));
        QVERIFY(!readListFile(path).has_value());
    }
};

QTEST_GUILESS_MAIN(tst_listfile)
#include "tst_listfile.moc"
