// SPDX-License-Identifier: MIT
#include "ui/TorvalMod1.h"

#include "settings/Settings.h"
#include "ui/FrmOpt.h"
#include "ui/TorvalMain.h"

#include <QCoreApplication>

qint16 ScreenSize = 0;

namespace {
std::function<void()> &endProgramOverride()
{
    static std::function<void()> action;
    return action;
}
} // namespace

namespace TorvalMod1 {

QWidget *Main()
{
    ScreenSize = toInt16OrZero(GetSetting(Keys::ScreenSize));
    if (ScreenSize != 0)
        return showMainWindow();
    auto *options = new FrmOpt;
    options->setAttribute(Qt::WA_DeleteOnClose);
    options->show();
    return options;
}

QWidget *showMainWindow()
{
    auto *window = new TorvalMain;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->showMaximized();
    return window;
}

} // namespace TorvalMod1

void endProgram()
{
    if (const auto &action = endProgramOverride())
        action();
    else
        QCoreApplication::exit(0);
}

void setEndProgramForTesting(std::function<void()> action)
{
    endProgramOverride() = std::move(action);
}
