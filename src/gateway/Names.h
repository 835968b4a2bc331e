// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>

// Who may log in and under which names. Names are raw bytes; the gateway
// compares user and channel names without regard to ASCII case.
namespace Names {

inline constexpr qsizetype kMaxNameLength = 64;
inline constexpr qsizetype kMaxChannelNameLength = 64;

bool isAnonymousName(QByteArrayView name);

// Why a login name is unusable, or an empty string when it is fine. Names are
// printable ASCII without space or double quote: what every client can show
// and type, and nothing that looks like another name (Cyrillic letters,
// direction overrides).
QByteArray nameProblem(QByteArrayView name);

// Case-insensitive (ASCII) key for user and channel names.
QByteArray foldCase(QByteArrayView name);

} // namespace Names
