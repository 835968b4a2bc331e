// SPDX-License-Identifier: MIT
#include "text/SpellChecker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>

#include "settings/Settings.h"

#include <hunspell.hxx>

#include <algorithm>
#include <optional>

namespace {
// The personal word list is read up to this size; a word list is small.
constexpr qint64 kPersonalListCap = 4 * 1024 * 1024;
// Words remembered between checks before the memory is cleared.
constexpr qsizetype kKnownCap = 20000;
constexpr char16_t kTypographicApostrophe = u'\u2019';
// Longer "words" are not words (a pasted key, a run of letters); they are not
// judged, and the dictionary is never asked for suggestions for them.
constexpr qsizetype kLongestWord = 64;

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c.isMark() || c.isSurrogate() || c == u'_' || c == u'\''
           || c == QChar(kTypographicApostrophe);
}

bool isApostrophe(QChar c)
{
    return c == u'\'' || c == QChar(kTypographicApostrophe);
}

bool looksLikeAddress(QStringView token)
{
    if (token.contains(u"://") || token.startsWith(u"www.", Qt::CaseInsensitive))
        return true;
    const qsizetype at = token.indexOf(u'@');
    return at > 0 && token.indexOf(u'.', at) > at; // a mail address
}

// The dictionary's name for a language: "en-US.UTF-8" -> "en_US".
QString normalisedLanguage(QString language)
{
    language = language.trimmed();
    language = language.section(u'.', 0, 0).section(u'@', 0, 0);
    language.replace(u'-', u'_');
    return language;
}

std::optional<QStringConverter::Encoding> encodingNamed(const QString &name)
{
    QByteArray wanted = name.trimmed().toLatin1();
    // Hunspell writes "ISO8859-1" where the registered name is "ISO-8859-1".
    if (wanted.startsWith("ISO8859"))
        wanted.insert(3, '-');
    return QStringConverter::encodingForName(wanted.constData());
}

QString offNotice(const QString &why)
{
    return QLatin1String(kSpellOffPrefix) + why;
}
} // namespace

QString personalWordListPath()
{
    const QSettings store(QSettings::IniFormat, QSettings::UserScope, QLatin1String(kAppName),
                          QLatin1String(kAppName));
    return QFileInfo(store.fileName()).path() + QStringLiteral("/words.txt");
}

SpellChecker::SpellChecker() = default;
SpellChecker::~SpellChecker() = default;

QStringList SpellChecker::dictionaryFolders()
{
    QStringList folders;
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders << data + QStringLiteral("/hunspell") << data + QStringLiteral("/myspell");
    folders << QStringLiteral("/usr/share/hunspell") << QStringLiteral("/usr/share/myspell");
    folders.removeDuplicates();
    return folders;
}

QStringList SpellChecker::availableLanguages(const QStringList &folders)
{
    QStringList languages;
    for (const QString &folder : folders) {
        const QDir dir(folder);
        for (const QFileInfo &dic : dir.entryInfoList({QStringLiteral("*.dic")}, QDir::Files | QDir::Readable)) {
            if (QFileInfo::exists(dir.filePath(dic.completeBaseName() + QStringLiteral(".aff"))))
                languages.append(dic.completeBaseName());
        }
    }
    languages.sort();
    languages.removeDuplicates();
    return languages;
}

bool SpellChecker::load(const QString &language, const QStringList &folders)
{
    m_hunspell.reset();
    m_known.clear();
    m_language.clear();
    const QStringList searched = folders.isEmpty() ? dictionaryFolders() : folders;
    QString wanted = normalisedLanguage(language.isEmpty() ? QLocale::system().name() : language);
    if (wanted.isEmpty() || wanted == u"C" || wanted == u"POSIX")
        wanted = QStringLiteral("en_US");

    const QStringList available = availableLanguages(searched);
    QString chosen;
    for (const QString &name : available) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            chosen = name;
    }
    const QString base = wanted.section(u'_', 0, 0);
    for (qsizetype i = 0; chosen.isEmpty() && i < available.size(); ++i) {
        if (available.at(i).section(u'_', 0, 0).compare(base, Qt::CaseInsensitive) == 0)
            chosen = available.at(i);
    }
    if (chosen.isEmpty()) {
        m_notice = offNotice(QStringLiteral("no dictionary for %1 is installed (Debian: hunspell-%2).")
                                 .arg(wanted, wanted.toLower().replace(u'_', u'-')));
        return false;
    }

    QString aff, dic;
    for (const QString &folder : searched) {
        const QDir dir(folder);
        if (QFileInfo::exists(dir.filePath(chosen + QStringLiteral(".dic")))
            && QFileInfo::exists(dir.filePath(chosen + QStringLiteral(".aff")))) {
            aff = dir.filePath(chosen + QStringLiteral(".aff"));
            dic = dir.filePath(chosen + QStringLiteral(".dic"));
            break;
        }
    }
    // A word list starts with its number of words; anything else is not a
    // dictionary, and Hunspell would then accept or reject every word.
    QFile dicFile(dic);
    bool counted = false;
    if (dicFile.open(QIODevice::ReadOnly)) {
        QByteArray first = dicFile.readLine(64).trimmed();
        if (first.startsWith("\xef\xbb\xbf"))
            first.remove(0, 3);
        counted = first.toLongLong() > 0;
    }
    QFile affFile(aff);
    if (!counted || !affFile.open(QIODevice::ReadOnly) || affFile.size() == 0) {
        m_notice = offNotice(QStringLiteral("the dictionary %1 cannot be read or is damaged.").arg(dic));
        return false;
    }

    auto hunspell = std::make_unique<Hunspell>(QFile::encodeName(aff).constData(), QFile::encodeName(dic).constData());
    const QString encodingName = QString::fromStdString(hunspell->get_dict_encoding());
    const std::optional<QStringConverter::Encoding> encoding = encodingNamed(encodingName);
    if (!encoding) {
        m_notice = offNotice(QStringLiteral("the dictionary %1 uses the encoding %2, which is not supported.")
                                 .arg(dic, encodingName));
        return false;
    }
    m_encoder = QStringEncoder(*encoding);
    m_decoder = QStringDecoder(*encoding);
    m_hunspell = std::move(hunspell);
    m_language = chosen;
    m_notice.clear();
    for (const QString &word : std::as_const(m_personal))
        addWord(word);
    return true;
}

void SpellChecker::setPersonalWordList(const QString &path)
{
    m_personalPath = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.read(kPersonalListCap);
    for (const QByteArray &line : bytes.split('\n')) {
        const QString word = QString::fromUtf8(line).trimmed();
        if (word.isEmpty() || m_personal.contains(word))
            continue;
        m_personal.insert(word);
        if (m_hunspell)
            addWord(word);
    }
    m_known.clear();
}

bool SpellChecker::addToPersonal(const QString &word)
{
    const QString trimmed = word.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(u'\n') || trimmed.contains(u'\r'))
        return false;
    if (m_personal.contains(trimmed))
        return true;
    m_personal.insert(trimmed);
    m_known.remove(trimmed);
    if (m_hunspell)
        addWord(trimmed);
    if (m_personalPath.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(m_personalPath).path());
    QFile file(m_personalPath);
    const QByteArray line = trimmed.toUtf8() + '\n';
    return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(line) == line.size() && file.flush();
}

void SpellChecker::setIgnoredNames(const QSet<QString> &names)
{
    m_ignored = names;
}

void SpellChecker::addWord(const QString &word)
{
    m_encoder.resetState();
    const QByteArray bytes = m_encoder.encode(word);
    if (!m_encoder.hasError())
        m_hunspell->add(bytes.toStdString());
}

bool SpellChecker::spell(QStringView word) const
{
    if (!m_hunspell)
        return true;
    QString key = word.toString();
    key.replace(QChar(kTypographicApostrophe), u'\'');
    if (const auto known = m_known.constFind(key); known != m_known.cend())
        return *known;
    bool correct = true;
    if (!m_personal.contains(key)) {
        m_encoder.resetState();
        const QByteArray bytes = m_encoder.encode(key);
        // A word the dictionary's encoding cannot hold cannot be judged.
        correct = m_encoder.hasError() || m_hunspell->spell(bytes.toStdString());
    }
    if (m_known.size() >= kKnownCap)
        m_known.clear();
    m_known.insert(key, correct);
    return correct;
}

bool SpellChecker::isCorrect(QStringView word) const
{
    return m_ignored.contains(word.toString()) || spell(word);
}

QList<MisspelledRange> SpellChecker::misspelled(QStringView line) const
{
    QList<MisspelledRange> ranges;
    if (!m_hunspell)
        return ranges;
    qsizetype at = 0;
    while (at < line.size()) {
        while (at < line.size() && line.at(at).isSpace())
            ++at;
        qsizetype end = at;
        while (end < line.size() && !line.at(end).isSpace())
            ++end;
        const QStringView token = line.sliced(at, end - at);
        const qsizetype tokenStart = at;
        at = end;
        if (token.isEmpty() || looksLikeAddress(token))
            continue;
        // "alice:", "@alice," and "(alice)" address someone in the user list.
        QStringView unled = token, untrailed = token;
        while (!unled.isEmpty() && QStringView(u"@(<[\"").contains(unled.front()))
            unled = unled.sliced(1);
        while (!untrailed.isEmpty() && QStringView(u":,;.!?)>]\"").contains(untrailed.back()))
            untrailed.chop(1);
        QStringView bare = unled.first(qMax<qsizetype>(0, unled.size() - (token.size() - untrailed.size())));
        if (m_ignored.contains(token.toString()) || m_ignored.contains(untrailed.toString())
            || m_ignored.contains(unled.toString()) || m_ignored.contains(bare.toString()))
            continue;
        for (qsizetype w = 0; w < token.size();) {
            while (w < token.size() && !isWordChar(token.at(w)))
                ++w;
            qsizetype wEnd = w;
            while (wEnd < token.size() && isWordChar(token.at(wEnd)))
                ++wEnd;
            qsizetype start = w, stop = wEnd;
            w = wEnd;
            while (start < stop && isApostrophe(token.at(start)))
                ++start;
            while (stop > start && isApostrophe(token.at(stop - 1)))
                --stop;
            const QStringView word = token.sliced(start, stop - start);
            if (word.size() < 2 || word.size() > kLongestWord || m_ignored.contains(word.toString()))
                continue;
            if (std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit() || c == u'_'; }))
                continue;
            if (!spell(word))
                ranges.append({tokenStart + start, stop - start});
        }
    }
    return ranges;
}

QStringList SpellChecker::suggestions(const QString &word, int max) const
{
    QStringList out;
    if (!m_hunspell)
        return out;
    m_encoder.resetState();
    const QByteArray bytes = m_encoder.encode(word);
    if (m_encoder.hasError())
        return out;
    for (const std::string &suggestion : m_hunspell->suggest(bytes.toStdString())) {
        if (out.size() >= max)
            break;
        m_decoder.resetState();
        out.append(m_decoder.decode(QByteArrayView(suggestion.data(), qsizetype(suggestion.size()))));
    }
    return out;
}
