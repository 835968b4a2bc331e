// SPDX-License-Identifier: MIT
#include "log/ChatLog.h"
#include "support/TestCore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
// A log writing into a temporary folder for one server.
struct OpenLog {
    explicit OpenLog(const char *server) : server(QLatin1String(server))
    {
        log.setFolder(dir.path());
        log.setServer(this->server);
    }
    QString file(const char *day) const { return dir.path() + u'/' + server + u'/' + QLatin1String(day) + ".log"; }
    QString server;
    QTemporaryDir dir;
    ChatLog log;
};
} // namespace

class tst_chatlog : public QObject
{
    Q_OBJECT

    QDateTime m_now;

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private slots:
    void init()
    {
        m_now = QDateTime(QDate(2026, 3, 14), QTime(23, 59, 58));
        setDateTimeClockForTesting([this] { return m_now; });
    }
    void cleanup() { setDateTimeClockForTesting({}); }

    void linesInOrderWithDatePrefix()
    {
        OpenLog open("chat.example.net");
        open.log.append(QStringLiteral("<anna> hello"));
        m_now = m_now.addSecs(1);
        open.log.append(QStringLiteral("<FROM: bo> h\u00e9 <b>x</b> \x1b[31mred\nline"));
        const QString path = open.file("2026-03-14");
        QVERIFY(!QFile::exists(path) || read(path).isEmpty()); // buffered until flushed
        open.log.flush();
        QCOMPARE(read(path), QByteArray("2026-03-14 23:59:58 <anna> hello\n"
                                        "2026-03-14 23:59:59 <FROM: bo> h\xc3\xa9 <b>x</b> \xef\xbf\xbd[31mred\xef\xbf\xbdline\n"));
    }

    // As a session's filter: replayed lines are never logged again, and
    // while held nothing reaches the file, by batchShown or the timer.
    void filterSkipsReplayedAndHolds_data()
    {
        QTest::addColumn<QStringList>("kinds"); // of the lines "0", "1" ...
        QTest::addColumn<bool>("held");
        QTest::addColumn<QByteArray>("whileHeld");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("talk and notice") << QStringList{"talk", "notice"} << false
                                         << QByteArray("2026-03-14 23:59:58 0\n2026-03-14 23:59:58 1\n")
                                         << QByteArray("2026-03-14 23:59:58 0\n2026-03-14 23:59:58 1\n");
        QTest::newRow("replayed left out") << QStringList{"replayed", "talk", "replayed"} << false
                                           << QByteArray("2026-03-14 23:59:58 1\n")
                                           << QByteArray("2026-03-14 23:59:58 1\n");
        QTest::newRow("held until released") << QStringList{"talk", "replayed", "info"} << true << QByteArray("<missing>")
                                             << QByteArray("2026-03-14 23:59:58 0\n2026-03-14 23:59:58 2\n");
    }
    void filterSkipsReplayedAndHolds()
    {
        QFETCH(QStringList, kinds);
        QFETCH(bool, held);
        QFETCH(QByteArray, whileHeld);
        QFETCH(QByteArray, written);
        OpenLog open("s");
        ShownLines lines;
        for (int i = 0; i < kinds.size(); ++i) {
            const auto kind = kinds[i] == u"replayed" ? ShownLine::Kind::Replayed
                              : kinds[i] == u"notice" ? ShownLine::Kind::Notice
                              : kinds[i] == u"info"   ? ShownLine::Kind::Info
                                                      : ShownLine::Kind::Talk;
            lines.add(ShownLine::Pane::Chat, kind, QString::number(i));
        }
        ShownLineFilter &filter = open.log;
        filter.holdWrites(held);
        filter.linesReady(lines);
        filter.batchShown();
        QTest::qWait(1300); // past the flush timer
        QCOMPARE(read(open.file("2026-03-14")), whileHeld);
        filter.holdWrites(false);
        QCOMPARE(read(open.file("2026-03-14")), written);
    }

    void flushesWithinASecond()
    {
        OpenLog open("s");
        open.log.append(QStringLiteral("one"));
        QTRY_COMPARE_WITH_TIMEOUT(read(open.file("2026-03-14")),
                                  QByteArray("2026-03-14 23:59:58 one\n"), 2000);
    }

    void dayChangeStartsANewFile()
    {
        OpenLog open("s");
        open.log.append(QStringLiteral("before midnight"));
        m_now = m_now.addSecs(3);
        open.log.append(QStringLiteral("after midnight"));
        open.log.flush();
        QCOMPARE(read(open.file("2026-03-14")), QByteArray("2026-03-14 23:59:58 before midnight\n"));
        QCOMPARE(read(open.file("2026-03-15")), QByteArray("2026-03-15 00:00:01 after midnight\n"));
    }

    void unwritableFolderPausesWithOneReport()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ChatLog log;
        QSignalSpy failed(&log, &ChatLog::failed);
        log.setFolder(blocker.fileName()); // a file where the folder should be
        log.setServer(QStringLiteral("s"));
        log.append(QStringLiteral("one"));
        log.flush();
        log.append(QStringLiteral("two"));
        log.flush();
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.at(0).at(0).toString().startsWith(QLatin1String(kLogPausedPrefix)));
        QVERIFY(log.isPaused());
        log.setServer(QStringLiteral("s")); // a new connection tries again
        QVERIFY(!log.isPaused());
    }

    void safeFolderName_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("folder");
        QTest::newRow("host") << "chat.example.net" << "chat.example.net";
        QTest::newRow("address") << "127.0.0.1" << "127.0.0.1";
        QTest::newRow("ipv6") << "::1" << "__1";
        QTest::newRow("slashes") << "../../etc" << ".._.._etc";
        QTest::newRow("dot dot") << ".." << "_..";
        QTest::newRow("empty") << "" << "_";
        QTest::newRow("blanks trimmed") << " a b " << "a_b";
    }
    void safeFolderName()
    {
        QFETCH(QString, server);
        QFETCH(QString, folder);
        QCOMPARE(::safeFolderName(server), folder);
    }
};

QTEST_GUILESS_MAIN(tst_chatlog)
#include "tst_chatlog.moc"
