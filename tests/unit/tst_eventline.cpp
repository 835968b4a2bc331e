// SPDX-License-Identifier: MIT
// The cutting functions' edge cases on their own. The rows of the message and
// roster example tables run through the link in tst_chatlink.cpp.
#include "protocol/ChatEvent.h"
#include "protocol/EventCutter.h"

#include <QTest>

namespace {
const QString kGrin = QStringLiteral("\U0001F600"); // one character, two UTF-16 units
const QString kNotCut = "(not cut)";
} // namespace

class tst_eventline : public QObject
{
    Q_OBJECT

private slots:
    void flagsPosition_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("nameStart");
        QTest::addColumn<int>("position");
        QTest::newRow("flag value inside the text") << "1005 kkkk bob 0010 \"a 0012 b\"" << kTalkNameStart << 15;
        QTest::newRow("operator flags") << "1001 kkkk op 0001" << kUserNameStart << 14;
        QTest::newRow("hex flags in either case") << "1005 kkkk bob aBcD \"x\"" << kTalkNameStart << 15;
        QTest::newRow("a name that looks like flags") << "1005 kkkk 0010 0000 \"x\"" << kTalkNameStart << 16;
        QTest::newRow("no flags") << "1005 kkkk bob \"hi\"" << kTalkNameStart << 0;
        QTest::newRow("five digits") << "1005 kkkk bob 00100 \"hi\"" << kTalkNameStart << 0;
        QTest::newRow("carriage return that does not end the line") << "1001 kkkk bob 0010\rx" << kUserNameStart << 0;
        QTest::newRow("not a hex digit") << "1005 kkkk bob 001g \"hi\"" << kTalkNameStart << 0;
        QTest::newRow("flags before the name") << "1005 0010 bob" << kTalkNameStart << 0;
        QTest::newRow("code only") << "1005" << kTalkNameStart << 0;
        QTest::newRow("empty") << "" << kTalkNameStart << 0;
    }

    void flagsPosition()
    {
        QFETCH(QString, line);
        QFETCH(int, nameStart);
        QFETCH(int, position);
        QCOMPARE(FindFlagsPos(line + u'\r', nameStart), position);
    }

    // Lines are written without the carriage return that ends them on arrival;
    // the event they give is written "name|text".
    void cuts_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("event");
        QTest::newRow("talk, wide character in the keyword") << "1005 k" + kGrin + "kk bob 0010 \"x\"" << "bob|x";
        QTest::newRow("talk, wide character as the text") << "1005 kkkk bob 0010 \"" + kGrin + "\"" << "bob|" + kGrin;
        QTest::newRow("talk, wide opening quote") << "1005 kkkk bob 0010 " + kGrin + "hi\"" << "bob|hi";
        QTest::newRow("talk, wide closing quote") << "1005 kkkk bob 0010 \"hi" + kGrin << "bob|hi";
        QTest::newRow("channel, wide closing character") << "1007 kkkkkkk \"Lobby" + kGrin << "Lobby|";
        const std::pair<const char *, const char *> rows[] = {
            {"1005 kkkk bob 0010 ", nullptr}, {"1004 kkkkkkk bob \"hi\"", nullptr}, {"1018 kkkk \"open", "|"},
            {"1018 kkkk \"\"", "|"}, {"1001 kkkk bob  0010", "bob  |"}, {"1002 kkkk bob 0020", "bob |"},
            {"1003 kkkkk  bob  0010", "bob|"}, {"1003 kkkkk \tbob 0010", "\tbob|"}, {"1003 kkkkk x0010y 0002", "x0010y|"},
            {"1003", nullptr}, {"1007 kkkkkkk \"", nullptr}};
        for (const auto &[line, event] : rows)
            QTest::newRow(line) << QString(line) << (event ? QString(event) : kNotCut);
    }

    void cuts()
    {
        QFETCH(QString, line);
        QFETCH(QString, event);
        const std::optional<ChatEvent> cut = cutEvent(line + u'\r');
        QCOMPARE(!cut || cut->kind == ChatEvent::Kind::Unparseable ? kNotCut : cut->name + u'|' + cut->text, event);
    }
};

QTEST_GUILESS_MAIN(tst_eventline)
#include "tst_eventline.moc"
