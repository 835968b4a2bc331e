// SPDX-License-Identifier: MIT
#pragma once

#include "ui/ListPicker.h"

// Picks the server to connect to; Connect shows it modally and then dials
// whatever ServerAddress holds, however the picker was closed.
class frmServers : public ListPicker
{
    Q_OBJECT

public:
    explicit frmServers(QWidget *parent = nullptr);

private:
    void Form_Load() override;
    void Command1_Click() override;
};
