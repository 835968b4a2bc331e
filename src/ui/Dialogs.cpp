// SPDX-License-Identifier: MIT
#include "ui/Dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

QString AppTitle = QString::fromLatin1(kProgramTitle);

void MsgBox(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? AppTitle : title, text,
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString InputBox(QWidget *parent, const QString &prompt, const QString &title, bool *cancelled)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(QString());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (cancelled)
        *cancelled = !accepted;
    return accepted ? dialog.textValue() : QString();
}
