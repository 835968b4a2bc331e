// SPDX-License-Identifier: MIT
// The cutting functions' edge cases on their own. The rows of the message and
// roster example tables run through the link in tst_chatlink.cpp.
#include "reception/EventLine.h"

#include <QTest>

namespace {

const QString kGrin = QStringLiteral("\U0001F600"); // one character, two UTF-16 units
const QString kNotCut = QStringLiteral("(not cut)");

// What the cutting function for the line's code makes of it, a message as "name|text".
// Lines are written without the carriage return that ends them on arrival.
QString cut(const QString &written)
{
    const QString line = written + u'\r';
    const QStringView code = QStringView(line).left(4);
    std::optional<QString> result;
    if (code == u"1018")
        result = cutInfoText(line);
    else if (code == u"1001" || code == u"1002")
        result = cutRosterEntry(line);
    else if (code == u"1003")
        result = cutLeaveKey(line);
    else if (code == u"1007")
        result = cutChannelName(line);
    else {
        const int start = code == u"1004" ? kWhisperNameStart : code == u"1023" ? kEmoteNameStart : kTalkNameStart;
        if (const auto fields = cutMessage(line, start))
            result = fields->name + u'|' + fields->text;
    }
    return result.value_or(kNotCut);
}

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

    void cuts_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("result");

        QTest::newRow("talk, wide character in the keyword") << "1005 k" + kGrin + "kk bob 0010 \"x\"" << "bob|x";
        QTest::newRow("talk, wide character as the text") << "1005 kkkk bob 0010 \"" + kGrin + "\"" << "bob|" + kGrin;
        QTest::newRow("talk, wide opening quote") << "1005 kkkk bob 0010 " + kGrin + "hi\"" << "bob|hi";
        QTest::newRow("talk, wide closing quote") << "1005 kkkk bob 0010 \"hi" + kGrin << "bob|hi";
        QTest::newRow("talk, space only after the flags") << "1005 kkkk bob 0010 " << kNotCut;
        QTest::newRow("whisper, no flags") << "1004 kkkkkkk bob \"hi\"" << kNotCut;
        QTest::newRow("info, one quote") << "1018 kkkk \"open" << "";
        QTest::newRow("info, empty quotes") << "1018 kkkk \"\"" << "";
        QTest::newRow("user, spaces before the flags kept") << "1001 kkkk bob  0010" << "bob  ";
        QTest::newRow("join, squelched user") << "1002 kkkk bob 0020" << "bob ";
        QTest::newRow("leave, spaces trimmed") << "1003 kkkkk  bob  0010" << "bob";
        QTest::newRow("leave, only spaces trimmed") << "1003 kkkkk \tbob 0010" << "\tbob";
        QTest::newRow("leave, flag value inside the name") << "1003 kkkkk x0010y 0002" << "x0010y";
        QTest::newRow("leave, code only") << "1003" << kNotCut;
        QTest::newRow("channel, L = 15") << "1007 kkkkkkk \"" << kNotCut;
        QTest::newRow("channel, wide closing character") << "1007 kkkkkkk \"Lobby" + kGrin << "Lobby";
    }

    void cuts()
    {
        QFETCH(QString, line);
        QFETCH(QString, result);
        QCOMPARE(cut(line), result);
    }
};

QTEST_GUILESS_MAIN(tst_eventline)
#include "tst_eventline.moc"
