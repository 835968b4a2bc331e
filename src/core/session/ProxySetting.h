// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractSocket>
#include <QNetworkProxy>
#include <QString>

// The proxy a connection goes through, as the [Connect] Proxy setting says:
// empty for none, "system" for the system's proxy settings, or
// "socks5://[user:pass@]host:port". A SOCKS5 proxy is handed the server's
// host name unresolved, so that the name is looked up at the proxy and not
// here (Tor needs that, and it keeps the lookup off the local network).
struct ProxySetting {
    enum class Kind { None, System, Socks5 };

    Kind kind = Kind::None;
    QString host;
    quint16 port = 0;
    QString user;
    QString password;
    // Not empty when the setting could not be read. The connection must then
    // not be made at all: going direct would bypass a proxy the user asked for.
    QString error;

    bool isValid() const { return error.isEmpty(); }
};

ProxySetting parseProxySetting(const QString &text);

// The proxy for a connection to host:port; NoProxy for none (so no
// application-wide proxy is used behind the setting's back).
QNetworkProxy proxyForConnection(const ProxySetting &setting, const QString &host, quint16 port);

// "host:port", an IPv6 address in brackets.
QString proxyAddressText(const QString &host, quint16 port);

// One line saying why a connection through proxy to server:port could not be
// made, naming the proxy when the proxy is at fault and the proxy and server
// when the proxy could not reach the server. Empty when the connection has
// no proxy or the error is not about reaching the server (the caller's own
// text applies then).
QString proxyErrorText(const QNetworkProxy &proxy, QAbstractSocket::SocketError error,
                       const QString &server, quint16 port);
