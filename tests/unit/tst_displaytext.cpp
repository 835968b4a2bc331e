// SPDX-License-Identifier: MIT
#include "reception/DisplayText.h"

#include <QTest>

class tst_displaytext : public QObject
{
    Q_OBJECT

private slots:
    // Names lose control characters and direction controls, and are cut; pane
    // lines lose only the control characters (through the window: tst_reception).
    void replaced_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("asName");
        QTest::addColumn<QString>("uncut"); // by the name rules alone; empty: as a name

        QString controls;
        for (char16_t c = 0; c <= 0xA0; c = c == 0x1F ? 0x7F : c + 1)
            controls += QChar(c);
        QTest::newRow("every C0, DEL, C1") << controls << QString(65, QChar(0xFFFD)) + u'\u00A0' << QString();
        QTest::newRow("direction controls, separators") << QStringLiteral("\u202Aa\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069b\u2028\u2029")
                                                        << QStringLiteral("\uFFFDa") + QString(8, u'\uFFFD') + QStringLiteral("b\uFFFD\uFFFD") << QString();
        QTest::newRow("neighbours kept") << QStringLiteral("Chat \u2027\u202F\u2065\u206A\u200F\u061C\u00E9\U0001F600")
                                         << QStringLiteral("Chat \u2027\u202F\u2065\u206A\u200F\u061C\u00E9\U0001F600") << QString();
        const QString n(kDisplayNameCut, u'n');
        QTest::newRow("long") << n + QStringLiteral("\u202Etail") << n + cutMarker(5) << n + QStringLiteral("\uFFFDtail");
    }

    void replaced()
    {
        QFETCH(QString, input);
        QFETCH(QString, asName);
        QFETCH(QString, uncut);
        QString name = QStringLiteral(">");
        appendDisplayName(name, input);
        QCOMPARE(name, u'>' + asName);
        QCOMPARE(displayName(input), asName);
        name.clear();
        appendWithNameRules(name, input);
        QCOMPARE(name, uncut.isEmpty() ? asName : uncut);
    }

    void cut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // after a cut at 4 characters

        QTest::newRow("at") << QStringLiteral("abcd") << QStringLiteral("abcd");
        QTest::newRow("one over") << QStringLiteral("abcde") << QStringLiteral("abcd \u2026 [1 more character]");
        QTest::newRow("far over") << QStringLiteral("abcd") + QString(5000, u'x') << QStringLiteral("abcd \u2026 [5000 more characters]");
        // A character outside the BMP is never split, and counts once.
        QTest::newRow("pair at the cut") << QStringLiteral("abc\U0001F600\U0001F600") << QStringLiteral("abc \u2026 [2 more characters]");
    }

    void cut()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QString line = QStringLiteral("[12:34] ") + text;
        cutForDisplay(line, 8, 4);
        QCOMPARE(line, QStringLiteral("[12:34] ") + shown);
    }
};

QTEST_MAIN(tst_displaytext)
#include "tst_displaytext.moc"
