// SPDX-License-Identifier: MIT
#include "ui/PaneMarks.h"

#include "text/TextMarks.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace {

std::function<bool(const QUrl &)> &linkOpener()
{
    static std::function<bool(const QUrl &)> opener;
    return opener;
}

// A pane line shows a block break inside a received line as U+FFFD.
QString asShown(const QString &body)
{
    QString shown = body;
    for (QChar &c : shown) {
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QChar::ReplacementCharacter;
    }
    return shown;
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
}

void PaneMarks::setLinksShown(bool shown)
{
    m_linksShown = shown;
    if (!shown)
        m_pane->viewport()->unsetCursor();
}

void PaneMarks::markNextMention(const QString &body)
{
    m_pendingMentions.append(asShown(body));
}

void PaneMarks::linesAdded(int from, int, int added)
{
    if (added == 0)
        return;
    QTextDocument *doc = m_pane->document();
    const QTextBlock last = doc->findBlock(from + added - 1);
    for (QTextBlock block = doc->findBlock(from); block.isValid(); block = block.next()) {
        mark(block);
        if (block == last)
            break;
    }
}

void PaneMarks::mark(const QTextBlock &block)
{
    const QString text = block.text();
    bool mention = false;
    if (!m_pendingMentions.isEmpty() && text.endsWith(m_pendingMentions.first())) {
        m_pendingMentions.removeFirst();
        mention = true;
    }
    const QList<TextRange> links = m_linksShown ? findLinks(text) : QList<TextRange>();
    if (!mention && links.isEmpty())
        return;
    QTextCharFormat plain;
    if (mention) {
        plain.setBackground(QColor(255, 236, 179));
        plain.setForeground(QColor(120, 40, 0));
        plain.setFontWeight(QFont::Bold);
    }
    QTextCharFormat link = plain;
    link.setFontUnderline(true);
    link.setForeground(QColor(0, 0, 200));
    // Ranges that do not overlap, in order: the line's own format between the links.
    QList<QTextLayout::FormatRange> ranges;
    int at = 0;
    for (const TextRange &r : links) {
        if (mention && r.start > at)
            ranges.append({at, int(r.start) - at, plain});
        ranges.append({int(r.start), int(r.length), link});
        at = int(r.start + r.length);
    }
    if (mention && at < text.size())
        ranges.append({at, int(text.size()) - at, plain});
    block.layout()->setFormats(ranges);
    m_pane->document()->markContentsDirty(block.position(), block.length());
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
