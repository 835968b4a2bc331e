// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The lines sent from the input line, walked with Up and Down as a shell
// does. The text being typed when the walk starts is kept as the newest
// entry, so Down past the newest line brings it back.
class InputHistory
{
public:
    static constexpr int kLimit = 100;

    // A line was sent: it becomes the newest entry (an empty line or a repeat
    // of the newest is not kept) and the walk starts over.
    void add(const QString &line);
    // The older entry to show instead of current; nothing at the oldest.
    std::optional<QString> up(const QString &current);
    // The newer entry, or the text that was being typed; nothing when not walking.
    std::optional<QString> down(const QString &current);

    int size() const { return int(m_lines.size()); }

private:
    QStringList m_lines; // oldest first
    qsizetype m_pos = 0; // m_lines.size() while not walking
    QString m_draft;
};
