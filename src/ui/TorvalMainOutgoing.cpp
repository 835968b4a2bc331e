// SPDX-License-Identifier: MIT
#include "ui/TorvalMain.h"

#include "outgoing/CommandLines.h"
#include "outgoing/IdleTick.h"
#include "outgoing/TypedLine.h"
#include "reception/DisplayText.h"
#include "session/ChatLink.h"
#include "session/Globals.h"
#include "settings/Settings.h"
#include "ui/Dialogs.h"
#include "ui/DisplayPane.h"
#include "ui/TorvalMod1.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

namespace {
constexpr char kNotConnectedNotice[] =
    "Not connected: nothing was sent and your line was kept. Connect to a server first.";
constexpr char kIdleTitle[] = "Idle";
constexpr char kIdleSecondsPrompt[] = "Enter number of seconds between idles";
constexpr char kIdleMessagePrompt[] = "Enter your idle message:";

// What the user has in the input line, caret and selection included.
struct InputLineState {
    QString text;
    int cursor = 0;
    int selectionStart = -1;
    int selectionLength = 0;

    static InputLineState of(const QLineEdit *line)
    {
        return {line->text(), line->cursorPosition(), line->selectionStart(),
                line->selectionLength()};
    }

    void restore(QLineEdit *line) const
    {
        line->setText(text);
        if (selectionStart < 0) {
            line->setCursorPosition(cursor);
        } else if (cursor == selectionStart) {
            // setSelection leaves the caret at its second end, so select backwards.
            line->setSelection(selectionStart + selectionLength, -selectionLength);
        } else {
            line->setSelection(selectionStart, selectionLength);
        }
    }
};
} // namespace

void TorvalMain::Send_Click()
{
    const QString typed = Text1->text();
    rememberSentLine(typed);
    if (!sendInputLine())
        return;
    // Only lines the user typed: the Whisper button writes its own echo.
    if (const std::optional<QString> echo = typedWhisperEcho(typed))
        showDisplayLine(Text3, *echo);
}

bool TorvalMain::sendInputLine()
{
    const TypedLine line = interpretTypedLine(Text1->text());
    switch (line.action) {
    case TypedLine::Action::Clear:
        Text3->clear();
        Text2->clear();
        Text1->clear();
        return true;
    case TypedLine::Action::Quit:
        Quit_Click();
        return true;
    default:
        break;
    }

    if (!Winsock1->canSend()) {
        showDisplayLine(Text2, QLatin1String(kNotConnectedNotice));
        return false;
    }
    if (line.action == TypedLine::Action::Join) {
        // The nested Send cannot fail here: the link was usable a moment ago
        // and nothing in between yields to the event loop.
        SendCommand(line.text);
        return true;
    }
    if (!Winsock1->sendLine(line.text)) {
        showDisplayLine(Text2, QLatin1String(kNotConnectedNotice));
        return false;
    }
    if (line.isEchoed())
        showDisplayLine(Text2, talkBody(LoginName, line.text));
    Text1->clear();
    return true;
}

void TorvalMain::Text1_KeyPress(int &KeyAscii)
{
    if (KeyAscii != kEnterKey)
        return;
    KeyAscii = 0;
    Send_Click();
}

void TorvalMain::SendCommand(const QString &text)
{
    const QString typed = Text1->text();
    Text1->setText(text);
    if (!sendInputLine())
        Text1->setText(typed);
}

void TorvalMain::Quit_Click()
{
    endProgram();
}

QString TorvalMain::selectedEntry() const
{
    const QList<QListWidgetItem *> selected = Roomlist->selectedItems();
    if (selected.isEmpty())
        return {};
    // The list shows names by the display rules; the roster keeps them as received.
    const int row = Roomlist->row(selected.first());
    return row < roster.count() ? roster.entryAt(row) : selected.first()->text();
}

void TorvalMain::Ban_Click()
{
    SendCommand(banLine(selectedEntry(), Text1->text()));
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
    // A whisper that cannot go out is not recorded as sent; Send reports why.
    if (Winsock1->canSend())
        showDisplayLine(Text3, whisperEcho(entry, typed));
    SendCommand(whisperLine(entry, typed));
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
    if (!tick.announce || !Winsock1->canSend())
        return;
    const InputLineState typing = InputLineState::of(Text1);
    SendCommand(idleAnnouncement(IdleMessage));
    typing.restore(Text1);
}
