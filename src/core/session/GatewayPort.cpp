// SPDX-License-Identifier: MIT
#include "session/GatewayPort.h"

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
