// SPDX-License-Identifier: MIT
// The user's lines: the input line, the roster buttons and the idle
// announcer each make one session call. Only Send, Ban and Whisper read the
// input line, and they empty it only when their line went out.
#include "ui/TorvalMain.h"

#include "outgoing/CommandLines.h"
#include "outgoing/IdleTick.h"
#include "reception/DisplayText.h"
#include "reception/RosterModel.h"
#include "session/ChatSession.h"
#include "settings/Settings.h"
#include "ui/Dialogs.h"
#include "ui/TorvalMod1.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>

namespace {
constexpr char kIdleTitle[] = "Idle";
constexpr char kIdleSecondsPrompt[] = "Enter number of seconds between idles";
constexpr char kIdleMessagePrompt[] = "Enter your idle message:";
} // namespace

void TorvalMain::Send_Click()
{
    const QString typed = Text1->text();
    rememberSentLine(typed);
    switch (m_session->sendTyped(typed)) {
    case ChatSession::TypedResult::Clear:
        Text3->clear();
        Text2->clear();
        Text1->clear();
        break;
    case ChatSession::TypedResult::Quit:
        Quit_Click();
        break;
    case ChatSession::TypedResult::Sent:
        Text1->clear();
        break;
    case ChatSession::TypedResult::NotSent:
        break; // the chat pane says why; the line stays for another try
    }
}

void TorvalMain::Text1_KeyPress(int &KeyAscii)
{
    if (KeyAscii != kEnterKey)
        return;
    KeyAscii = 0;
    Send_Click();
}

bool TorvalMain::SendCommand(const QString &text)
{
    return m_session->sendLine(text);
}

void TorvalMain::Quit_Click()
{
    endProgram();
}

QString TorvalMain::selectedEntry() const
{
    const QModelIndexList selected = Roomlist->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : selected.first().data(RosterModel::EntryRole).toString();
}

void TorvalMain::Ban_Click()
{
    if (SendCommand(banLine(selectedEntry(), Text1->text())))
        Text1->clear();
}

void TorvalMain::Kick_Click()
{
    SendCommand(kickLine(selectedEntry()));
}

void TorvalMain::Slap_Click()
{
    SendCommand(slapLine(selectedEntry()));
}

void TorvalMain::Squelch_Click()
{
    SendCommand(squelchLine(selectedEntry()));
}

void TorvalMain::UnSquelch_Click()
{
    SendCommand(unsquelchLine(selectedEntry()));
}

void TorvalMain::Whisper_Click()
{
    const QString entry = selectedEntry();
    const QString typed = Text1->text();
    // A whisper that cannot go out is not recorded as sent; the chat pane says why.
    if (!SendCommand(whisperLine(entry, typed)))
        return;
    m_session->showWhisperEcho(whisperEcho(entry, typed));
    Text1->clear();
}

void TorvalMain::Whois_Click()
{
    SendCommand(whoisLine(selectedEntry()));
}

void TorvalMain::cmdIdle_Click()
{
    const std::optional<qint16> seconds = parseIdleSeconds(
        InputBox(this, QLatin1String(kIdleSecondsPrompt), QLatin1String(kIdleTitle)));
    if (!seconds)
        return;
    IdleSeconds = *seconds;
    IdleMessage = InputBox(this, QLatin1String(kIdleMessagePrompt), QLatin1String(kIdleTitle));
    SaveSetting(Keys::IdleTime, QString::number(IdleSeconds));
    SaveSetting(Keys::IdleString, IdleMessage);
}

void TorvalMain::TimerIdle_Timer()
{
    const IdleTick tick = idleTick(IdleCount, IdleSeconds);
    IdleCount = tick.count;
    if (tick.announce && m_session->canSend())
        SendCommand(idleAnnouncement(IdleMessage));
}
