// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

inline constexpr quint16 kGatewayPort = 6112;

// The port a new session dials: the gateway's port, or a test server's.
quint16 gatewayPort();
void setGatewayPortForTesting(quint16 port);
