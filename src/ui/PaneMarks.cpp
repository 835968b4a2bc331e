// SPDX-License-Identifier: MIT
#include "ui/PaneMarks.h"

#include "text/TextMarks.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextBlock>

namespace {

constexpr int kMentionState = 1;

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
    : QSyntaxHighlighter(pane->document()), m_pane(pane)
{
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

void PaneMarks::highlightBlock(const QString &text)
{
    if (!m_pendingMentions.isEmpty() && text.endsWith(m_pendingMentions.first())) {
        m_pendingMentions.removeFirst();
        setCurrentBlockState(kMentionState);
    }
    if (currentBlockState() == kMentionState) {
        QTextCharFormat mention;
        mention.setBackground(QColor(255, 236, 179));
        mention.setForeground(QColor(120, 40, 0));
        mention.setFontWeight(QFont::Bold);
        setFormat(0, int(text.size()), mention);
    }
    if (!m_linksShown)
        return;
    for (const TextRange &link : findLinks(text)) {
        QTextCharFormat underlined = format(int(link.start));
        underlined.setFontUnderline(true);
        underlined.setForeground(QColor(0, 0, 200));
        setFormat(int(link.start), int(link.length), underlined);
    }
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
        return QSyntaxHighlighter::eventFilter(watched, event);
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
    return QSyntaxHighlighter::eventFilter(watched, event);
}
