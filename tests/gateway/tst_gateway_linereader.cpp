// SPDX-License-Identifier: MIT
#include "LineReader.h"

#include <QtTest>

using Lines = QByteArrayList;

class tst_gateway_linereader : public QObject
{
    Q_OBJECT

private slots:
    void cutsLines_data()
    {
        QTest::addColumn<Lines>("chunks");
        QTest::addColumn<Lines>("lines"); // "<overlong>" marks a dropped line

        QTest::newRow("raw bytes") << Lines{QByteArray("a\r\0\xff\n", 5)} << Lines{"a", QByteArray("\0\xff", 2)};
        QTest::newRow("crlf split between chunks") << Lines{"a\r", "\nb\r", "\n\r\n"} << Lines{"a", "b", ""};
        QTest::newRow("partial line is held") << Lines{"hel", "lo", "\r\nwor"} << Lines{"hello"};
        QTest::newRow("limit, one over") << Lines{"12345678\n123456789\nok\n"} << Lines{"12345678", "<overlong>", "ok"};
        QTest::newRow("overlong, chunked") << Lines{"123456789", "ab", "c\r", "\nok\n"} << Lines{"<overlong>", "ok"};
    }

    void cutsLines()
    {
        QFETCH(Lines, chunks);
        QFETCH(Lines, lines);

        LineReader reader(8);
        Lines got;
        QByteArray line;
        for (const QByteArray &chunk : chunks) {
            reader.append(chunk);
            for (LineReader::Result r; (r = reader.next(line)) != LineReader::Result::NeedMore;)
                got << (r == LineReader::Result::Overlong ? QByteArray("<overlong>") : line);
        }
        QCOMPARE(got, lines);
    }
};

QTEST_GUILESS_MAIN(tst_gateway_linereader)
#include "tst_gateway_linereader.moc"
