// SPDX-License-Identifier: MIT
#include "reception/LineFramer.h"

#include <QTest>

namespace {

QByteArrayList frame(LineFramer &framer, const QByteArrayList &feeds)
{
    QByteArrayList lines;
    for (const QByteArray &bytes : feeds)
        framer.feed(bytes, [&](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}

QByteArrayList frame(const QByteArrayList &feeds)
{
    LineFramer framer;
    return frame(framer, feeds);
}

const QByteArray kLimit(LineFramer::kMaxLineBytes, 'x');

// Every kind of line end, empty lines, and a line longer than the limit.
const QByteArray kArrival = "1018 kkkk \"Welcome\"\r\n"
                            "1005 kkkk bob 0010 \"hi\"\r\n"
                            "\r\n"
                            "lone cr\r"
                            "lone lf\n"
                            "\n"
                            "\r"
                            + QByteArray(LineFramer::kMaxLineBytes + 1, 'y') + "\r\n"
                            "1023 kkkkk bob 0010 \"waves\"\r\n"
                            "unfinished";
const QByteArrayList kArrivalLines = {"1018 kkkk \"Welcome\"", "1005 kkkk bob 0010 \"hi\"", "", "lone cr",
                                      "lone lf", "", "", "1023 kkkkk bob 0010 \"waves\""};

} // namespace

class TestLineFramer : public QObject
{
    Q_OBJECT

private slots:
    void frames_data();
    void frames();
    void sameLinesWhereverTheArrivalIsCut();
    void sameLinesFedByteByByte();
    void partialLineStaysBounded();
};

void TestLineFramer::frames_data()
{
    QTest::addColumn<QByteArrayList>("feeds");
    QTest::addColumn<QByteArrayList>("lines");

    QTest::newRow("cr lf") << QByteArrayList{"a\r\nb\r\n"} << QByteArrayList{"a", "b"};
    QTest::newRow("lone cr keeps the next character") << QByteArrayList{"a\rb\r"} << QByteArrayList{"a", "b"};
    QTest::newRow("lone lf") << QByteArrayList{"a\nb\n"} << QByteArrayList{"a", "b"};
    QTest::newRow("lf cr is two line ends") << QByteArrayList{"a\n\rb\n"} << QByteArrayList{"a", "", "b"};
    QTest::newRow("cr cr lf") << QByteArrayList{"a\r\r\n"} << QByteArrayList{"a", ""};
    QTest::newRow("empty lines") << QByteArrayList{"\r\n\r\n\n"} << QByteArrayList{"", "", ""};
    QTest::newRow("empty arrival") << QByteArrayList{""} << QByteArrayList{};
    QTest::newRow("cr then lf in the next arrival")
        << QByteArrayList{"a\r", "\nb\r\n"} << QByteArrayList{"a", "b"};
    QTest::newRow("cr then an empty arrival then lf")
        << QByteArrayList{"a\r", "", "\nb\n"} << QByteArrayList{"a", "b"};
    QTest::newRow("cr then a line in the next arrival")
        << QByteArrayList{"a\r", "1005\r\n"} << QByteArrayList{"a", "1005"};
    QTest::newRow("cr then an empty line")
        << QByteArrayList{"a\r", "\r\n"} << QByteArrayList{"a", ""};
    QTest::newRow("incomplete line completed later")
        << QByteArrayList{"10", "05 kkkk", " bob 0010 \"hi\"\r", "\n"}
        << QByteArrayList{"1005 kkkk bob 0010 \"hi\""};
    QTest::newRow("incomplete line never completed") << QByteArrayList{"1005 kk"} << QByteArrayList{};
    QTest::newRow("line of exactly the limit") << QByteArrayList{kLimit + "\r\nok\r\n"}
                                               << QByteArrayList{kLimit, "ok"};
    QTest::newRow("line of the limit across arrivals")
        << QByteArrayList{kLimit.left(100), kLimit.mid(100), "\n"} << QByteArrayList{kLimit};
    QTest::newRow("one byte over the limit") << QByteArrayList{kLimit + "x\r\nok\r\n"} << QByteArrayList{"ok"};
    QTest::newRow("over the limit by the next arrival")
        << QByteArrayList{kLimit, "x", "y\nok\n"} << QByteArrayList{"ok"};
    QTest::newRow("over the limit, cr and lf split")
        << QByteArrayList{kLimit + "x\r", "\nok\n"} << QByteArrayList{"ok"};
    QTest::newRow("over the limit, then lone cr keeps the next line")
        << QByteArrayList{kLimit + kLimit + "\r", "ok\r"} << QByteArrayList{"ok"};
}

void TestLineFramer::frames()
{
    QFETCH(QByteArrayList, feeds);
    QFETCH(QByteArrayList, lines);
    QCOMPARE(frame(feeds), lines);
}

void TestLineFramer::sameLinesWhereverTheArrivalIsCut()
{
    for (qsizetype cut = 0; cut <= kArrival.size(); ++cut) {
        const QByteArrayList lines = frame({kArrival.left(cut), kArrival.mid(cut)});
        QVERIFY2(lines == kArrivalLines, qPrintable(QStringLiteral("cut at byte %1").arg(cut)));
    }
}

void TestLineFramer::sameLinesFedByteByByte()
{
    LineFramer framer;
    QByteArrayList lines;
    for (char byte : kArrival)
        framer.feed(QByteArrayView(&byte, 1), [&](QByteArrayView line) { lines.append(line.toByteArray()); });
    QCOMPARE(lines, kArrivalLines);
}

void TestLineFramer::partialLineStaysBounded()
{
    LineFramer framer;
    const QByteArray chunk(4096, 'z');
    for (int i = 0; i < 1000; ++i) {
        QCOMPARE(frame(framer, {chunk}), QByteArrayList{});
        QVERIFY(framer.pendingBytes() <= LineFramer::kMaxLineBytes);
    }
    QCOMPARE(frame(framer, {"zz\r\n1005 ok\r\n"}), QByteArrayList{"1005 ok"});
    QCOMPARE(framer.pendingBytes(), 0);
}

QTEST_GUILESS_MAIN(TestLineFramer)
#include "tst_lineframer.moc"
