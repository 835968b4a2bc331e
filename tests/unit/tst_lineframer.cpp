// SPDX-License-Identifier: MIT
// The one framer of the client's link and the gateway's connections, read
// both ways: feed() as the link reads it, append() and next() as the gateway does.
#include "protocol/LineFramer.h"

#include <QTest>

namespace {

using Lines = QByteArrayList;

const QByteArray kOverlong = "<overlong>";

// Every line the framer hands out while the feeds arrive, with kOverlong for
// each line it drops, read one line at a time.
Lines pull(LineFramer &framer, const Lines &feeds)
{
    Lines lines;
    QByteArrayView line;
    for (const QByteArray &bytes : feeds) {
        framer.append(bytes);
        for (LineFramer::Result r; (r = framer.next(line)) != LineFramer::Result::NeedMore;)
            lines.append(r == LineFramer::Result::Overlong ? kOverlong : line.toByteArray());
    }
    return lines;
}

Lines push(LineFramer &framer, const Lines &feeds)
{
    Lines lines;
    for (const QByteArray &bytes : feeds)
        framer.feed(bytes, [&](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}

const QByteArray kLimit(LineFramer::kMaxLineBytes, 'x');

// Every kind of line end, empty lines, and a line longer than the limit.
const QByteArray kArrival = "1018 kkkk \"Welcome\"\r\n1005 kkkk bob 0010 \"hi\"\r\n\r\nlone cr\rlone lf\n\n\r"
                            + QByteArray(LineFramer::kMaxLineBytes + 1, 'y')
                            + "\r\n1023 kkkkk bob 0010 \"waves\"\r\nunfinished";
const Lines kArrivalLines = {"1018 kkkk \"Welcome\"", "1005 kkkk bob 0010 \"hi\"", "", "lone cr", "lone lf", "", "",
                             kOverlong, "1023 kkkkk bob 0010 \"waves\""};

Lines withoutOverlong(Lines lines)
{
    lines.removeAll(kOverlong);
    return lines;
}

} // namespace

class tst_lineframer : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<qsizetype>("limit");
        QTest::addColumn<Lines>("feeds");
        QTest::addColumn<Lines>("lines"); // kOverlong marks a dropped line, which feed() skips silently

        const qsizetype full = LineFramer::kMaxLineBytes;
        QTest::newRow("lone cr, lone lf, empty lines") << full << Lines{"a\rb\nc\r\n\r\n\n"} << Lines{"a", "b", "c", "", ""};
        QTest::newRow("lf cr is two line ends") << full << Lines{"a\n\rb\n"} << Lines{"a", "", "b"};
        QTest::newRow("cr cr lf") << full << Lines{"a\r\r\n"} << Lines{"a", ""};
        QTest::newRow("empty arrival") << full << Lines{""} << Lines{};
        QTest::newRow("cr, empty arrival, lf") << full << Lines{"a\r", "", "\nb\n"} << Lines{"a", "b"};
        QTest::newRow("crlf split between chunks") << full << Lines{"a\r", "\nb\r", "\n\r\n"} << Lines{"a", "b", ""};
        QTest::newRow("partial line is held") << full << Lines{"hel", "lo", "\r\nwor"} << Lines{"hello"};
        QTest::newRow("raw and control bytes") << full << Lines{QByteArray("a\r\0\xff\n\x01\x7f\x1b[2J\n", 12)}
                                               << Lines{"a", QByteArray("\0\xff", 2), "\x01\x7f\x1b[2J"};
        QTest::newRow("exactly the limit") << full << Lines{kLimit + "\r\nok\r\n"} << Lines{kLimit, "ok"};
        QTest::newRow("the limit across arrivals") << full << Lines{kLimit.left(100), kLimit.mid(100), "\n"} << Lines{kLimit};
        QTest::newRow("one byte over the limit") << full << Lines{kLimit + "x\r\nok\r\n"} << Lines{kOverlong, "ok"};
        QTest::newRow("over the limit by later arrivals") << full << Lines{kLimit, "x", "y\nok\n"} << Lines{kOverlong, "ok"};
        QTest::newRow("over the limit, cr and lf split") << full << Lines{kLimit + "x\r", "\nok\n"} << Lines{kOverlong, "ok"};
        QTest::newRow("over the limit, lone cr keeps the next line") << full << Lines{kLimit + kLimit + "\r", "ok\r"}
                                                                     << Lines{kOverlong, "ok"};
        QTest::newRow("small limit, one over") << qsizetype(8) << Lines{"12345678\n123456789\nok\n"}
                                               << Lines{"12345678", kOverlong, "ok"};
        QTest::newRow("small limit, overlong chunked") << qsizetype(8) << Lines{"123456789", "ab", "c\r", "\nok\n"}
                                                       << Lines{kOverlong, "ok"};
    }

    void frames()
    {
        QFETCH(qsizetype, limit);
        QFETCH(Lines, feeds);
        QFETCH(Lines, lines);
        LineFramer puller(limit);
        QCOMPARE(pull(puller, feeds), lines);
        LineFramer pusher(limit);
        QCOMPARE(push(pusher, feeds), withoutOverlong(lines));
    }

    // Carry-over between arrivals: every cut of one arrival in two, and one byte at a time.
    void sameLinesWhereverTheArrivalIsCut()
    {
        // Inside the overlong run every cut is alike: there every 509th will do.
        const qsizetype runStart = kArrival.indexOf('y') + 2, runEnd = kArrival.lastIndexOf('y') - 1;
        for (qsizetype cut = 0; cut <= kArrival.size(); ++cut) {
            if (cut > runStart && cut < runEnd && (cut - runStart) % 509 != 0)
                continue;
            const Lines feeds = {kArrival.left(cut), kArrival.mid(cut)};
            LineFramer puller, pusher;
            QVERIFY2(pull(puller, feeds) == kArrivalLines, qPrintable(QStringLiteral("cut at byte %1").arg(cut)));
            QVERIFY2(push(pusher, feeds) == withoutOverlong(kArrivalLines),
                     qPrintable(QStringLiteral("cut at byte %1").arg(cut)));
        }
        Lines byteByByte;
        for (char byte : kArrival)
            byteByByte.append(QByteArray(1, byte));
        LineFramer puller, pusher;
        QCOMPARE(pull(puller, byteByByte), kArrivalLines);
        QCOMPARE(push(pusher, byteByByte), withoutOverlong(kArrivalLines));
    }

    // An endless line never makes the framer hold more than the limit and a chunk.
    void partialLineStaysBounded()
    {
        LineFramer framer;
        for (int i = 0; i < 1000; ++i) {
            QCOMPARE(push(framer, {QByteArray(4096, 'z')}), Lines{});
            QVERIFY(framer.pendingBytes() <= LineFramer::kMaxLineBytes);
        }
        QCOMPARE(push(framer, {"zz\r\n1005 ok\r\n"}), Lines{"1005 ok"});
        QCOMPARE(framer.pendingBytes(), 0);

        LineFramer puller(8);
        for (int i = 0; i < 1000; ++i) {
            QCOMPARE(pull(puller, {QByteArray(100, 'z')}), Lines{});
            QVERIFY(puller.pendingBytes() <= 8 + 100);
        }
        QCOMPARE(pull(puller, {"\nok\n"}), (Lines{kOverlong, "ok"}));
    }

    // The gateway stops between lines: what it has not taken stays, in order.
    void pullStopsBetweenLines()
    {
        LineFramer framer;
        framer.append("one\r\ntwo\r");
        QByteArrayView line;
        QCOMPARE(framer.next(line), LineFramer::Result::Line);
        QCOMPARE(line, "one");
        framer.append("\nthree\n");
        QCOMPARE(framer.next(line), LineFramer::Result::Line);
        QCOMPARE(line, "two");
        QCOMPARE(framer.next(line), LineFramer::Result::Line);
        QCOMPARE(line, "three");
        QCOMPARE(framer.next(line), LineFramer::Result::NeedMore);
    }
};

QTEST_GUILESS_MAIN(tst_lineframer)
#include "tst_lineframer.moc"
