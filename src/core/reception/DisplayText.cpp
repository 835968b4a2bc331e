// SPDX-License-Identifier: MIT
#include "reception/DisplayText.h"

namespace {

qsizetype codePoints(QStringView text)
{
    qsizetype count = text.size();
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i].isHighSurrogate() && text[i + 1].isLowSurrogate()) {
            --count;
            ++i;
        }
    }
    return count;
}

// Where text longer than limit is cut: after limit code units, or one
// fewer so as not to split a surrogate pair.
qsizetype cutIndex(QStringView text, qsizetype limit)
{
    return text[limit - 1].isHighSurrogate() && text[limit].isLowSurrogate() ? limit - 1 : limit;
}

} // namespace

void appendWithNameRules(QString &out, QStringView text)
{
    const qsizetype start = out.size();
    out.append(text);
    QChar *c = out.data() + start;
    for (QChar *end = out.data() + out.size(); c != end; ++c) {
        const char16_t u = c->unicode();
        // A label or list entry would break its line at the two separators.
        if (isHiddenControl(u) || isBidiControl(u) || u == QChar::LineSeparator || u == QChar::ParagraphSeparator)
            *c = QChar::ReplacementCharacter;
    }
}

QString cutMarker(qsizetype omittedCharacters)
{
    return QStringLiteral(" \u2026 [%1 more %2]")
        .arg(omittedCharacters)
        .arg(omittedCharacters == 1 ? QStringLiteral("character") : QStringLiteral("characters"));
}

void cutForDisplay(QString &out, qsizetype from, qsizetype limit)
{
    if (out.size() - from <= limit)
        return;
    const qsizetype end = from + cutIndex(QStringView(out).sliced(from), limit);
    const QString marker = cutMarker(codePoints(QStringView(out).sliced(end)));
    out.truncate(end);
    out += marker;
}

void appendDisplayName(QString &out, QStringView name)
{
    if (name.size() <= kDisplayNameCut) {
        appendWithNameRules(out, name);
        return;
    }
    const qsizetype end = cutIndex(name, kDisplayNameCut);
    appendWithNameRules(out, name.first(end));
    out += cutMarker(codePoints(name.sliced(end)));
}

QString displayName(QStringView name)
{
    QString shown;
    appendDisplayName(shown, name);
    return shown;
}

namespace {

constexpr char kWhisperPrefix[] = "<FROM: ";
constexpr char kJoiningChannel[] = "Joining Channel ";
constexpr char kCaptionOpen[] = "  (";

} // namespace

void writeTalkBody(QString &out, QStringView name, QStringView text)
{
    out += u'<';
    appendDisplayName(out, name);
    out += QLatin1String("> ");
    out += text;
}

void writeWhisperBody(QString &out, QStringView name, QStringView text)
{
    out += QLatin1String(kWhisperPrefix);
    appendDisplayName(out, name);
    out += QLatin1String("> ");
    out += text;
}

void writeEmoteBody(QString &out, QStringView name, QStringView text)
{
    out += u'<';
    appendDisplayName(out, name);
    out += u' ';
    out += text;
    out += QLatin1String("> ");
}

namespace {

QString written(void (*write)(QString &, QStringView, QStringView), const QString &name, const QString &text)
{
    QString body;
    body.reserve(name.size() + text.size() + 9);
    write(body, name, text);
    return body;
}

} // namespace

QString talkBody(const QString &name, const QString &text)
{
    return written(writeTalkBody, name, text);
}

QString whisperBody(const QString &name, const QString &text)
{
    return written(writeWhisperBody, name, text);
}

QString emoteBody(const QString &name, const QString &text)
{
    return written(writeEmoteBody, name, text);
}

QString channelAnnouncement(const QString &channel)
{
    return QLatin1String(kJoiningChannel) + displayName(channel) + QLatin1Char('.');
}

QString channelCaption(const QString &channel, int entries)
{
    return displayName(channel) + QLatin1String(kCaptionOpen) + QString::number(entries) + QLatin1Char(')');
}
