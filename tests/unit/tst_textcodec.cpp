// SPDX-License-Identifier: MIT
#include "reception/TextCodec.h"

#include <QTest>

namespace {

// Windows-1252 0x80..0x9F; the five undefined bytes stay C1 controls.
const QString kCp1252High = QStringLiteral("\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039"
                                           "\u0152\u008D\u017D\u008F\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014"
                                           "\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178");

QByteArray bytesFrom(int first, int last)
{
    QByteArray bytes;
    for (int b = first; b <= last; ++b)
        bytes.append(char(b));
    return bytes;
}

} // namespace

class tst_textcodec : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");

        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("nul") << QByteArray("a\0b", 3) << QStringLiteral("a\0b");
        QTest::newRow("utf-8, two to four bytes") << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")
                                                  << QStringLiteral("\u00E9\u20AC\U0001F600");
        QTest::newRow("utf-8, highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << QStringLiteral("\U0010FFFF");
        // Anything that is not valid UTF-8 is Windows-1252, the whole line.
        QTest::newRow("latin-1 byte") << QByteArray("caf\xE9") << QStringLiteral("caf\u00E9");
        QTest::newRow("valid and invalid mixed") << QByteArray("\xC3\xA9\xE9") << QStringLiteral("\u00C3\u00A9\u00E9");
        QTest::newRow("overlong, two") << QByteArray("\xC1\x80") << QStringLiteral("\u00C1\u20AC");
        QTest::newRow("overlong, three") << QByteArray("\xE0\x80\xAF") << QStringLiteral("\u00E0\u20AC\u00AF");
        QTest::newRow("overlong, four") << QByteArray("\xF0\x8F\xBF\xBF") << QStringLiteral("\u00F0\u008F\u00BF\u00BF");
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QStringLiteral("\u00ED\u00A0\u20AC");
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QStringLiteral("\u00F4\u0090\u20AC\u20AC");
        QTest::newRow("truncated at the end") << QByteArray("ok\xE2\x82") << QStringLiteral("ok\u00E2\u201A");
        QTest::newRow("truncated before ascii") << QByteArray("\xE2\x82" "A") << QStringLiteral("\u00E2\u201AA");
        QTest::newRow("lone continuation") << QByteArray("\x80") << QStringLiteral("\u20AC");
        // ASCII is scanned eight bytes at a time: a non-ASCII byte at every place in or after a word.
        QTest::newRow("ascii, 17 bytes") << QByteArray("abcdefghijklmnopq") << QStringLiteral("abcdefghijklmnopq");
        QTest::newRow("utf-8 after a word") << QByteArray("abcdefgh\xC3\xA9") << QStringLiteral("abcdefgh\u00E9");
        QTest::newRow("cp1252 last of a word") << QByteArray("abcdefg\xE9ijklmnop") << QStringLiteral("abcdefg\u00E9ijklmnop");
        QTest::newRow("cp1252 after two words") << QByteArray("abcdefghijklmnop\xE9") << QStringLiteral("abcdefghijklmnop\u00E9");
        QTest::newRow("utf-8 then invalid far on") << QByteArray("\xC3\xA9" "abcdefghijklmnop\xE9")
                                                  << QStringLiteral("\u00C3\u00A9abcdefghijklmnop\u00E9");
        QTest::newRow("cp1252 0x80-0x9F") << bytesFrom(0x80, 0x9F) << kCp1252High;
        QTest::newRow("cp1252 0xA0-0xFF") << bytesFrom(0xA0, 0xFF) << QString::fromLatin1(bytesFrom(0xA0, 0xFF));
    }

    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(decodeLine(bytes), text);
    }

    // Outgoing text; the last row takes every byte through decoding and back.
    void encode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("not in the code page") << QStringLiteral("a\u0080\u0100\u4E2D") << QByteArray("a???");
        QTest::newRow("one ? per wide character") << QStringLiteral("a\U0001F600b\U0001F600\U0001F600")
                                                  << QByteArray("a?b??");
        // A lone high surrogate, a lone low one, and a pair the wrong way round at the end.
        const QChar high(0xD83D), low(0xDE00);
        QTest::newRow("lone surrogates") << QString(high) + u'x' + low + u'y' + low + high << QByteArray("?x?y??");
        QTest::newRow("every byte back as it came") << decodeLine(bytesFrom(0x00, 0xFF)) << bytesFrom(0x00, 0xFF);
    }

    void encode()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(encodeOutgoing(text), bytes);
    }
};

QTEST_GUILESS_MAIN(tst_textcodec)
#include "tst_textcodec.moc"
