// SPDX-License-Identifier: MIT
#include "log/ChatLog.h"
#include "log/LogTail.h"
#include "support/TestCore.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {
QByteArray stamped(int second, const QByteArray &text)
{
    return QByteArray("2026-03-14 10:00:") + QByteArray::number(second).rightJustified(2, '0') + ' ' + text;
}

// "ss text" for each line, as short as a table row can say it.
QStringList shortForm(const LogTail &tail)
{
    QStringList out;
    for (const ReplayLine &line : tail.lines)
        out.append(line.when.toString(QStringLiteral("ss ")) + line.text);
    return out;
}
} // namespace

class tst_logtail : public QObject
{
    Q_OBJECT

private slots:
    void oneFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("why"); // a word the reason holds, or empty for none

        const QByteArray three = stamped(1, "one\n") + stamped(2, "two\n") + stamped(3, "three\n");
        QTest::newRow("empty file") << QByteArray() << 50 << QStringList() << QString();
        QTest::newRow("last two") << three << 2 << QStringList{"02 two", "03 three"} << QString();
        QTest::newRow("count larger than file") << three << 50 << QStringList{"01 one", "02 two", "03 three"} << QString();
        QTest::newRow("zero asked") << three << 0 << QStringList() << QString();
        QTest::newRow("no trailing newline") << stamped(1, "one\n") + stamped(2, "two") << 5
                                             << QStringList{"01 one", "02 two"} << QString();
        QTest::newRow("half a character at the end") << stamped(1, "one\n") + stamped(2, "h\xc3\xa9 \xe2\x82") << 5
                                                     << QStringList{"01 one", QString::fromUtf8("02 h\u00e9 ")} << QString();
        QTest::newRow("whole character at the end") << stamped(2, "\xe2\x82\xac") << 5
                                                    << QStringList{QString::fromUtf8("02 \u20ac")} << QString();
        QTest::newRow("crlf") << stamped(1, "one\r\n") + stamped(2, "two\r\n") << 5
                              << QStringList{"01 one", "02 two"} << QString();
        QTest::newRow("lone cr") << stamped(1, "one\r") + stamped(2, "two\r") << 1 << QStringList{"02 two"} << QString();
        QTest::newRow("blank lines skipped") << "\n\n" + stamped(1, "one\n\n\n") << 5 << QStringList{"01 one"} << QString();
        QTest::newRow("utf-8 and 1252") << stamped(1, "h\xc3\xa9\n") + stamped(2, "h\xe9\n") << 5
                                        << QStringList{QString::fromUtf8("01 h\u00e9"), QString::fromUtf8("02 h\u00e9")}
                                        << QString();
        QTest::newRow("control bytes shown as replacement") << stamped(1, "a\x1b[31mb\n") << 5
                                                           << QStringList{QString::fromUtf8("01 a\ufffd[31mb")} << QString();
        QTest::newRow("binary junk") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\n\xff\xfe\0\x01\n", 16) << 5
                                     << QStringList() << "damaged";
        QTest::newRow("nul inside a stamped line") << stamped(1, QByteArray("a\0b\n", 4)) + stamped(2, "ok\n") << 5
                                                   << QStringList{"02 ok"} << "One damaged";
        QTest::newRow("junk before good lines") << QByteArray("garbage\n\x01\x02\n") + three << 2
                                                << QStringList{"02 two", "03 three"} << QString();
        QTest::newRow("bad date") << QByteArray("2026-02-30 10:00:00 x\n") + stamped(4, "y\n") << 5
                                  << QStringList{"04 y"} << "One damaged";
        QTest::newRow("line across blocks") << stamped(1, "a\n") + stamped(2, QByteArray(100 * 1024, 'x') + "\n")
                                                  + stamped(3, "c\n")
                                            << 3
                                            << QStringList{"01 a", "02 " + QString(kTailLineCut, u'x') + u'\u2026', "03 c"}
                                            << QString();
        QTest::newRow("cut keeps utf-8 whole") << stamped(1, QByteArray(kTailLineCut - 1, 'x') + "\xc3\xa9\xc3\xa9\n") << 1
                                               << QStringList{"01 " + QString(kTailLineCut - 1, u'x') + u'\u2026'}
                                               << QString();
        QTest::newRow("line over the byte cap") << stamped(1, "before\n") + stamped(2, QByteArray(kTailByteCap, 'x'))
                                                << 5 << QStringList() << "last 4 MB";
    }
    void oneFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, count);
        QFETCH(QStringList, expected);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("2026-03-14.log"));
        writeFile(path, content);
        const LogTail tail = readLogTail(path, count);
        QCOMPARE(shortForm(tail), expected);
        if (why.isEmpty())
            QCOMPARE(tail.why, QString());
        else
            QVERIFY2(tail.why.contains(why), qPrintable(tail.why));
    }

    // Another instance appends to the same log, a line in two writes, while it is read: each read
    // gives at most the lines asked for, whole or cut where the writer was, and in the order written.
    void readWhileAnotherInstanceWrites()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("2026-03-14.log"));
        writeFile(path, stamped(0, "line 0\n"));
        std::atomic<bool> done{false};
        std::thread writer([&] {
            QFile file(path);
            if (!file.open(QIODevice::Append))
                return;
            for (int i = 1; !done && i < 200000; ++i) {
                file.write(stamped(i % 60, "line"));
                file.flush();
                file.write(' ' + QByteArray::number(i) + '\n');
                file.flush();
            }
        });
        const QRegularExpression shape(QStringLiteral("^line (\\d+)$"));
        // The writer may be caught anywhere in "line N".
        const QRegularExpression cut(QStringLiteral("^(l(i(n(e( \\d*)?)?)?)?)?$"));
        // Reading starts once the lines asked for span several blocks.
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(path).size() > 4 * 64 * 1024; }, 5000));
        QStringList wrong;
        for (int read = 0; read < 100 && wrong.isEmpty(); ++read) {
            // Enough lines that the file is read in several blocks once it has grown.
            const LogTail tail = readLogTail(path, 3000);
            if (tail.lines.size() > 3000)
                wrong << QStringLiteral("%1 lines").arg(tail.lines.size());
            long long last = -1;
            for (size_t i = 0; i < tail.lines.size(); ++i) {
                const QString &text = tail.lines[i].text;
                const QRegularExpressionMatch m = shape.match(text);
                if (i + 1 == tail.lines.size() && cut.match(text).hasMatch())
                    continue; // only the newest line may be cut
                if (!m.hasMatch() || m.captured(1).toLongLong() <= last)
                    wrong << text;
                else
                    last = m.captured(1).toLongLong();
            }
        }
        done = true;
        writer.join();
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(" | "))));
    }

    void replayCount_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("count");
        QTest::newRow("default") << "50" << 50;
        QTest::newRow("none") << "0" << 0;
        QTest::newRow("blanks") << " 20 " << 20;
        QTest::newRow("negative") << "-5" << 0;
        QTest::newRow("huge") << "99999999" << kReplayMax;
        QTest::newRow("words") << "many" << kReplayDefault;
        QTest::newRow("empty") << "" << kReplayDefault;
    }
    void replayCount()
    {
        QFETCH(QString, setting);
        QFETCH(int, count);
        QCOMPARE(replayLineCount(setting), count);
    }

    void missingFileSaysWhy()
    {
        const LogTail tail = readLogTail(QStringLiteral("/nonexistent/2026-03-14.log"), 5);
        QVERIFY(tail.lines.empty());
        QVERIFY(tail.why.contains(QLatin1String("Could not read")));
    }

    void severalDays_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("newest day has enough") << 1 << QStringList{"03 c"};
        QTest::newRow("walks back a day") << 3 << QStringList{"01 a", "02 b", "03 c"};
        QTest::newRow("walks back past an empty day") << 4 << QStringList{"09 old", "01 a", "02 b", "03 c"};
        QTest::newRow("more than all days hold") << 9 << QStringList{"09 old", "01 a", "02 b", "03 c"};
    }
    void severalDays()
    {
        QFETCH(int, count);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("chat.example.net"));
        const QString server = dir.filePath(QStringLiteral("chat.example.net/"));
        writeFile(server + "2026-03-10.log", stamped(9, "old\n"));
        writeFile(server + "2026-03-12.log", QByteArray());
        writeFile(server + "2026-03-13.log", stamped(1, "a\n") + stamped(2, "b\n"));
        writeFile(server + "2026-03-14.log", stamped(3, "c\n"));
        writeFile(server + "notes.log", stamped(7, "not a day file\n"));
        writeFile(server + "2026-13-01.log", stamped(8, "not a date\n"));
        const LogTail tail = readServerLogTail(dir.path(), QStringLiteral("chat.example.net"), count);
        QCOMPARE(shortForm(tail), expected);
        QCOMPARE(tail.why, QString());
    }

    void replaysWhatTheChatLogWrote()
    {
        QTemporaryDir dir;
        QDateTime now(QDate(2026, 3, 14), QTime(23, 59, 59));
        setDateTimeClockForTesting([&now] { return now; });
        {
            ChatLog log;
            log.setFolder(dir.path());
            log.setServer(QStringLiteral("::1"));
            log.append(QStringLiteral("<anna> late"));
            now = now.addSecs(2);
            log.append(QStringLiteral("<bo> h\u00e9\nnext"));
            log.append(QStringLiteral("<cy> third"));
        }
        setDateTimeClockForTesting({});
        const LogTail tail = readServerLogTail(dir.path(), QStringLiteral("::1"), 3);
        QCOMPARE(shortForm(tail), (QStringList{"59 <anna> late", QString::fromUtf8("01 <bo> h\u00e9\ufffdnext"),
                                               "01 <cy> third"}));
        QCOMPARE(tail.lines.front().when, QDateTime(QDate(2026, 3, 14), QTime(23, 59, 59)));
        QCOMPARE(tail.lines.back().when.date(), QDate(2026, 3, 15));
    }

    void replayRunsOffTheCallingThread()
    {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("s"));
        writeFile(dir.filePath(QStringLiteral("s/2026-03-14.log")), stamped(1, "one\n") + stamped(2, "two\n"));
        LogReplay replay;
        QSignalSpy finished(&replay, &LogReplay::finished);
        replay.start(dir.path(), QStringLiteral("nowhere"), 5); // dropped by the next start
        replay.start(dir.path(), QStringLiteral("s"), 5);
        QVERIFY(replay.isRunning());
        QCOMPARE(finished.size(), 0); // handed back by the event loop, never inside start()
        QVERIFY(finished.wait(5000));
        QTest::qWait(50);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(shortForm(finished.at(0).at(0).value<LogTail>()), (QStringList{"01 one", "02 two"}));
        QVERIFY(!replay.isRunning());
    }

    void destroyedWhileReading()
    {
        QTemporaryDir dir;
        auto *replay = new LogReplay;
        replay->start(dir.path(), QStringLiteral("s"), 5);
        delete replay;
        QThreadPool::globalInstance()->waitForDone(5000);
        QCoreApplication::processEvents(); // nothing left to deliver to
    }
};

QTEST_GUILESS_MAIN(tst_logtail)
#include "tst_logtail.moc"
