// SPDX-License-Identifier: MIT
#include "ui/SpellCheckLine.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTextCharFormat>

SpellCheckLine::SpellCheckLine(QLineEdit *edit, SpellChecker *checker)
    : QObject(edit)
    , m_edit(edit)
    , m_checker(checker)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kSpellRecheckMs);
    connect(&m_timer, &QTimer::timeout, this, &SpellCheckLine::recheck);
    connect(edit, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_typingText = text;
        schedule();
    });
    connect(edit, &QLineEdit::textChanged, this, &SpellCheckLine::schedule);
    connect(edit, &QLineEdit::cursorPositionChanged, this, [this] {
        // A move without an edit (arrow keys, a click) leaves the word typed last.
        if (m_edit->text() == m_checkedText) {
            m_typingText.clear();
            schedule();
        }
    });
    edit->installEventFilter(this);
    schedule();
}

void SpellCheckLine::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled) {
        recheck();
    } else {
        m_timer.stop();
        apply({});
    }
}

void SpellCheckLine::schedule()
{
    if (m_enabled)
        m_timer.start();
}

void SpellCheckLine::recheck()
{
    m_timer.stop();
    if (!m_edit || !m_enabled || m_composing)
        return;
    const QString text = m_edit->text();
    m_checkedText = text;
    QList<MisspelledRange> marks = m_checker->misspelled(text);
    if (text == m_typingText) {
        const int caret = m_edit->cursorPosition();
        marks.removeIf([caret](const MisspelledRange &r) { return r.start + r.length == caret; });
    }
    if (marks != m_marks)
        apply(marks);
}

void SpellCheckLine::apply(const QList<MisspelledRange> &marks)
{
    m_marks = marks;
    if (!m_edit)
        return;
    // QLineEdit takes extra formats only through an input method event whose
    // format ranges count from the caret; an event that commits nothing and
    // has no preedit text changes neither the text, the caret, the selection
    // nor the undo history.
    QTextCharFormat format;
    format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    format.setUnderlineColor(Qt::red);
    const int caret = m_edit->cursorPosition();
    QList<QInputMethodEvent::Attribute> attributes;
    for (const MisspelledRange &mark : marks)
        attributes.append({QInputMethodEvent::TextFormat, int(mark.start) - caret, int(mark.length), format});
    QInputMethodEvent event(QString(), attributes);
    m_applying = true;
    QCoreApplication::sendEvent(m_edit, &event);
    m_applying = false;
}

QMenu *SpellCheckLine::createContextMenu(const QPoint &pos)
{
    QMenu *menu = buildContextMenu(pos);
    if (m_menuHook)
        m_menuHook(menu);
    return menu;
}

QMenu *SpellCheckLine::buildContextMenu(const QPoint &pos)
{
    QMenu *menu = m_edit->createStandardContextMenu();
    if (!m_enabled || !m_checker->isEnabled())
        return menu;
    recheck();
    const int at = m_edit->cursorPositionAt(pos);
    const auto mark = std::find_if(m_marks.cbegin(), m_marks.cend(), [at](const MisspelledRange &r) {
        return at >= r.start && at <= r.start + r.length;
    });
    if (mark == m_marks.cend())
        return menu;
    const MisspelledRange range = *mark;
    const QString word = m_edit->text().mid(range.start, range.length);
    QAction *first = menu->actions().value(0);
    const QStringList suggestions = m_checker->suggestions(word);
    for (const QString &suggestion : suggestions) {
        auto *action = new QAction(suggestion, menu);
        connect(action, &QAction::triggered, this, [this, range, word, suggestion] {
            // Through the selection, so that Undo brings the word back.
            if (!m_edit || m_edit->text().mid(range.start, range.length) != word)
                return;
            m_edit->setSelection(int(range.start), int(range.length));
            m_edit->insert(suggestion);
        });
        menu->insertAction(first, action);
    }
    if (suggestions.isEmpty()) {
        auto *none = new QAction(QLatin1String(kNoSuggestions), menu);
        none->setEnabled(false);
        menu->insertAction(first, none);
    }
    auto *add = new QAction(QLatin1String(kAddToDictionary), menu);
    connect(add, &QAction::triggered, this, [this, word] {
        m_checker->addToPersonal(word);
        emit wordAdded(word);
        recheck();
    });
    menu->insertAction(first, add);
    menu->insertSeparator(first);
    return menu;
}

bool SpellCheckLine::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_edit)
        return false;
    if (event->type() == QEvent::InputMethod && !m_applying) {
        // Marks sent while an input method composes would end its composition.
        m_composing = !static_cast<QInputMethodEvent *>(event)->preeditString().isEmpty();
        if (!m_composing)
            schedule();
        return false;
    }
    if (event->type() != QEvent::ContextMenu)
        return false;
    auto *menuEvent = static_cast<QContextMenuEvent *>(event);
    QMenu *menu = createContextMenu(menuEvent->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(menuEvent->globalPos());
    return true;
}
