// SPDX-License-Identifier: MIT
#include "ui/PaneMarks.h"

#include "ui/PaneAccessible.h"

#include "text/TextMarks.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <map>
#include <utility>

namespace {

std::function<bool(const QUrl &)> &linkOpener()
{
    static std::function<bool(const QUrl &)> opener;
    return opener;
}

} // namespace

bool openLink(const QUrl &url)
{
    const auto &opener = linkOpener();
    return opener ? opener(url) : QDesktopServices::openUrl(url);
}

void setLinkOpenerForTesting(std::function<bool(const QUrl &)> opener)
{
    linkOpener() = std::move(opener);
}

PaneMarks::PaneMarks(QPlainTextEdit *pane)
    : QObject(pane), m_pane(pane)
{
    connect(pane->document(), &QTextDocument::contentsChange, this, &PaneMarks::linesAdded);
    pane->viewport()->installEventFilter(this);
    pane->viewport()->setMouseTracking(true);
    PaneAccessible::install(pane);
}

void PaneMarks::setLinksShown(bool shown)
{
    m_linksShown = shown;
    if (!shown)
        m_pane->viewport()->unsetCursor();
}

void MentionMarks::linesReady(const ShownLines &lines)
{
    int row = 0;
    for (const ShownLine &line : lines.lines()) {
        if (line.pane != ShownLine::Pane::Chat)
            continue;
        if (line.mentionsUser)
            m_marks->markMentionRow(row);
        ++row;
    }
}

void PaneMarks::linesAdded(int from, int, int added)
{
    if (added == 0 || (!m_linksShown && m_mentionRows.isEmpty() && m_mutedRows.isEmpty()))
        return;
    // The new lines as one text, read once: most lines have nothing to mark.
    QTextDocument *doc = m_pane->document();
    // A change counts the document's final paragraph end, which no cursor reaches.
    const int end = std::min(from + added, doc->characterCount() - 1);
    if (end <= from)
        return;

    std::map<int, Marks> marks; // by block number
    if (!m_mentionRows.isEmpty() || !m_mutedRows.isEmpty()) {
        // Rows count from the block the appended text's first line joined.
        const int first = doc->findBlock(from).blockNumber();
        const int last = doc->findBlock(end - 1).blockNumber();
        const auto markRows = [&](QList<int> &rows, bool Marks::*flag) {
            for (const int row : std::exchange(rows, {})) {
                if (first + row > last)
                    break;
                Marks &m = marks[first + row];
                m.block = doc->findBlockByNumber(first + row);
                m.*flag = true;
            }
        };
        markRows(m_mentionRows, &Marks::mention);
        markRows(m_mutedRows, &Marks::muted);
    }
    if (m_linksShown) {
        QTextCursor range(doc);
        range.setPosition(from);
        range.setPosition(end, QTextCursor::KeepAnchor);
        const QString text = range.selectedText();
        for (const TextRange &link : findLinks(text)) {
            const QTextBlock block = doc->findBlock(from + int(link.start));
            Marks &m = marks[block.blockNumber()];
            m.block = block;
            m.links.append({from + link.start - block.position(), link.length});
        }
    }
    for (const auto &[number, m] : marks)
        mark(m);
}

void PaneMarks::mark(const Marks &marks)
{
    QTextCharFormat plain;
    if (marks.mention) {
        plain.setBackground(QColor(255, 236, 179));
        plain.setForeground(QColor(120, 40, 0));
        plain.setFontWeight(QFont::Bold);
    } else if (marks.muted) {
        plain.setForeground(mutedColour(m_pane->palette()));
        plain.setFontItalic(true);
    }
    const bool whole = marks.mention || marks.muted;
    QTextCharFormat link = plain;
    link.setFontUnderline(true);
    link.setForeground(QColor(0, 0, 200));
    // Ranges that do not overlap, in order: the line's own format between the links.
    const int length = marks.block.length() - 1;
    QList<QTextLayout::FormatRange> ranges;
    int at = 0;
    for (const TextRange &r : marks.links) {
        if (whole && r.start > at)
            ranges.append({at, int(r.start) - at, plain});
        ranges.append({int(r.start), int(r.length), link});
        at = int(r.start + r.length);
    }
    if (whole && at < length)
        ranges.append({at, length - at, plain});
    marks.block.layout()->setFormats(ranges);
    m_pane->document()->markContentsDirty(marks.block.position(), marks.block.length());
}

QColor PaneMarks::mutedColour(const QPalette &palette)
{
    // Two thirds of the way from the base to the text: grey on white, light grey on black.
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    auto mix = [](int t, int b) { return (2 * t + b) / 3; };
    return QColor(mix(text.red(), base.red()), mix(text.green(), base.green()), mix(text.blue(), base.blue()));
}

QUrl PaneMarks::linkAt(const QPoint &viewportPos) const
{
    const QTextCursor cursor = m_pane->cursorForPosition(viewportPos);
    // cursorForPosition gives the nearest caret place: below the last line or
    // left of the text it still finds one, so check the point is on that line.
    const QRect caret = m_pane->cursorRect(cursor);
    if (viewportPos.y() < caret.top() || viewportPos.y() > caret.bottom())
        return {};
    // The caret stands left of the character under the point, or right of it
    // when the point is in that character's right half.
    const int under = cursor.positionInBlock() - (caret.left() > viewportPos.x() ? 1 : 0);
    const QString text = cursor.block().text();
    for (const TextRange &link : findLinks(text)) {
        if (under >= link.start && under < link.start + link.length)
            return linkUrl(QStringView(text).sliced(link.start, link.length));
    }
    return {};
}

bool PaneMarks::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_linksShown || watched != m_pane->viewport())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->buttons() == Qt::NoButton) {
            if (linkAt(mouse->position().toPoint()).isEmpty())
                m_pane->viewport()->setCursor(Qt::IBeamCursor);
            else
                m_pane->viewport()->setCursor(Qt::PointingHandCursor);
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        // A drag that selected text is not a click.
        if (mouse->button() == Qt::LeftButton && !m_pane->textCursor().hasSelection()) {
            const QUrl url = linkAt(mouse->position().toPoint());
            if (!url.isEmpty())
                openLink(url);
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
