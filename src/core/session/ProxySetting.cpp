// SPDX-License-Identifier: MIT
#include "session/ProxySetting.h"

#include <QNetworkProxyFactory>
#include <QUrl>

namespace {
constexpr char kSystemWord[] = "system";
constexpr char kSocksHelp[] = "use nothing, system, or socks5://[user:pass@]host:port";

ProxySetting failed(const QString &why)
{
    ProxySetting setting;
    // The setting itself is not repeated: it may hold a password.
    setting.error = QStringLiteral("The proxy setting cannot be used: %1 (%2).").arg(why, QLatin1String(kSocksHelp));
    return setting;
}
} // namespace

ProxySetting parseProxySetting(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (trimmed.compare(QLatin1String(kSystemWord), Qt::CaseInsensitive) == 0)
        return {ProxySetting::Kind::System, {}, 0, {}, {}, {}};
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // socks5h:// is how other programs spell a SOCKS5 proxy that resolves names.
    if (!url.isValid() || (scheme != u"socks5" && scheme != u"socks5h") || !trimmed.contains(QLatin1String("://")))
        return failed(QStringLiteral("only SOCKS5 proxies are supported"));
    if (url.host().isEmpty())
        return failed(QStringLiteral("the proxy's host is missing"));
    if (url.port() <= 0)
        return failed(QStringLiteral("the proxy's port is missing"));
    if ((!url.path().isEmpty() && url.path() != u"/") || url.hasQuery() || url.hasFragment())
        return failed(QStringLiteral("a proxy address has no path"));
    ProxySetting setting;
    setting.kind = ProxySetting::Kind::Socks5;
    setting.host = url.host();
    setting.port = quint16(url.port());
    setting.user = url.userName(QUrl::FullyDecoded);
    setting.password = url.password(QUrl::FullyDecoded);
    return setting;
}

QNetworkProxy proxyForConnection(const ProxySetting &setting, const QString &host, quint16 port)
{
    switch (setting.kind) {
    case ProxySetting::Kind::None:
        break;
    case ProxySetting::Kind::System: {
        const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(
            QNetworkProxyQuery(host, port, QString(), QNetworkProxyQuery::TcpSocket));
        if (!proxies.isEmpty())
            return proxies.first();
        break;
    }
    case ProxySetting::Kind::Socks5: {
        QNetworkProxy proxy(QNetworkProxy::Socks5Proxy, setting.host, setting.port, setting.user, setting.password);
        proxy.setCapabilities(proxy.capabilities() | QNetworkProxy::TunnelingCapability
                              | QNetworkProxy::HostNameLookupCapability);
        return proxy;
    }
    }
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

QString proxyAddressText(const QString &host, quint16 port)
{
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return shown + u':' + QString::number(port);
}

QString proxyErrorText(const QNetworkProxy &proxy, QAbstractSocket::SocketError error,
                       const QString &server, quint16 port)
{
    if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::DefaultProxy)
        return {};
    const QString at = proxyAddressText(proxy.hostName(), proxy.port());
    const QString target = proxyAddressText(server, port);
    switch (error) {
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QStringLiteral("Could not reach the proxy %1: connection refused.").arg(at);
    case QAbstractSocket::ProxyNotFoundError:
        return QStringLiteral("Could not reach the proxy %1: no such host.").arg(at);
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QStringLiteral("Could not reach the proxy %1: it did not answer in time.").arg(at);
    case QAbstractSocket::ProxyConnectionClosedError:
        return QStringLiteral("The proxy %1 closed the connection.").arg(at);
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QStringLiteral("The proxy %1 refused the user name or password.").arg(at);
    case QAbstractSocket::ProxyProtocolError:
        return QStringLiteral("The proxy %1 answered in a way that was not understood.").arg(at);
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("The proxy %1 could not find the server %2.").arg(at, target);
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("The proxy %1 could not connect to %2: connection refused.").arg(at, target);
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("The proxy %1 could not connect to %2.").arg(at, target);
    default:
        return {};
    }
}
