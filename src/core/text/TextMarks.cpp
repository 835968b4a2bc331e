// SPDX-License-Identifier: MIT
#include "text/TextMarks.h"


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

// True when text holds prefix at at; ASCII letters in either case.
bool hasPrefixAt(QStringView text, qsizetype at, QLatin1StringView prefix)
{
    if (at + prefix.size() > text.size())
        return false;
    for (qsizetype k = 0; k < prefix.size(); ++k) {
        const char16_t c = text[at + k].unicode();
        const char p = prefix[k].toLatin1();
        const bool letter = p >= 'a' && p <= 'z';
        if (letter ? (c | 0x20) != char16_t(p) || c > u'z' : c != char16_t(p))
            return false;
    }
    return true;
}

// Where the address part after a scheme or "www." starts, if one starts at at.
qsizetype addressBodyAt(QStringView text, qsizetype at)
{
    const char16_t c = text[at].unicode() | 0x20;
    if ((c != u'h' && c != u'w') || (at > 0 && isWordChar(text[at - 1])))
        return -1;
    for (const char *scheme : {"http://", "https://", "www."}) {
        const QLatin1StringView prefix(scheme);
        if (hasPrefixAt(text, at, prefix))
            return at + prefix.size();
    }
    return -1;
}

} // namespace

QList<TextRange> findLinks(QStringView text)
{
    // One plain pass: this runs over every line a flood brings.
    QList<TextRange> links;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const qsizetype body = addressBodyAt(text, at);
        if (body < 0)
            continue;
        qsizetype end = body;
        while (end < text.size() && !endsAddress(text[end]))
            ++end;
        const qsizetype trimmed = trimmedEnd(text, body, end);
        if (trimmed > body)
            links.append({at, trimmed - at});
        at = end - 1;
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
    // Candidates by the first and last characters, in either case; cheaper than a
    // case-insensitive search, which folds every character of the text.
    const QChar lower = name.front().toLower();
    const QChar upper = name.front().toUpper();
    const QChar lastLower = name.back().toLower();
    const QChar lastUpper = name.back().toUpper();
    const qsizetype last = name.size() - 1;
    for (qsizetype at = 0; at + name.size() <= text.size(); ++at) {
        if ((text[at] != lower && text[at] != upper) || (text[at + last] != lastLower && text[at + last] != lastUpper)
            || text.sliced(at, name.size()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const qsizetype after = at + name.size();
        const bool startsWord = at == 0 || !isWordChar(text[at - 1]) || !isWordChar(name.front());
        const bool endsWord = after == text.size() || !isWordChar(text[after]) || !isWordChar(name.back());
        if (startsWord && endsWord)
            return true;
    }
    return false;
}
