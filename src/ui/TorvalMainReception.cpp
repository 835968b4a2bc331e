// SPDX-License-Identifier: MIT
// Rendering what the session received: its lines in the panes, the user
// list's caption.
#include "ui/TorvalMain.h"

#include "reception/DisplayText.h"
#include "reception/RosterModel.h"
#include "session/ChatSession.h"
#include "ui/DisplayPane.h"
#include "ui/PaneMarks.h"

#include <QLabel>
#include <QPlainTextEdit>

void TorvalMain::Winsock1_DataArrival(const ShownLines &lines)
{
    PaneAppendBatch batch; // the batch's pane lines, written in one edit per pane when it ends
    int chatRow = 0;
    for (const ShownLine &line : lines.lines()) {
        QPlainTextEdit *pane = line.pane == ShownLine::Pane::Whisper ? Text3 : Text2;
        const QStringView body = lines.body(line);
        if (pane == Text2)
            ++chatRow;
        switch (line.kind) {
        case ShownLine::Kind::Replayed:
            // Carries its own date and time from the log.
            batch.addPlainLine(pane, body);
            if (pane == Text2)
                chatMarks->markMutedRow(chatRow - 1);
            break;
        case ShownLine::Kind::Info:
            batch.addPlainLine(pane, body);
            break;
        case ShownLine::Kind::Unparsed:
            // The name in the line is not told apart, so the whole line gets the name rules.
            batch.writeDisplayLine(pane, [body](QString &out) { appendWithNameRules(out, body); });
            break;
        default:
            batch.addDisplayLine(pane, body);
            break;
        }
    }
}

void TorvalMain::refreshChannelCaption()
{
    Channel->setText(channelCaption(m_session->CurrentChannel(), m_session->roster()->count()));
}
