#include "LineReader.h"

#include <QtTest>

class TestGatewayLineReader : public QObject
{
    Q_OBJECT

private slots:
    void cutsLines_data();
    void cutsLines();
};

void TestGatewayLineReader::cutsLines_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("lines"); // "<overlong>" marks a dropped line

    QTest::newRow("cr only") << QByteArrayList{"a\rb\r"} << QByteArrayList{"a", "b"};
    QTest::newRow("crlf split between chunks") << QByteArrayList{"a\r", "\nb\r", "\n"}
                                               << QByteArrayList{"a", "b"};
    QTest::newRow("crlf split, then empty line") << QByteArrayList{"a\r", "\n\r\n"}
                                                 << QByteArrayList{"a", ""};
    QTest::newRow("partial line is held") << QByteArrayList{"hel", "lo", "\r\nwor"}
                                          << QByteArrayList{"hello"};
    QTest::newRow("NUL and high bytes") << QByteArrayList{QByteArray("\0\xff\x80\r\n", 5)}
                                        << QByteArrayList{QByteArray("\0\xff\x80", 3)};
    QTest::newRow("exactly the limit") << QByteArrayList{"12345678\r\n"}
                                       << QByteArrayList{"12345678"};
    QTest::newRow("one over the limit") << QByteArrayList{"123456789\r\nok\r\n"}
                                        << QByteArrayList{"<overlong>", "ok"};
    QTest::newRow("overlong across chunks")
            << QByteArrayList{"1234", "56789", "abcdefghijkl", "mno\r", "\nok\n"}
            << QByteArrayList{"<overlong>", "ok"};
}

void TestGatewayLineReader::cutsLines()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArrayList, lines);

    LineReader reader(8);
    QByteArrayList got;
    for (const QByteArray &chunk : chunks) {
        reader.append(chunk);
        QByteArray line;
        for (;;) {
            const LineReader::Result result = reader.next(line);
            if (result == LineReader::Result::NeedMore)
                break;
            got << (result == LineReader::Result::Overlong ? QByteArray("<overlong>") : line);
        }
    }
    QCOMPARE(got, lines);
}

QTEST_GUILESS_MAIN(TestGatewayLineReader)
#include "tst_gateway_linereader.moc"
