// SPDX-License-Identifier: MIT
#include "ui/frmAbout.h"

#include "ui/DesignStyle.h"
#include "ui/Dialogs.h"
#include "ui/Images.h"
#include "ui/Twips.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr char kVersion[] = "Version 1.0";
constexpr char kDescription[] =
    "Written by the Vesk Chat developers (vesk-chat@users.noreply.invalid). "
    "This client is still in its beta stage.";
} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(appIcon());
    setFont(designFont(8.25));
    setFixedSize(twipsToPixels(4605), twipsToPixels(2895));
    move(twipsToPixels(2340), twipsToPixels(1935));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true); // Enter presses it; Escape closes the dialog as well
    placeTwips(cmdOK, 240, 2400, 3900, 345);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    auto label = [this](QLabel *&member, const char *name, const QString &text, TwipsRect r) {
        member = new QLabel(text, this);
        member->setObjectName(QLatin1String(name));
        member->setTextFormat(Qt::PlainText);
        member->setWordWrap(true);
        member->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        placeTwips(member, r.left, r.top, r.width, r.height);
    };
    label(lblTitle, "lblTitle", QStringLiteral("Application Title"), {240, 240, 3885, 480});
    lblTitle->setFont(designFont(9.75));
    label(lblVersion, "lblVersion", QStringLiteral("Version"), {240, 720, 3885, 225});
    label(lblDescription, "lblDescription", QString::fromLatin1(kDescription), {240, 1080, 3885, 1170});

    cmdOK->setFocus();
    Form_Load();
}

void frmAbout::Form_Load()
{
    AppTitle = QString::fromLatin1(kProgramTitle);
    setWindowTitle(QStringLiteral("About ") + AppTitle);
    lblVersion->setText(QString::fromLatin1(kVersion));
    lblTitle->setText(AppTitle);
}

void frmAbout::cmdOK_Click()
{
    close();
}
