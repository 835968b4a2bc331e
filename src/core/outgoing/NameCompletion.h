// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Tab completion of user names in the input line.
struct CompletedLine {
    QString text;
    int caret = 0;
};

// The names of the user list entries (each "name "; trailing spaces dropped)
// that start with prefix, case-insensitively, sorted that way, each once.
QStringList matchingNames(const QStringList &entries, QStringView prefix);

// Remembers the last completion so that Tab again cycles through the matches.
class NameCompleter
{
public:
    // Completes the word before the caret from the user list entries; Tab
    // again on the line it produced replaces the name with the next match.
    // Nothing when the word is empty or matches no name.
    std::optional<CompletedLine> complete(const QString &text, int caret, const QStringList &entries);
    void reset() { m_matches.clear(); }

private:
    QStringList m_matches;
    int m_index = 0;
    int m_wordStart = 0;
    CompletedLine m_last;
};
