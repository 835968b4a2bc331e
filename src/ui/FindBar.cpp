// SPDX-License-Identifier: MIT
#include "ui/FindBar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QToolButton>

#include <algorithm>

namespace {
// While lines arrive, the matches are looked for again at most this often.
constexpr int kRescanMs = 250;
// Only the matches on screen are painted, so a pane full of them paints fast.
constexpr int kPaintedMatchesAround = 200;
} // namespace

std::vector<int> findAll(const QString &haystack, const QString &needle)
{
    std::vector<int> at;
    if (needle.isEmpty())
        return at;
    for (qsizetype i = haystack.indexOf(needle, 0, Qt::CaseInsensitive); i >= 0;
         i = haystack.indexOf(needle, i + needle.size(), Qt::CaseInsensitive))
        at.push_back(int(i));
    return at;
}

FindBar::FindBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("FindBar"));
    setAutoFillBackground(true);
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("FindText"));
    m_text->setAccessibleName(tr("Find"));
    m_text->setPlaceholderText(tr("Find"));
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("FindCount"));
    m_count->setTextFormat(Qt::PlainText);
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(QStringLiteral("00000 of 00000")));
    auto button = [this](const char *name, const QString &text, const QString &tip) {
        auto *b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setText(text);
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    m_previous = button("FindPrevious", QStringLiteral("\u25B2"), tr("Previous (Shift+F3)"));
    m_next = button("FindNext", QStringLiteral("\u25BC"), tr("Next (F3)"));
    m_close = button("FindClose", QStringLiteral("\u2715"), tr("Close (Escape)"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(m_text, 1);
    row->addWidget(m_count);
    row->addWidget(m_previous);
    row->addWidget(m_next);
    row->addWidget(m_close);
    m_rescanTimer.setSingleShot(true);
    m_rescanTimer.setInterval(kRescanMs);
    connect(&m_rescanTimer, &QTimer::timeout, this, [this] {
        rescan();
        showMatches();
    });
    connect(m_text, &QLineEdit::textChanged, this, [this] {
        rescan();
        go(firstMatchOnScreen());
    });
    connect(m_previous, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(m_next, &QToolButton::clicked, this, &FindBar::findNext);
    connect(m_close, &QToolButton::clicked, this, &FindBar::close);
    m_text->installEventFilter(this);
    hide();
}

void FindBar::open(QPlainTextEdit *pane)
{
    if (pane != m_pane) {
        if (m_pane) {
            m_pane->setExtraSelections({});
            m_pane->document()->disconnect(this);
            m_pane->verticalScrollBar()->disconnect(this);
        }
        m_pane = pane;
        connect(pane->document(), &QTextDocument::contentsChanged, this, [this] {
            if (isVisible() && !m_text->text().isEmpty() && !m_rescanTimer.isActive())
                m_rescanTimer.start();
        });
        connect(pane->verticalScrollBar(), &QScrollBar::valueChanged, this, &FindBar::showMatches);
    }
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus != m_text)
        m_focusBefore = focus;
    show();
    raise();
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
    rescan();
    showMatches();
}

void FindBar::close()
{
    m_rescanTimer.stop();
    if (m_pane)
        m_pane->setExtraSelections({});
    hide();
    if (m_focusBefore)
        m_focusBefore->setFocus(Qt::OtherFocusReason);
    else if (m_pane)
        m_pane->setFocus(Qt::OtherFocusReason);
}

void FindBar::rescan()
{
    const int before = m_current >= 0 && m_current < int(m_matches.size()) ? m_matches[m_current] : -1;
    m_needleLength = int(m_text->text().size());
    m_matches = m_pane ? findAll(m_pane->document()->toPlainText(), m_text->text()) : std::vector<int>{};
    // Keep the reader on the same match (or the one after it) as lines come and go.
    const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), before);
    m_current = m_matches.empty() ? -1 : std::min(int(at - m_matches.begin()), int(m_matches.size()) - 1);
    updateCount();
}

int FindBar::firstMatchOnScreen() const
{
    if (m_matches.empty() || !m_pane)
        return -1;
    const int top = m_pane->cursorForPosition(QPoint(0, 0)).position();
    const auto at = std::lower_bound(m_matches.begin(), m_matches.end(), top);
    return at == m_matches.end() ? int(m_matches.size()) - 1 : int(at - m_matches.begin());
}

void FindBar::findNext()
{
    if (!m_matches.empty())
        go((m_current + 1) % int(m_matches.size()));
}

void FindBar::findPrevious()
{
    if (!m_matches.empty())
        go((m_current - 1 + int(m_matches.size())) % int(m_matches.size()));
}

void FindBar::go(int index)
{
    m_current = index;
    if (m_pane && index >= 0) {
        QTextCursor cursor(m_pane->document());
        cursor.setPosition(m_matches[index]);
        cursor.setPosition(m_matches[index] + m_needleLength, QTextCursor::KeepAnchor);
        m_pane->setTextCursor(cursor);
        m_pane->ensureCursorVisible();
    }
    updateCount();
    showMatches();
}

void FindBar::showMatches()
{
    if (!m_pane || !isVisible())
        return;
    QList<QTextEdit::ExtraSelection> marks;
    if (!m_matches.empty()) {
        QTextCharFormat match;
        match.setBackground(QColor(255, 235, 120));
        match.setForeground(Qt::black);
        QTextCharFormat current = match;
        current.setBackground(QColor(255, 150, 50));
        const int top = m_pane->cursorForPosition(QPoint(0, 0)).position();
        const auto first = std::lower_bound(m_matches.begin(), m_matches.end(), top);
        const int from = std::max(0, int(first - m_matches.begin()) - kPaintedMatchesAround / 4);
        const int to = std::min(int(m_matches.size()), from + kPaintedMatchesAround);
        for (int i = from; i < to; ++i) {
            QTextCursor cursor(m_pane->document());
            cursor.setPosition(m_matches[i]);
            cursor.setPosition(m_matches[i] + m_needleLength, QTextCursor::KeepAnchor);
            marks.append({cursor, i == m_current ? current : match});
        }
    }
    m_pane->setExtraSelections(marks);
}

void FindBar::updateCount()
{
    m_count->setText(countText());
}

QString FindBar::countText() const
{
    if (m_text->text().isEmpty())
        return QString();
    return tr("%1 of %2").arg(m_matches.empty() ? 0 : m_current + 1).arg(m_matches.size());
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F3:
            shift ? findPrevious() : findNext();
            return true;
        case Qt::Key_Escape:
            close();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
