// SPDX-License-Identifier: MIT
// What the keyring tests share: which run of run.sh this is, what the
// keyring holds for a key, and which files of the run hold a password.
#pragma once

#include "settings/PasswordKeyring.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTest>

#include <utility>

// run.sh runs each test twice: VESK_KEYRING=absent on a bus with no keyring,
// VESK_KEYRING=present beside a GNOME Keyring daemon it started.
inline bool keyringIs(const char *state)
{
    return qgetenv("VESK_KEYRING") == state;
}

// {found, password} of key, read through keyring.
inline std::pair<bool, QString> storedPassword(PasswordKeyring &keyring, const QString &key)
{
    QSignalSpy read(&keyring, &PasswordKeyring::passwordRead);
    QSignalSpy failed(&keyring, &PasswordKeyring::failed);
    keyring.read(key);
    if (!QTest::qWaitFor([&] { return read.size() + failed.size() > 0; }, 10000) || !failed.isEmpty()) {
        qWarning() << "read failed:" << (failed.isEmpty() ? QStringLiteral("no answer") : failed.first().at(1).toString());
        return {false, QStringLiteral("<failed>")};
    }
    if (read.first().at(0).toString() != key)
        return {false, QStringLiteral("<answer for another key>")};
    return {read.first().at(2).toBool(), read.first().at(1).toString()};
}

// Files under the run's temporary home and XDG folders that hold needle, outside the keyring daemon's own.
inline QStringList filesHolding(const QByteArray &needle)
{
    const QString root = qEnvironmentVariable("VESK_KEYRING_ROOT");
    if (root.isEmpty())
        return {QStringLiteral("(VESK_KEYRING_ROOT is not set)")};
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (!file.fileName().contains(QLatin1String("/keyrings/")) && file.open(QIODevice::ReadOnly) &&
            file.readAll().contains(needle))
            found << file.fileName();
    }
    return found;
}
