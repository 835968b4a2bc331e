// SPDX-License-Identifier: MIT
#include "session/ProxySpec.h"

#include <QNetworkProxyFactory>
#include <QUrl>

namespace {
constexpr char kSystemWord[] = "system";
constexpr char kSocksHelp[] = "use nothing, system, or socks5://[user:pass@]host:port";

ProxySpec failed(const QString &why)
{
    ProxySpec spec;
    // The setting itself is not repeated: it may hold a password.
    spec.error = QStringLiteral("The proxy setting cannot be used: %1 (%2).").arg(why, QLatin1String(kSocksHelp));
    return spec;
}
} // namespace

ProxySpec parseProxySetting(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (trimmed.compare(QLatin1String(kSystemWord), Qt::CaseInsensitive) == 0)
        return {ProxySpec::Kind::System, {}, 0, {}, {}, {}};
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
    ProxySpec spec;
    spec.kind = ProxySpec::Kind::Socks5;
    spec.host = url.host();
    spec.port = quint16(url.port());
    spec.user = url.userName(QUrl::FullyDecoded);
    spec.password = url.password(QUrl::FullyDecoded);
    return spec;
}

QNetworkProxy proxyForConnection(const ProxySpec &spec, const QString &host, quint16 port)
{
    switch (spec.kind) {
    case ProxySpec::Kind::None:
        break;
    case ProxySpec::Kind::System: {
        const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(
            QNetworkProxyQuery(host, port, QString(), QNetworkProxyQuery::TcpSocket));
        if (!proxies.isEmpty())
            return proxies.first();
        break;
    }
    case ProxySpec::Kind::Socks5: {
        QNetworkProxy proxy(QNetworkProxy::Socks5Proxy, spec.host, spec.port, spec.user, spec.password);
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
