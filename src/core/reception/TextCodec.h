// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The gateway's text is 8-bit. A received line is read as UTF-8 when it is
// valid UTF-8, otherwise byte for character through Windows-1252. What the
// client sends goes out through Windows-1252, one byte per character; a
// character that code page cannot represent goes out as "?".

bool isValidUtf8(QByteArrayView bytes);
QString decodeLine(QByteArrayView bytes);
QByteArray encodeOutgoing(QStringView text);
