// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The event lines the gateway writes, each ending in CR LF. Names and texts
// are raw bytes (Windows-1252 or UTF-8) and pass through untouched; they come
// from framed lines, so they never hold a CR or an LF.
namespace Protocol {

QByteArray userLine(QByteArrayView name, QByteArrayView flags);  // 1001 USER name flags
QByteArray joinLine(QByteArrayView name, QByteArrayView flags);  // 1002 JOIN name flags
QByteArray leaveLine(QByteArrayView name, QByteArrayView flags); // 1003 LEAVE name flags
QByteArray whisperLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text); // 1004
QByteArray talkLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text);    // 1005
QByteArray emoteLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text);   // 1023
QByteArray channelLine(QByteArrayView channel); // 1007 CHANNEL "channel"
QByteArray infoLine(QByteArrayView text);       // 1018 INFO "text"
QByteArray errorLine(QByteArrayView text);      // 1019 ERROR "text"

} // namespace Protocol
