// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// One entry of the server list, or what the user typed in the picker's box:
//   host               plain TCP to the gateway port (6112)
//   host:port          plain TCP to that port
//   tls://host[:port]  TLS, by default to port 6113
// An IPv6 address is written in brackets ([::1], [::1]:6112, tls://[::1]);
// on its own it may also stand bare (::1). Blanks around the entry are ignored.
inline constexpr quint16 kPlainPort = 6112;
inline constexpr quint16 kSecurePort = 6113;

struct ServerEntry {
    QString raw;       // the entry as listed or typed, never altered
    QString host;      // the name or address to dial: ASCII (IDN names in their ACE form), no brackets
    quint16 port = 0;
    bool secure = false;
    QString problem;   // why the entry is not understood; empty when it is

    bool isValid() const { return problem.isEmpty(); }
    // "host:port", "[v6]:port"; the name a pinned key and a stored password are filed under.
    QString hostPort() const;
    // The entry written the way it is parsed: "tls://host:port" or "host:port".
    QString canonical() const;
};

// plainPort is the port a bare plain entry dials (the gateway's, or a test server's).
ServerEntry parseServerEntry(const QString &text, quint16 plainPort = kPlainPort);

// What Connect says when it cannot use an entry.
QString serverEntryRefusal(const ServerEntry &entry);

// How the server picker lists an entry: secure entries are marked, others are
// shown as they are. The picker keeps the raw text as the value it copies.
QString serverEntryLabel(const ServerEntry &entry);
inline constexpr char kSecureMark[] = "  (secure)";
