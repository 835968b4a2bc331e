// SPDX-License-Identifier: MIT
#include "reception/DisplayText.h"

#include <QTest>

class tst_displaytext : public QObject
{
    Q_OBJECT

private slots:
    // Names lose control characters and direction controls; pane lines lose
    // only the control characters (through the window: tst_reception).
    void replaced_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("asName");

        QTest::newRow("plain") << QStringLiteral("Chat Room") << QStringLiteral("Chat Room");
        QTest::newRow("nul") << QStringLiteral("a\0b") << QStringLiteral("a\uFFFDb");
        QTest::newRow("every C0, DEL, C1") << [] {
            QString all;
            for (char16_t c = 0; c < 0x20; ++c)
                all += QChar(c);
            for (char16_t c = 0x7F; c <= 0xA0; ++c)
                all += QChar(c);
            return all;
        }() << QString(65, QChar(0xFFFD)) + u'\u00A0';
        QTest::newRow("line breaks and tab") << QStringLiteral("a\r\n\tb") << QStringLiteral("a\uFFFD\uFFFD\uFFFDb");
        QTest::newRow("overrides and embeddings") << QStringLiteral("\u202Aa\u202Bb\u202Cc\u202Dd\u202E")
                                                  << QStringLiteral("\uFFFDa\uFFFDb\uFFFDc\uFFFDd\uFFFD");
        QTest::newRow("isolates") << QStringLiteral("\u2066\u2067\u2068\u2069") << QString(4, QChar(0xFFFD));
        QTest::newRow("line and paragraph separators") << QStringLiteral("a\u2028b\u2029") << QStringLiteral("a\uFFFDb\uFFFD");
        QTest::newRow("neighbours kept") << QStringLiteral("\u2027\u202F\u2065\u206A\u200F\u061C\u00E9\U0001F600")
                                         << QStringLiteral("\u2027\u202F\u2065\u206A\u200F\u061C\u00E9\U0001F600");
    }

    void replaced()
    {
        QFETCH(QString, input);
        QFETCH(QString, asName);
        QString name = QStringLiteral(">");
        appendDisplayName(name, input);
        QCOMPARE(name, u'>' + asName);
        QCOMPARE(displayName(input), asName);
    }

    void cut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("shown");

        QTest::newRow("under") << QStringLiteral("abc") << 4 << QStringLiteral("abc");
        QTest::newRow("at") << QStringLiteral("abcd") << 4 << QStringLiteral("abcd");
        QTest::newRow("one over") << QStringLiteral("abcde") << 4 << QStringLiteral("abcd \u2026 [1 more character]");
        QTest::newRow("far over") << QStringLiteral("abcd") + QString(5000, u'x') << 4
                                  << QStringLiteral("abcd \u2026 [5000 more characters]");
        // A character outside the BMP is never split, and counts once.
        QTest::newRow("pair at the cut") << QStringLiteral("abc\U0001F600\U0001F600") << 4
                                         << QStringLiteral("abc \u2026 [2 more characters]");
    }

    void cut()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(QString, shown);
        QString line = QStringLiteral("[12:34] ") + text;
        cutForDisplay(line, 8, limit);
        QCOMPARE(line, QStringLiteral("[12:34] ") + shown);
    }

    void nameCut()
    {
        const QString name = QString(kDisplayNameCut, u'n') + QStringLiteral("\u202Etail");
        QCOMPARE(displayName(name), QString(kDisplayNameCut, u'n') + cutMarker(5));
        QString body = QStringLiteral("<");
        appendDisplayName(body, name);
        QCOMPARE(body, u'<' + displayName(name));
        body.clear();
        appendWithNameRules(body, name);
        QCOMPARE(body, QString(kDisplayNameCut, u'n') + QStringLiteral("\uFFFDtail"));
    }
};

QTEST_MAIN(tst_displaytext)
#include "tst_displaytext.moc"
