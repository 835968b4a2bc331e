// SPDX-License-Identifier: MIT
#include "ui/TorvalMain.h"

#include "reception/EventLine.h"
#include "reception/ReceiveState.h"
#include "ui/RosterIndex.h"
#include "reception/TextCodec.h"
#include "ui/DisplayPane.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QTimer>

namespace {

// The socket buffers at most this much; beyond it TCP holds the server back
// until the backlog drains.
constexpr qint64 kSocketBufferBytes = 256 * 1024;
constexpr qint64 kReadChunkBytes = 16 * 1024;
// A slice of lines ends after this long or this many lines, whichever comes
// first; writing its lines to the panes afterwards costs about as much again.
constexpr qint64 kSliceNanoseconds = 5'000'000;
constexpr int kSliceLines = 2000;
// A hostile server cannot grow the user list past this.
constexpr int kRosterLimit = 10000;

} // namespace

void TorvalMain::prepareReception()
{
    Winsock1->setReadBufferSize(kSocketBufferBytes);
    // An unfinished line belongs to the link it came on.
    connect(Winsock1, &QTcpSocket::connected, this, [this] { receive->framer.reset(); });
    receive->roster = new RosterIndex(Roomlist);
}

void TorvalMain::Winsock1_DataArrival()
{
    if (!receive->sliceQueued)
        ParseIncoming();
}

void TorvalMain::ParseIncoming()
{
    receive->sliceQueued = false;
    if (runSlice()) {
        receive->sliceQueued = true;
        QTimer::singleShot(0, this, &TorvalMain::ParseIncoming);
    }
}

bool TorvalMain::runSlice()
{
    QElapsedTimer slice;
    slice.start();
    PaneAppendBatch batch;
    auto &backlog = receive->backlog;
    int lines = 0;
    do {
        while (backlog.empty()) {
            if (!readChunk())
                return false;
        }
        const QString line = std::move(backlog.front());
        backlog.pop_front();
        dispatchLine(line);
    } while (++lines < kSliceLines && slice.nsecsElapsed() < kSliceNanoseconds);
    return true;
}

bool TorvalMain::readChunk()
{
    if (Winsock1->bytesAvailable() <= 0)
        return false;
    frameBytes(Winsock1->read(kReadChunkBytes));
    return true;
}

void TorvalMain::frameBytes(QByteArrayView bytes)
{
    receive->framer.feed(bytes, [this](QByteArrayView line) {
        QString text = decodeLine(line);
        text += u'\r';
        receive->backlog.push_back(std::move(text));
    });
}

void TorvalMain::feedBytesForTesting(QByteArrayView bytes)
{
    frameBytes(bytes);
    while (runSlice()) {
    }
}

void TorvalMain::dispatchLine(const QString &line)
{
    using Handler = void (TorvalMain::*)(const QString &);
    struct Event {
        QStringView code;
        Handler handler; // none: the code is known and needs nothing done
    };
    static constexpr Event kEvents[] = {
        {u"1001", &TorvalMain::OnUser},
        {u"1002", &TorvalMain::OnJoin},
        {u"1003", &TorvalMain::OnLeave},
        {u"1004", &TorvalMain::OnWhisper},
        {u"1005", &TorvalMain::OnTalk},
        {u"1007", &TorvalMain::OnChannel},
        {u"1018", &TorvalMain::OnInfo},
        {u"1023", &TorvalMain::OnEmote},
        {u"1019", nullptr},
        {u"2000", nullptr},
        {u"2010", nullptr},
    };
    const QStringView code = QStringView(line).left(4);
    for (const Event &event : kEvents) {
        if (code == event.code) {
            if (event.handler)
                (this->*event.handler)(line);
            return;
        }
    }
}

void TorvalMain::OnUser(const QString &line)
{
    const std::optional<QString> entry = cutRosterEntry(line);
    if (!entry)
        return;
    if (Roomlist->count() < kRosterLimit)
        receive->roster->append(*entry);
    refreshChannelCaption();
}

void TorvalMain::OnJoin(const QString &line)
{
    OnUser(line);
}

void TorvalMain::OnLeave(const QString &line)
{
    const std::optional<QString> key = cutLeaveKey(line);
    if (!key)
        return;
    receive->roster->removeFirst(*key);
    refreshChannelCaption();
}

void TorvalMain::OnChannel(const QString &line)
{
    const std::optional<QString> channel = cutChannelName(line);
    if (!channel)
        return;
    receive->roster->clear();
    setCursor(Qt::ArrowCursor);
    CurrentChannel = *channel;
    appendDisplayLine(Text2, channelAnnouncement(CurrentChannel));
    refreshChannelCaption();
}

void TorvalMain::OnTalk(const QString &line)
{
    const std::optional<MessageFields> fields = cutMessage(line, kTalkNameStart);
    appendDisplayLine(Text2, [&](QString &out) { fields ? writeTalkBody(out, *fields) : writeRawLine(out, line); });
}

void TorvalMain::OnWhisper(const QString &line)
{
    const std::optional<MessageFields> fields = cutMessage(line, kWhisperNameStart);
    appendDisplayLine(Text3, [&](QString &out) { fields ? writeWhisperBody(out, *fields) : writeRawLine(out, line); });
}

void TorvalMain::OnInfo(const QString &line)
{
    appendPlainLine(Text2, cutInfoText(line));
}

void TorvalMain::OnEmote(const QString &line)
{
    const std::optional<MessageFields> fields = cutMessage(line, kEmoteNameStart);
    appendDisplayLine(Text2, [&](QString &out) { fields ? writeEmoteBody(out, *fields) : writeRawLine(out, line); });
}

void TorvalMain::refreshChannelCaption()
{
    Channel->setText(channelCaption(CurrentChannel, Roomlist->count()));
}
