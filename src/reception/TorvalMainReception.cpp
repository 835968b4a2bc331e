// SPDX-License-Identifier: MIT
// Receiving is not wired up yet: data from the gateway is not read.
#include "ui/TorvalMain.h"

#include "reception/ReceiveState.h"

void TorvalMain::Winsock1_DataArrival() {}
void TorvalMain::ParseIncoming() {}
void TorvalMain::dispatchLine(const QString &) {}
void TorvalMain::OnUser(const QString &) {}
void TorvalMain::OnJoin(const QString &) {}
void TorvalMain::OnLeave(const QString &) {}
void TorvalMain::OnChannel(const QString &) {}
void TorvalMain::OnTalk(const QString &) {}
void TorvalMain::OnWhisper(const QString &) {}
void TorvalMain::OnInfo(const QString &) {}
void TorvalMain::OnEmote(const QString &) {}
void TorvalMain::refreshChannelCaption() {}
