// SPDX-License-Identifier: MIT
#pragma once

#include "ui/ListPicker.h"

#include <QPointer>

class TorvalMain;

// Picks a channel to join; OK sends "/channel " + name through the main window.
class FrmChannel : public ListPicker
{
    Q_OBJECT

public:
    explicit FrmChannel(TorvalMain *mainWindow);

private:
    void Command1_Click() override;

    QPointer<TorvalMain> mainWindow;
};
