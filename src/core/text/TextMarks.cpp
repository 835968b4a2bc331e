// SPDX-License-Identifier: MIT
#include "text/TextMarks.h"

#include <QRegularExpression>

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

bool endsAddress(QChar c)
{
    return c.isSpace() || c == u'"' || c == u'<' || c == u'>' || c == u'\'' || c == u'`'
           || c == QChar::ReplacementCharacter;
}

// Trailing characters that end a sentence rather than an address.
bool isTrailingPunctuation(QChar c)
{
    return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?'
           || c == u']' || c == u'}' || c == u'*';
}

qsizetype trimmedEnd(QStringView text, qsizetype start, qsizetype end)
{
    while (end > start) {
        const QChar last = text[end - 1];
        if (isTrailingPunctuation(last)) {
            --end;
        } else if (last == u')') {
            const QStringView link = text.sliced(start, end - start);
            if (link.count(u'(') >= link.count(u')'))
                break;
            --end;
        } else {
            break;
        }
    }
    return end;
}

} // namespace

QList<TextRange> findLinks(QStringView text)
{
    QList<TextRange> links;
    // Most lines hold no address; this is what a flood pays for them.
    if (!text.contains(u"://") && !text.contains(u"www.", Qt::CaseInsensitive))
        return links;
    static const QRegularExpression start(QStringLiteral("https?://|www\\."),
                                          QRegularExpression::CaseInsensitiveOption);
    qsizetype from = 0;
    while (from < text.size()) {
        const QRegularExpressionMatch match = start.match(text, from);
        if (!match.hasMatch())
            break;
        const qsizetype begin = match.capturedStart();
        qsizetype end = match.capturedEnd();
        if (begin > 0 && isWordChar(text[begin - 1])) {
            from = begin + 1;
            continue;
        }
        while (end < text.size() && !endsAddress(text[end]))
            ++end;
        const qsizetype trimmed = trimmedEnd(text, match.capturedEnd(), end);
        if (trimmed > match.capturedEnd())
            links.append({begin, trimmed - begin});
        from = end;
    }
    return links;
}

QUrl linkUrl(QStringView link)
{
    const QString address = link.toString();
    if (address.startsWith(u"www.", Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + address, QUrl::TolerantMode);
    return QUrl(address, QUrl::TolerantMode);
}

bool mentionsName(QStringView text, QStringView name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype at = text.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(name, at + 1, Qt::CaseInsensitive)) {
        const qsizetype after = at + name.size();
        const bool startsWord = at == 0 || !isWordChar(text[at - 1]) || !isWordChar(name.front());
        const bool endsWord = after == text.size() || !isWordChar(text[after]) || !isWordChar(name.back());
        if (startsWord && endsWord)
            return true;
    }
    return false;
}
