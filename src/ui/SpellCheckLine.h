// SPDX-License-Identifier: MIT
#pragma once

#include "text/SpellChecker.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QLineEdit;
class QMenu;

// Spell checking for a line edit: misspelled words get a red wavy
// underline, and the context menu offers suggestions and "Add to
// dictionary" for the word under the pointer. The line is checked a moment
// after each edit, never inside a key press, and the word being typed is
// not marked until the caret leaves it.
class SpellCheckLine : public QObject
{
    Q_OBJECT

public:
    // The checker must outlive this object; edit owns this object.
    SpellCheckLine(QLineEdit *edit, SpellChecker *checker);

    // Off removes every mark; on checks the line again.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // The pause after an edit before the line is checked.
    void setDelay(int ms) { m_timer.setInterval(ms); }
    // Checks now (after a new dictionary, word list or user list).
    void recheck();
    // The words underlined now.
    QList<MisspelledRange> marks() const { return m_marks; }

    // The input line's context menu for a click at pos (in the line edit's
    // coordinates), with suggestions for a misspelled word there. The caller
    // owns it.
    QMenu *createContextMenu(const QPoint &pos);
    // Called with every context menu made, before it shows (the owner's own entries).
    void setMenuHook(std::function<void(QMenu *)> hook) { m_menuHook = std::move(hook); }

signals:
    // A word went into the personal word list.
    void wordAdded(const QString &word);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void schedule();
    void apply(const QList<MisspelledRange> &marks);
    QMenu *buildContextMenu(const QPoint &pos);

    QPointer<QLineEdit> m_edit;
    SpellChecker *m_checker;
    QTimer m_timer;
    bool m_enabled = true;
    QList<MisspelledRange> m_marks;
    QString m_checkedText; // the text the marks belong to
    QString m_typingText;  // the text after the last edit by the user
    bool m_composing = false; // an input method is composing a character
    bool m_applying = false;
    std::function<void(QMenu *)> m_menuHook;
};

inline constexpr int kSpellRecheckMs = 100;
inline constexpr char kAddToDictionary[] = "Add to dictionary";
inline constexpr char kNoSuggestions[] = "(no suggestions)";
