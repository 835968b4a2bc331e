// SPDX-License-Identifier: MIT
#include "session/ServerEntry.h"

#include <QHostAddress>
#include <QUrl>

namespace {

constexpr char kSecureScheme[] = "tls";
constexpr qsizetype kShownRawLength = 120; // an entry quoted in a message is cut here

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The bracketed or bare IPv6 address in its usual short form, or empty.
QString ipv6Host(const QString &text)
{
    QHostAddress address;
    if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    return address.toString();
}

QString badCharacterProblem(QChar c)
{
    if (c.isSpace())
        return QStringLiteral("a host name cannot contain spaces");
    if (c == u'/' || c == u'?' || c == u'#')
        return QStringLiteral("nothing may follow the host name and port");
    if (c.unicode() < 0x20 || c.unicode() == 0x7f)
        return QStringLiteral("it contains a control character");
    return QStringLiteral("%1 cannot appear in a host name").arg(quoted(c));
}

// A DNS name (letters, digits, '-', '_', dots between labels; one final dot
// allowed) or an IPv4 address. Names in other scripts are turned into their
// ASCII form. Empty, with problem set, when it is neither.
QString checkHostName(const QString &name, QString *problem)
{
    for (const QChar c : name) {
        const bool asciiAllowed = c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u'.';
        if (c.isSpace() || c.category() == QChar::Other_Control || (c.unicode() < 0x80 && !asciiAllowed)) {
            *problem = badCharacterProblem(c);
            return {};
        }
    }
    QString ascii = QString::fromLatin1(QUrl::toAce(name));
    if (ascii.isEmpty()) {
        *problem = QStringLiteral("%1 is not a valid host name").arg(quoted(name));
        return {};
    }
    ascii = ascii.toLower();
    QString labels = ascii;
    if (labels.endsWith(u'.'))
        labels.chop(1);
    if (labels.size() > 253) {
        *problem = QStringLiteral("the host name is longer than 253 characters");
        return {};
    }
    for (const QStringView label : QStringView(labels).split(u'.')) {
        if (label.isEmpty() || label.size() > 63) {
            *problem = QStringLiteral("%1 is not a valid host name").arg(quoted(name));
            return {};
        }
    }
    return ascii;
}

bool parsePort(const QString &text, quint16 *port, QString *problem)
{
    if (text.isEmpty()) {
        *problem = QStringLiteral("the port is missing after the colon");
        return false;
    }
    bool digits = text.size() <= 5;
    for (const QChar c : text)
        digits = digits && c >= u'0' && c <= u'9';
    const int value = digits ? text.toInt() : 0;
    if (value < 1 || value > 65535) {
        *problem = QStringLiteral("the port must be a number from 1 to 65535, not %1").arg(quoted(text));
        return false;
    }
    *port = static_cast<quint16>(value);
    return true;
}

// Fills host and port from "host", "host:port", "[v6]", "[v6]:port" or a bare v6 address.
void parseAuthority(const QString &text, ServerEntry &entry)
{
    if (text.isEmpty()) {
        entry.problem = QStringLiteral("the host name is missing");
        return;
    }
    QString hostText = text;
    QString portText;
    bool hasPort = false;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0) {
            entry.problem = QStringLiteral("the closing ] of the IPv6 address is missing");
            return;
        }
        entry.host = ipv6Host(text.mid(1, close - 1));
        if (entry.host.isEmpty()) {
            entry.problem = QStringLiteral("%1 is not an IPv6 address").arg(quoted(text.mid(1, close - 1)));
            return;
        }
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':')) {
            entry.problem = QStringLiteral("only :port may follow the IPv6 address");
            return;
        }
        hasPort = !rest.isEmpty();
        portText = rest.mid(1);
    } else if (text.count(u':') > 1) {
        entry.host = ipv6Host(text);
        if (entry.host.isEmpty()) {
            entry.problem = QStringLiteral("an IPv6 address is written in brackets, as in [::1]:6112");
            return;
        }
    } else {
        const qsizetype colon = text.indexOf(u':');
        hasPort = colon >= 0;
        hostText = hasPort ? text.left(colon) : text;
        portText = hasPort ? text.mid(colon + 1) : QString();
        if (hostText.isEmpty()) {
            entry.problem = QStringLiteral("the host name is missing");
            return;
        }
        entry.host = checkHostName(hostText, &entry.problem);
        if (entry.host.isEmpty())
            return;
    }
    if (hasPort)
        parsePort(portText, &entry.port, &entry.problem);
}

} // namespace

QString ServerEntry::hostPort() const
{
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return shownHost + u':' + QString::number(port);
}

QString ServerEntry::canonical() const
{
    return secure ? QLatin1String(kSecureScheme) + QLatin1String("://") + hostPort() : hostPort();
}

ServerEntry parseServerEntry(const QString &text, quint16 plainPort)
{
    ServerEntry entry;
    entry.raw = text;
    QString rest = text.trimmed();
    if (rest.isEmpty()) {
        entry.problem = QStringLiteral("no server address was given");
        return entry;
    }
    const qsizetype schemeEnd = rest.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd);
        if (scheme.compare(QLatin1String(kSecureScheme), Qt::CaseInsensitive) != 0) {
            entry.problem = QStringLiteral("only tls:// may stand before the host name, not %1")
                                .arg(quoted(rest.left(schemeEnd + 3).left(kShownRawLength)));
            return entry;
        }
        entry.secure = true;
        rest = rest.mid(schemeEnd + 3);
    }
    parseAuthority(rest, entry);
    if (!entry.isValid()) {
        entry.host.clear();
        entry.port = 0;
        return entry;
    }
    if (entry.port == 0)
        entry.port = entry.secure ? kSecurePort : plainPort;
    return entry;
}

QString serverEntryRefusal(const ServerEntry &entry)
{
    QString shown = entry.raw;
    if (shown.size() > kShownRawLength)
        shown = shown.left(kShownRawLength) + QChar(0x2026);
    return QStringLiteral("%1 is not a server address the client understands: %2.").arg(quoted(shown), entry.problem);
}

QString serverEntryLabel(const ServerEntry &entry)
{
    return entry.isValid() && entry.secure ? entry.raw + QLatin1String(kSecureMark) : entry.raw;
}
