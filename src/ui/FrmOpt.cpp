// SPDX-License-Identifier: MIT
#include "ui/FrmOpt.h"

#include "settings/Settings.h"
#include "ui/DesignStyle.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"
#include "ui/Images.h"
#include "ui/Twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

qint16 screenSizeForChoice(bool chose640, bool chose800, bool chose1024, bool choseHigher)
{
    if (chose640)
        return 640;
    if (chose800)
        return 800;
    if (chose1024)
        return 1024;
    if (choseHigher)
        return 1200;
    return 640;
}

FrmOpt::FrmOpt(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("FrmOpt"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowIcon(appIcon());
    setFont(designFont(8.25));
    resize(twipsToPixels(5550), twipsToPixels(2295));

    lblCover = new QLabel(this);
    lblCover->setObjectName(QStringLiteral("lblCover"));
    lblCover->setAutoFillBackground(true);
    placeTwips(lblCover, -240, -120, 1815, 855);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    placeTwips(cmdOK, 4080, 960, 1095, 495);
    connect(cmdOK, &QPushButton::clicked, this, &FrmOpt::cmdOK_Click);

    // Cancel has no action: the dialog stays open until OK or its close box.
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    placeTwips(cmdCancel, 4080, 1560, 1095, 495);

    fraSreenResolution = new QGroupBox(QStringLiteral("Select your screen resolution:"), this);
    fraSreenResolution->setObjectName(QStringLiteral("fraSreenResolution"));
    placeTwips(fraSreenResolution, 360, 840, 3255, 1215);

    // The options are children of the window, laid over the frame, so that
    // they form one group.
    auto option = [this](QRadioButton *&member, const char *name, const char *caption,
                         double left, double top) {
        member = new QRadioButton(QString::fromLatin1(caption), this);
        member->setObjectName(QLatin1String(name));
        placeTwips(member, left, top, 1215, 375);
    };
    option(opt1024, "opt1024", "1024 x 768", 600, 1560);
    option(opt640, "opt640", "640 x 480", 600, 1080);
    option(opt800, "opt800", "800 x 600", 2280, 1080);
    option(optHigher, "optHigher", "Higher", 2280, 1560);

    lblTitle = new QLabel(QStringLiteral("Screen Resolution"), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setFont(designFont(18));
    lblTitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    placeTwips(lblTitle, 120, 120, 5295, 375);

    setTabOrder(cmdOK, cmdCancel);
    setTabOrder(cmdCancel, opt1024);
    setTabOrder(opt1024, opt640);
    setTabOrder(opt640, opt800);
    setTabOrder(opt800, optHigher);
    cmdOK->setFocus();
}

void FrmOpt::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, dialogCornerPicture());
}

void FrmOpt::cmdOK_Click()
{
    ScreenSize = screenSizeForChoice(opt640->isChecked(), opt800->isChecked(),
                                     opt1024->isChecked(), optHigher->isChecked());
    SaveSetting(Keys::ScreenSize, QString::number(ScreenSize));
    // The main window is shown before this one closes, so that the program,
    // which ends when its last window closes, never sees zero windows.
    TorvalMod1::showMainWindow();
    close();
}
