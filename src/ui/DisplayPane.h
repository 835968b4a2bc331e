// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QPlainTextEdit;

// Panes keep at least this many of their last lines; older ones are dropped
// so that a long session or a flood cannot grow memory without bound.
inline constexpr int kPaneLineLimit = 100000;

// Prepares a QPlainTextEdit for use as a chat pane: no undo history (it would
// keep every appended line twice) and the line limit above.
void configurePane(QPlainTextEdit *pane);

// Appends "[" + time + "] " + body as one line and puts the caret at the end,
// so the pane shows its last line. Costs the same whatever the pane holds.
void appendDisplayLine(QPlainTextEdit *pane, const QString &body);
// The same without the timestamp (server information lines).
void appendPlainLine(QPlainTextEdit *pane, const QString &text);
