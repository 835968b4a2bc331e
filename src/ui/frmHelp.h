// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

// Points the user to the read-me file beside the program.
class frmHelp : public QWidget
{
    Q_OBJECT

public:
    explicit frmHelp(QWidget *parent = nullptr);

private:
    QPlainTextEdit *Text1 = nullptr;
    QLabel *Label1 = nullptr;
};
