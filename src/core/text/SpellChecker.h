// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringConverter>
#include <QStringList>

#include <memory>

class Hunspell;

// A word of a line that the dictionary does not know: where it starts and
// how long it is, in UTF-16 code units.
struct MisspelledRange {
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const MisspelledRange &) const = default;
};

// Spell checking over a Hunspell dictionary: finds the dictionary for a
// language, marks the words of a line it does not know, offers suggestions
// and keeps a personal word list. Names of people in the chat, links,
// numbers and words with digits are never marked. When no dictionary can be
// used, checking is off and notice() says why in one line.
class SpellChecker
{
public:
    SpellChecker();
    ~SpellChecker();
    SpellChecker(const SpellChecker &) = delete;
    SpellChecker &operator=(const SpellChecker &) = delete;

    // Where dictionaries are looked for: hunspell/ (and myspell/) under the
    // per-user and system data folders, then /usr/share/hunspell.
    static QStringList dictionaryFolders();
    // The languages with a dictionary in folders, e.g. "en_US", sorted.
    static QStringList availableLanguages(const QStringList &folders);

    // Loads the dictionary for language ("en_US", "en-US", "en"; empty: the
    // system locale's). A language without its own dictionary takes another
    // of the same language ("en" or "en_AU" can take "en_US"). False, with a
    // notice, when none can be used. Empty folders: dictionaryFolders().
    bool load(const QString &language, const QStringList &folders = {});
    bool isEnabled() const { return m_hunspell != nullptr; }
    QString notice() const { return m_notice; }
    // The dictionary's language, e.g. "en_US".
    QString language() const { return m_language; }

    // Reads the personal word list (one word a line, UTF-8) from path and
    // adds its words; later additions are appended to it.
    void setPersonalWordList(const QString &path);
    // Adds a word for good; false when the list could not be written (the
    // word is still accepted until the program ends).
    bool addToPersonal(const QString &word);

    // Names that are never marked, matched case-sensitively (the user list).
    void setIgnoredNames(const QSet<QString> &names);

    bool isCorrect(QStringView word) const;
    QList<MisspelledRange> misspelled(QStringView line) const;
    QStringList suggestions(const QString &word, int max = 8) const;

private:
    bool spell(QStringView word) const;
    // Adds a word to the loaded dictionary for this run.
    void addWord(const QString &word);

    std::unique_ptr<Hunspell> m_hunspell;
    QString m_language;
    QString m_notice;
    QString m_personalPath;
    QSet<QString> m_ignored;
    QSet<QString> m_personal;
    mutable QStringEncoder m_encoder;
    mutable QStringDecoder m_decoder;
    // Words already looked up; rechecking a line while typing costs little.
    mutable QHash<QString, bool> m_known;
};

// The personal word list: words.txt beside the settings file.
QString personalWordListPath();

// "Spell check is off: " + why.
inline constexpr char kSpellOffPrefix[] = "Spell check is off: ";
