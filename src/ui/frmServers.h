// SPDX-License-Identifier: MIT
#pragma once

#include "ui/ListPicker.h"

// Picks the server to connect to; Connect shows it modally and then dials
// serverAddress(), however the picker was closed.
class frmServers : public ListPicker
{
    Q_OBJECT

public:
    explicit frmServers(QWidget *parent = nullptr);

    // The stored server when the picker opened, or the one picked.
    QString serverAddress() const { return m_serverAddress; }

private:
    void Form_Load() override;
    void Command1_Click() override;
    QString shownEntry(const QString &line) const override;

    QString m_serverAddress;
};
