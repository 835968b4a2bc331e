// SPDX-License-Identifier: MIT
#include "ui/TorvalMod1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TorvalMod1::Main();
    return app.exec();
}
