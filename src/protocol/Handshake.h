// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>

// What a client sends first: two mode bytes, two empty lines, then its name
// and its password, each on a line of its own.
namespace Handshake {

inline constexpr QByteArrayView kModeBytes("\x03\x04", 2);
inline constexpr int kEmptyLines = 2;
// The mode bytes and the empty lines, as the client writes them.
inline constexpr QByteArrayView kPrefix("\x03\x04\r\n\r\n", 6);
inline constexpr QByteArrayView kLineEnd("\r\n", 2);

} // namespace Handshake
