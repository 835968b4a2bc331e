// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QWidget;

// The program's name, as its title bar, banner and About window show it.
inline constexpr char kProgramTitle[] = "Vesk Chat";

// The application's title: what message boxes without a title of their own
// show. It reads "Vesk Chat" from the start; the About window sets it again.
extern QString AppTitle;

// A message box with an OK button only; an empty title shows AppTitle.
void MsgBox(QWidget *parent, const QString &text, const QString &title = QString());

// An input box over an empty field: the typed text, or "" when cancelled.
// When cancelled is given it tells the two apart.
QString InputBox(QWidget *parent, const QString &prompt, const QString &title,
                 bool *cancelled = nullptr);
