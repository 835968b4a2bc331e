// SPDX-License-Identifier: MIT
#include "outgoing/NameCompletion.h"

#include <algorithm>

QStringList matchingNames(const QStringList &entries, QStringView prefix)
{
    QStringList names;
    if (prefix.isEmpty())
        return names;
    for (const QString &entry : entries) {
        QStringView name(entry);
        while (name.endsWith(u' '))
            name.chop(1);
        if (name.startsWith(prefix, Qt::CaseInsensitive))
            names.append(name.toString());
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int byCase = a.compare(b, Qt::CaseInsensitive);
        return byCase != 0 ? byCase < 0 : a < b;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::optional<CompletedLine> NameCompleter::complete(const QString &text, int caret,
                                                     const QStringList &entries)
{
    const bool cycling = !m_matches.isEmpty() && text == m_last.text && caret == m_last.caret;
    if (cycling) {
        m_index = (m_index + 1) % int(m_matches.size());
    } else {
        caret = std::clamp(caret, 0, int(text.size()));
        // from = -1 would search from the end of the text
        m_wordStart = caret == 0 ? 0 : int(text.lastIndexOf(u' ', caret - 1)) + 1;
        m_matches = matchingNames(entries, QStringView(text).sliced(m_wordStart, caret - m_wordStart));
        if (m_matches.isEmpty())
            return std::nullopt;
        m_index = 0;
    }
    const QString &name = m_matches.at(m_index);
    m_last.text = text.left(m_wordStart) + name + text.mid(caret);
    m_last.caret = m_wordStart + int(name.size());
    return m_last;
}
