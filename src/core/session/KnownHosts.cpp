// SPDX-License-Identifier: MIT
#include "session/KnownHosts.h"

#include "session/ServerEntry.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr char kFileName[] = "known_hosts";
constexpr char kSha256Prefix[] = "sha256/";
constexpr qsizetype kFingerprintBytes = 32;
// Far beyond any real list; what lies past it is not read (and reported).
constexpr qint64 kMaxFileBytes = 1024 * 1024;
constexpr int kListedDamagedLines = 5;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "host:port" with an explicit port, in the form ServerEntry::hostPort() writes; empty otherwise.
QString parseHostPort(const QByteArray &field)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(field);
    if (utf8.hasError())
        return {};
    const ServerEntry entry = parseServerEntry(text, 0);
    if (!entry.isValid() || entry.secure || entry.port == 0)
        return {};
    return entry.hostPort();
}

QList<QByteArray> fields(const QByteArray &line)
{
    QList<QByteArray> out;
    for (const QByteArray &part : line.simplified().split(' ')) {
        if (!part.isEmpty())
            out.append(part);
    }
    return out;
}

QString lineList(const QList<int> &numbers)
{
    QStringList shown;
    for (int i = 0; i < numbers.size() && i < kListedDamagedLines; ++i)
        shown << QString::number(numbers[i]);
    QString text = shown.join(QLatin1String(", "));
    if (numbers.size() > kListedDamagedLines)
        text += QStringLiteral(" and %1 more").arg(numbers.size() - kListedDamagedLines);
    return text;
}

} // namespace

QString fingerprintText(const QByteArray &fingerprint)
{
    return QString::fromLatin1(fingerprint.toHex(':').toUpper());
}

QByteArray parseFingerprint(QByteArrayView text)
{
    if (text.startsWith(kSha256Prefix)) {
        const auto decoded = QByteArray::fromBase64Encoding(text.sliced(qstrlen(kSha256Prefix)).toByteArray(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        return decoded && decoded.decoded.size() == kFingerprintBytes ? decoded.decoded : QByteArray();
    }
    QByteArray hex;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // Colons only between pairs of digits.
        if (c == ':' && i % 3 == 2 && i + 1 < text.size())
            continue;
        if (!isHexDigit(c))
            return {};
        hex += c;
    }
    const bool colonsEverywhereOrNowhere = text.size() == 2 * kFingerprintBytes || text.size() == 3 * kFingerprintBytes - 1;
    if (hex.size() != 2 * kFingerprintBytes || !colonsEverywhereOrNowhere)
        return {};
    return QByteArray::fromHex(hex);
}

QString KnownHosts::defaultPath()
{
    const QSettings store(QSettings::IniFormat, QSettings::UserScope, QLatin1String(kAppName), QLatin1String(kAppName));
    return QFileInfo(store.fileName()).dir().filePath(QLatin1String(kFileName));
}

KnownHosts::KnownHosts(const QString &path) : m_path(path)
{
}

void KnownHosts::read()
{
    m_lines.clear();
    m_damagedLines.clear();
    m_damage.clear();
    m_readWhole = true;
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_readWhole = false;
        m_damage = QStringLiteral("The list of trusted servers (%1) cannot be read: %2. Every secure server "
                                  "will be asked about as if it were new.")
                       .arg(m_path, file.errorString());
        return;
    }
    const QByteArray content = file.read(kMaxFileBytes);
    const bool cut = !file.atEnd();
    m_readWhole = !cut;
    QList<QByteArray> rawLines = content.split('\n');
    if (!rawLines.isEmpty() && rawLines.last().isEmpty())
        rawLines.removeLast();
    for (int i = 0; i < rawLines.size(); ++i) {
        Line line{rawLines[i], {}, {}};
        if (line.raw.endsWith('\r'))
            line.raw.chop(1);
        const QByteArray trimmed = line.raw.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith('#')) {
            const QList<QByteArray> parts = fields(trimmed);
            if (parts.size() == 2) {
                line.hostPort = parseHostPort(parts[0]);
                line.fingerprint = parseFingerprint(parts[1]);
            }
            if (line.hostPort.isEmpty() || line.fingerprint.isEmpty()) {
                line.hostPort.clear();
                line.fingerprint.clear();
                m_damagedLines << i + 1;
            }
        }
        m_lines.push_back(std::move(line));
    }
    if (!m_damagedLines.isEmpty()) {
        m_damage = QStringLiteral("The list of trusted servers (%1) has %2 that cannot be read (line %3). "
                                  "They trust nothing: the servers they meant will be asked about again.")
                       .arg(m_path,
                            m_damagedLines.size() == 1 ? QStringLiteral("a line")
                                                       : QStringLiteral("%1 lines").arg(m_damagedLines.size()),
                            lineList(m_damagedLines));
    }
    if (cut) {
        m_damage += (m_damage.isEmpty() ? QString() : QStringLiteral(" "))
                    + QStringLiteral("The list of trusted servers (%1) is larger than %2 bytes; the rest of it "
                                     "is not read.")
                          .arg(m_path)
                          .arg(kMaxFileBytes);
    }
}

bool KnownHosts::write()
{
    m_lastError.clear();
    // Rewriting a file read in part would lose the rest of it.
    if (!m_readWhole) {
        m_lastError = QStringLiteral("the list of trusted servers could not be read whole, so it is left as it is");
        return false;
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_lastError = file.errorString();
        return false;
    }
    for (const Line &line : m_lines)
        file.write(line.raw + '\n');
    if (!file.commit()) {
        m_lastError = file.errorString();
        return false;
    }
    return true;
}

PinLookup KnownHosts::lookup(const QString &hostPort, const QByteArray &fingerprint)
{
    read();
    PinLookup result;
    for (const Line &line : m_lines) {
        if (line.hostPort != hostPort)
            continue;
        if (line.fingerprint == fingerprint)
            return {PinVerdict::Trusted, {}};
        if (result.verdict == PinVerdict::Unknown)
            result = {PinVerdict::Changed, line.fingerprint};
    }
    return result;
}

bool KnownHosts::pin(const QString &hostPort, const QByteArray &fingerprint)
{
    read();
    Line pinned{hostPort.toUtf8() + ' ' + kSha256Prefix + fingerprint.toBase64(), hostPort, fingerprint};
    auto first = std::find_if(m_lines.begin(), m_lines.end(), [&](const Line &l) { return l.hostPort == hostPort; });
    if (first == m_lines.end()) {
        m_lines.push_back(pinned);
    } else {
        *first = pinned;
        m_lines.erase(std::remove_if(first + 1, m_lines.end(), [&](const Line &l) { return l.hostPort == hostPort; }),
                      m_lines.end());
    }
    return write();
}

bool KnownHosts::forget(const QString &hostPort)
{
    read();
    const auto kept = std::remove_if(m_lines.begin(), m_lines.end(), [&](const Line &l) { return l.hostPort == hostPort; });
    if (kept == m_lines.end()) {
        m_lastError.clear();
        return true;
    }
    m_lines.erase(kept, m_lines.end());
    return write();
}

QString KnownHosts::takeDamageReport()
{
    if (m_damage.isEmpty() || m_damage == m_reportedDamage)
        return {};
    m_reportedDamage = m_damage;
    return m_damage;
}
