// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QUrl>

// What the panes mark in plain text: web addresses and mentions of a name.
// Nothing here interprets the text; it only finds character ranges.

struct TextRange {
    qsizetype start = 0;
    qsizetype length = 0;
    friend bool operator==(const TextRange &, const TextRange &) = default;
};

// The http://, https:// and www. addresses in text, in order. An address
// starts at a word boundary and runs to white space, a quote or an angle
// bracket; trailing punctuation is left out, and a closing parenthesis only
// when it closes one opened inside the address.
QList<TextRange> findLinks(QStringView text);
// The address to open for a found link (www. addresses get http://).
QUrl linkUrl(QStringView link);

// True when text holds name as a whole word, case-insensitively: neither
// neighbour of the match is a letter, a digit or '_'.
bool mentionsName(QStringView text, QStringView name);
