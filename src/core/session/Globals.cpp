// SPDX-License-Identifier: MIT
#include "session/Globals.h"

bool IsConnected = false;
QString ServerAddress;
QString LoginName;
QString LoginPassword;

namespace {
quint16 g_port = kGatewayPort;
}

quint16 gatewayPort()
{
    return g_port;
}

void setGatewayPortForTesting(quint16 port)
{
    g_port = port;
}
