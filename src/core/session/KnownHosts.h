// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// The servers whose keys the user has chosen to trust, like an SSH
// known-hosts file: one line per server,
//   host:port sha256/BASE64
// where the value is the SHA-256 of the server certificate's public key
// (its SubjectPublicKeyInfo). A line may also give the key as 64 hex digits,
// with or without colons, the way the trust window shows it; lines starting
// with # and blank lines are kept as they are.
//
// A line that cannot be read trusts nothing: the server it meant is asked
// about again. The damage is reported once, and the line itself is kept when
// the file is rewritten, so nothing the user wrote is lost.

enum class PinVerdict { Unknown, Trusted, Changed };

struct PinLookup {
    PinVerdict verdict = PinVerdict::Unknown;
    QByteArray pinned; // the key on file when it differs from the server's (Changed)
};

class KnownHosts
{
public:
    // The file beside the settings file (VeskChat.ini).
    static QString defaultPath();
    explicit KnownHosts(const QString &path = defaultPath());

    QString path() const { return m_path; }

    // hostPort as ServerEntry::hostPort() writes it. Reads the file afresh,
    // so a key pinned by another window counts at once.
    PinLookup lookup(const QString &hostPort, const QByteArray &fingerprint);
    // Trusts fingerprint for hostPort, replacing a pin it had; written at once
    // and atomically. False, with lastError() set, when it could not be saved.
    bool pin(const QString &hostPort, const QByteArray &fingerprint);
    // Forgets every pin of hostPort; true when none is left on disk.
    bool forget(const QString &hostPort);
    QString lastError() const { return m_lastError; }

    // What is wrong with the file as the last lookup, pin or forget read it,
    // in plain words, the first time a given damage is seen; empty afterwards
    // and while the file is sound.
    QString takeDamageReport();

private:
    struct Line {
        QByteArray raw;          // as on disk, without its line end
        QString hostPort;        // empty for comments, blank and damaged lines
        QByteArray fingerprint;
    };
    void read();
    bool write();

    QString m_path;
    std::vector<Line> m_lines;
    QList<int> m_damagedLines; // 1-based line numbers of the last read
    QString m_damage;          // the last read's report
    QString m_reportedDamage;  // the report already handed out
    QString m_lastError;
    bool m_readWhole = true;   // false: the file may not be rewritten
};

// "AB:CD:..." as the trust window shows a fingerprint.
QString fingerprintText(const QByteArray &fingerprint);
// A fingerprint as written on a known-hosts line: "sha256/BASE64", or 64 hex
// digits with or without colons. Empty when it is neither.
QByteArray parseFingerprint(QByteArrayView text);
