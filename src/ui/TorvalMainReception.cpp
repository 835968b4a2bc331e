// SPDX-License-Identifier: MIT
// Rendering received events: each handler shows one event in the panes, the
// user list or its caption.
#include "ui/TorvalMain.h"

#include "reception/DisplayText.h"
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
    noteMessage(event, writeTalkBody);
    batch.writeDisplayLine(Text2, [&event](QString &out) { writeTalkBody(out, event.name, event.text); });
}

void TorvalMain::OnWhisper(const ChatEvent &event, PaneAppendBatch &batch)
{
    noteMessage(event, writeWhisperBody);
    batch.writeDisplayLine(Text3, [&event](QString &out) { writeWhisperBody(out, event.name, event.text); });
}

void TorvalMain::OnInfo(const ChatEvent &event, PaneAppendBatch &batch)
{
    showPlainLine(batch, Text2, event.text);
}

void TorvalMain::OnEmote(const ChatEvent &event, PaneAppendBatch &batch)
{
    noteMessage(event, writeEmoteBody);
    batch.writeDisplayLine(Text2, [&event](QString &out) { writeEmoteBody(out, event.name, event.text); });
}

void TorvalMain::OnUnparseable(const ChatEvent &event, PaneAppendBatch &batch)
{
    // The name in the line is not told apart, so the whole line gets the name rules.
    batch.writeDisplayLine(event.unparsedAs == ChatEvent::Kind::Whisper ? Text3 : Text2,
                           [&event](QString &out) { appendWithNameRules(out, event.text); });
    logLine(event.text);
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
