// SPDX-License-Identifier: MIT
// Sending is not wired up yet; only the load handler sets the button states.
#include "ui/TorvalMain.h"

#include <QPushButton>

void TorvalMain::Form_Load()
{
    SetButtonStates(true, false, false, true);
}
void TorvalMain::Quit_Click() {}
void TorvalMain::Ban_Click() {}
void TorvalMain::Kick_Click() {}
void TorvalMain::Slap_Click() {}
void TorvalMain::Squelch_Click() {}
void TorvalMain::UnSquelch_Click() {}
void TorvalMain::Whisper_Click() {}
void TorvalMain::Whois_Click() {}
void TorvalMain::cmdIdle_Click() {}
void TorvalMain::TimerIdle_Timer() {}
void TorvalMain::Text1_KeyPress(int &) {}
void TorvalMain::SendCommand(const QString &) {}
bool TorvalMain::sendInputLine() { return false; }
QString TorvalMain::selectedEntry() const { return {}; }
void TorvalMain::Send_Click() {}
