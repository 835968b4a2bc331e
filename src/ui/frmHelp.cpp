// SPDX-License-Identifier: MIT
#include "ui/frmHelp.h"

#include "ui/DesignStyle.h"
#include "ui/Images.h"
#include "ui/Twips.h"

#include <QLabel>
#include <QPlainTextEdit>

frmHelp::frmHelp(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmHelp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Help"));
    setWindowIcon(appIcon());
    setFont(designFont(8.25));
    resize(twipsToPixels(5895), twipsToPixels(3630));

    Text1 = new QPlainTextEdit(QStringLiteral("Read the Readme.txt file!\r\n"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Help Text"));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    placeTwips(Text1, 120, 720, 5655, 2775);

    Label1 = new QLabel(QStringLiteral("Vesk Chat Help"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setFont(designFont(18));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    placeTwips(Label1, 240, 120, 5535, 375);

    Text1->setFocus();
}
