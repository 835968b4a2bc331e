// SPDX-License-Identifier: MIT
#include "reception/TextCodec.h"

#include <QTest>

namespace {

// Windows-1252 0x80..0x9F; the five undefined bytes stay C1 controls.
const QString kCp1252High = QString::fromUtf16(
    u"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u008D\u017D\u008F"
    u"\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178");

QByteArray bytesFrom(unsigned char first, unsigned char last)
{
    QByteArray bytes;
    for (int b = first; b <= last; ++b)
        bytes.append(char(b));
    return bytes;
}

} // namespace

class TestTextCodec : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void encode_data();
    void encode();
    void eightBitLineSurvivesTheRoundTrip();
};

void TestTextCodec::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("ascii") << QByteArray("1005 kkkk bob") << "1005 kkkk bob";
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QString::fromUtf16(u"a\u0000b", 3);
    QTest::newRow("utf-8, two bytes") << QByteArray("caf\xC3\xA9") << QString::fromUtf16(u"caf\u00E9");
    QTest::newRow("utf-8, three bytes") << QByteArray("\xE2\x82\xAC") << QString::fromUtf16(u"\u20AC");
    QTest::newRow("utf-8, four bytes") << QByteArray("\xF0\x9F\x98\x80") << QStringLiteral("\U0001F600");
    QTest::newRow("utf-8, highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << QStringLiteral("\U0010FFFF");
    // Anything that is not valid UTF-8 is Windows-1252, the whole line.
    QTest::newRow("latin-1 byte") << QByteArray("caf\xE9") << QString::fromUtf16(u"caf\u00E9");
    QTest::newRow("valid and invalid mixed") << QByteArray("\xC3\xA9\xE9") << QString::fromUtf16(u"\u00C3\u00A9\u00E9");
    QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << QString::fromUtf16(u"\u00C0\u00AF");
    QTest::newRow("overlong nul") << QByteArray("\xC1\x80") << QString::fromUtf16(u"\u00C1\u20AC");
    QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << QString::fromUtf16(u"\u00E0\u20AC\u00AF");
    QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF")
                                         << QString::fromUtf16(u"\u00F0\u008F\u00BF\u00BF");
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QString::fromUtf16(u"\u00ED\u00A0\u20AC");
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80")
                                    << QString::fromUtf16(u"\u00F4\u0090\u20AC\u20AC");
    QTest::newRow("five-byte lead") << QByteArray("\xF8\x88\x80\x80\x80")
                                    << QString::fromUtf16(u"\u00F8\u02C6\u20AC\u20AC\u20AC");
    QTest::newRow("truncated at the end") << QByteArray("ok\xE2\x82") << QString::fromUtf16(u"ok\u00E2\u201A");
    QTest::newRow("truncated before ascii") << QByteArray("\xE2\x82" "A") << QString::fromUtf16(u"\u00E2\u201AA");
    QTest::newRow("lone continuation") << QByteArray("\x80") << QString::fromUtf16(u"\u20AC");
    QTest::newRow("cp1252 0x80-0x9F") << bytesFrom(0x80, 0x9F) << kCp1252High;
    QTest::newRow("cp1252 0xA0-0xFF") << bytesFrom(0xA0, 0xFF) << QString::fromLatin1(bytesFrom(0xA0, 0xFF));
}

void TestTextCodec::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeLine(bytes), text);
}

void TestTextCodec::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ascii") << "/join Lobby" << QByteArray("/join Lobby");
    QTest::newRow("latin-1") << QString::fromUtf16(u"caf\u00E9") << QByteArray("caf\xE9");
    QTest::newRow("cp1252 high range") << kCp1252High << bytesFrom(0x80, 0x9F);
    QTest::newRow("not in the code page") << QString::fromUtf16(u"\u0100\u4E2D") << QByteArray("??");
    QTest::newRow("C1 control without a byte") << QString::fromUtf16(u"\u0080") << QByteArray("?");
    QTest::newRow("one ? per wide character") << QStringLiteral("a\U0001F600b\U0001F600\U0001F600")
                                              << QByteArray("a?b??");
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + "x" << QByteArray("?x");
    QTest::newRow("lone low surrogate") << "x" + QString(QChar(0xDE00)) << QByteArray("x?");
    QTest::newRow("reversed pair") << QString(QChar(0xDE00)) + QChar(0xD83D) << QByteArray("??");
}

void TestTextCodec::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeOutgoing(text), bytes);
}

void TestTextCodec::eightBitLineSurvivesTheRoundTrip()
{
    const QByteArray all = bytesFrom(0x00, 0xFF);
    QCOMPARE(encodeOutgoing(decodeLine(all)), all);
}

QTEST_GUILESS_MAIN(TestTextCodec)
#include "tst_textcodec.moc"
