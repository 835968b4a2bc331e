// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Session globals, one instance each for the whole run.
extern bool IsConnected;        // the user's intent: true from Connect until Disconnect
extern QString ServerAddress;   // written by the server picker, used by Connect
extern QString LoginName;       // written by the login dialog, sent in the handshake, saved
extern QString LoginPassword;   // written by the login dialog, sent in the handshake, never stored

inline constexpr quint16 kGatewayPort = 6112;

// The port Connect dials: the gateway's port, or a test server's.
quint16 gatewayPort();
void setGatewayPortForTesting(quint16 port);
