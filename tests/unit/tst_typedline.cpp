// SPDX-License-Identifier: MIT
// The decision on a typed line, in the table's order, and the edge cases of
// the helpers; what each decision puts on the wire is checked by the window tests.
#include "outgoing/TypedLine.h"

#include <QTest>

Q_DECLARE_METATYPE(TypedLine)

class tst_typedline : public QObject
{
    Q_OBJECT

private slots:
    void interpret_data()
    {
        using A = TypedLine::Action;
        QTest::addColumn<QString>("typed");
        QTest::addColumn<TypedLine>("line");
        const std::tuple<const char *, A, const char *> rows[] = {
            {"/clear", A::Clear, ""},          {"/clearall", A::Clear, ""},
            {"/CLEAR", A::Command, "/CLEAR"},  {"/reverse abc", A::Reverse, "cba"},
            {"/reverse", A::Reverse, ""},      {"/reversex ab", A::Reverse, "ba "},
            {"/quit now", A::Quit, ""},        {" /quit", A::Chat, " /quit"},
            {"/join lobby", A::Join, "/channel lobby"}, {"/join", A::Join, "/channel "},
            {"/joinxlobby ", A::Join, "/channel lobby "}, {"/j lobby", A::Join, "/channel lobby"},
            {"/jlobby", A::Join, "/channel obby"}, {"/whois bob", A::Command, "/whois bob"},
            {"say /clear", A::Chat, "say /clear"}, {"", A::Chat, ""},
        };
        for (const auto &[typed, action, text] : rows)
            QTest::newRow(typed) << QString::fromLatin1(typed) << TypedLine{action, QString::fromLatin1(text)};
    }

    void interpret()
    {
        QFETCH(QString, typed);
        QFETCH(TypedLine, line);
        QCOMPARE(interpretTypedLine(typed), line);
    }

    void reverse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reversed");
        const QString many(40000, QLatin1Char('a'));
        QTest::newRow("empty") << "" << "";
        QTest::newRow("surrogate pair stays whole") << QString::fromUtf8("a\U0001F600b")
                                                    << QString::fromUtf8("b\U0001F600a");
        QTest::newRow("longer than 32767") << many + QLatin1Char('z') << QLatin1Char('z') + many;
    }

    void reverse()
    {
        QFETCH(QString, text);
        QFETCH(QString, reversed);
        QCOMPARE(reversedText(text), reversed);
    }

    void whisperEcho_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("echo"); // empty: none
        const std::pair<const char *, const char *> rows[] = {
            {"/w Alice  hi ", "<TO: Alice>  hi "}, {"/msg Alice ", "<TO: Alice> "},
            {"/m Bob yo", "<TO: Bob> yo"},         {"/whisper Alice", ""},
            {"/whisper  hi", ""},                  {"/mAlice hi", ""},
            {"/me waves", ""},                     {"/W Alice hi", ""},
        };
        for (const auto &[typed, echo] : rows)
            QTest::newRow(typed) << QString::fromLatin1(typed) << QString::fromLatin1(echo);
    }

    void whisperEcho()
    {
        QFETCH(QString, typed);
        QFETCH(QString, echo);
        QCOMPARE(typedWhisperEcho(typed).value_or(QString()), echo);
    }
};

QTEST_GUILESS_MAIN(tst_typedline)
#include "tst_typedline.moc"
