// SPDX-License-Identifier: MIT
// Rendering received events: each handler shows one event in the panes, the
// user list or its caption.
#include "ui/TorvalMain.h"

#include "reception/DisplayText.h"
#include "reception/EventLine.h"
#include "ui/DisplayPane.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>

void TorvalMain::Winsock1_DataArrival(const ChatEvents &events)
{
    {
        PaneAppendBatch batch; // the slice's pane lines, written in one edit per pane when it ends
        for (const ChatEvent &event : events)
            ParseIncoming(event, batch);
    }
    endOfSlice();
}

void TorvalMain::ParseIncoming(const ChatEvent &event, PaneAppendBatch &batch)
{
    using Kind = ChatEvent::Kind;
    switch (event.kind) {
    case Kind::Talk: OnTalk(event, batch); break;
    case Kind::Whisper: OnWhisper(event, batch); break;
    case Kind::Emote: OnEmote(event, batch); break;
    case Kind::Info: OnInfo(event, batch); break;
    case Kind::Channel: OnChannel(event, batch); break;
    case Kind::UserPresent: OnUser(event); break;
    case Kind::UserJoined: OnJoin(event); break;
    case Kind::UserLeft: OnLeave(event); break;
    case Kind::Unparseable: OnUnparseable(event, batch); break;
    }
}

void TorvalMain::OnUser(const ChatEvent &event)
{
    if (roster.append(event.name))
        Roomlist->addItem(displayName(event.name));
    refreshChannelCaption();
}

void TorvalMain::OnJoin(const ChatEvent &event)
{
    OnUser(event);
}

void TorvalMain::OnLeave(const ChatEvent &event)
{
    if (const std::optional<int> row = roster.removeFirst(event.name))
        delete Roomlist->takeItem(*row);
    refreshChannelCaption();
}

void TorvalMain::OnChannel(const ChatEvent &event, PaneAppendBatch &batch)
{
    clearRoster();
    setCursor(Qt::ArrowCursor);
    CurrentChannel = event.name;
    showDisplayLine(batch, Text2, channelAnnouncement(CurrentChannel));
    refreshChannelCaption();
    loginCompleted();
}

void TorvalMain::OnTalk(const ChatEvent &event, PaneAppendBatch &batch)
{
    const QString body = talkBody(event.name, event.text);
    noticeMessage(false, event.name, event.text, body);
    showDisplayLine(batch, Text2, body);
}

void TorvalMain::OnWhisper(const ChatEvent &event, PaneAppendBatch &batch)
{
    const QString body = whisperBody(event.name, event.text);
    noticeMessage(true, event.name, event.text, body);
    showDisplayLine(batch, Text3, body);
}

void TorvalMain::OnInfo(const ChatEvent &event, PaneAppendBatch &batch)
{
    showPlainLine(batch, Text2, event.text);
}

void TorvalMain::OnEmote(const ChatEvent &event, PaneAppendBatch &batch)
{
    const QString body = emoteBody(event.name, event.text);
    noticeMessage(false, event.name, event.text, body);
    showDisplayLine(batch, Text2, body);
}

void TorvalMain::OnUnparseable(const ChatEvent &event, PaneAppendBatch &batch)
{
    // The name in the line is not told apart, so the whole line gets the name rules.
    QString shown;
    appendWithNameRules(shown, event.text);
    showDisplayLine(batch, event.unparsedAs == ChatEvent::Kind::Whisper ? Text3 : Text2, shown);
}

void TorvalMain::clearRoster()
{
    roster.clear();
    Roomlist->clear();
}

void TorvalMain::refreshChannelCaption()
{
    Channel->setText(channelCaption(CurrentChannel, Roomlist->count()));
}
