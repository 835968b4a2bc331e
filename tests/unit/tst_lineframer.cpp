// SPDX-License-Identifier: MIT
#include "reception/LineFramer.h"

#include <QTest>

namespace {

using Lines = QByteArrayList;

Lines frame(LineFramer &framer, const Lines &feeds)
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
                             "1023 kkkkk bob 0010 \"waves\""};

} // namespace

class tst_lineframer : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<Lines>("feeds");
        QTest::addColumn<Lines>("lines");

        QTest::newRow("lone cr, lone lf, empty lines") << Lines{"a\rb\nc\r\n\r\n\n"} << Lines{"a", "b", "c", "", ""};
        QTest::newRow("lf cr is two line ends") << Lines{"a\n\rb\n"} << Lines{"a", "", "b"};
        QTest::newRow("cr cr lf") << Lines{"a\r\r\n"} << Lines{"a", ""};
        QTest::newRow("empty arrival") << Lines{""} << Lines{};
        QTest::newRow("cr, empty arrival, lf") << Lines{"a\r", "", "\nb\n"} << Lines{"a", "b"};
        QTest::newRow("exactly the limit") << Lines{kLimit + "\r\nok\r\n"} << Lines{kLimit, "ok"};
        QTest::newRow("the limit across arrivals") << Lines{kLimit.left(100), kLimit.mid(100), "\n"} << Lines{kLimit};
        QTest::newRow("one byte over the limit") << Lines{kLimit + "x\r\nok\r\n"} << Lines{"ok"};
        QTest::newRow("over the limit by later arrivals") << Lines{kLimit, "x", "y\nok\n"} << Lines{"ok"};
        QTest::newRow("over the limit, cr and lf split") << Lines{kLimit + "x\r", "\nok\n"} << Lines{"ok"};
        QTest::newRow("over the limit, lone cr keeps the next line") << Lines{kLimit + kLimit + "\r", "ok\r"}
                                                                     << Lines{"ok"};
    }

    void frames()
    {
        QFETCH(Lines, feeds);
        QFETCH(Lines, lines);
        LineFramer framer;
        QCOMPARE(frame(framer, feeds), lines);
    }

    // Carry-over between arrivals: every cut of one arrival in two, and one byte at a time.
    void sameLinesWhereverTheArrivalIsCut()
    {
        for (qsizetype cut = 0; cut <= kArrival.size(); ++cut) {
            LineFramer framer;
            QVERIFY2(frame(framer, {kArrival.left(cut), kArrival.mid(cut)}) == kArrivalLines,
                     qPrintable(QStringLiteral("cut at byte %1").arg(cut)));
        }
        Lines byteByByte;
        for (char byte : kArrival)
            byteByByte.append(QByteArray(1, byte));
        LineFramer framer;
        QCOMPARE(frame(framer, byteByByte), kArrivalLines);
    }

    void partialLineStaysBounded()
    {
        LineFramer framer;
        for (int i = 0; i < 1000; ++i) {
            QCOMPARE(frame(framer, {QByteArray(4096, 'z')}), Lines{});
            QVERIFY(framer.pendingBytes() <= LineFramer::kMaxLineBytes);
        }
        QCOMPARE(frame(framer, {"zz\r\n1005 ok\r\n"}), Lines{"1005 ok"});
        QCOMPARE(framer.pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_lineframer)
#include "tst_lineframer.moc"
