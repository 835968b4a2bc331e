// SPDX-License-Identifier: MIT
#include "ui/PaneAccessible.h"

#include "text/TextMarks.h"
#include "ui/PaneMarks.h"

#include <QAbstractTextDocumentLayout>
#include <QMap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QWindow>

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

constexpr char kPaneProperty[] = "veskAccessiblePane";

// Where QPlainTextEdit draws a block: its geometry in content coordinates
// and the offset of the content in the viewport. Both are protected members,
// reached through pointers to members formed in a derived class.
struct PlainTextGeometry : QPlainTextEdit
{
    static QPointF blockOrigin(const QPlainTextEdit *pane, const QTextBlock &block)
    {
        const auto geometry = &PlainTextGeometry::blockBoundingGeometry;
        const auto offset = &PlainTextGeometry::contentOffset;
        return (pane->*geometry)(block).topLeft() + (pane->*offset)();
    }
    static QTextBlock firstShown(const QPlainTextEdit *pane)
    {
        const auto first = &PlainTextGeometry::firstVisibleBlock;
        return (pane->*first)();
    }
};

// An underlined address of a pane line: readable as a link, opened by its action.
// Its range follows the text, so dropping older lines does not move it.
class PaneLink : public QAccessibleInterface, public QAccessibleHyperlinkInterface, public QAccessibleActionInterface
{
public:
    PaneLink(QPlainTextEdit *pane, int start, int end) : m_pane(pane), m_range(pane->document())
    {
        m_range.setPosition(start);
        m_range.setPosition(end, QTextCursor::KeepAnchor);
    }

    bool isValid() const override { return m_pane && m_range.hasSelection(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_pane ? m_pane->window()->windowHandle() : nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return m_pane ? QAccessible::queryAccessibleInterface(m_pane.data()) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name)
            return anchor();
        if (type == QAccessible::Value || type == QAccessible::Description)
            return anchorTarget();
        return {};
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        QAccessibleInterface *pane = parent();
        QAccessibleTextInterface *text = pane ? pane->textInterface() : nullptr;
        QRect r;
        for (int i = startIndex(); text && i < endIndex(); ++i)
            r |= text->characterRect(i);
        return r;
    }
    QAccessible::Role role() const override { return QAccessible::Link; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.linked = true;
        s.invisible = !isValid();
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::HyperlinkInterface)
            return static_cast<QAccessibleHyperlinkInterface *>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    // QAccessibleHyperlinkInterface
    QString anchor() const override { return isValid() ? m_range.selectedText() : QString(); }
    QString anchorTarget() const override { return isValid() ? linkUrl(anchor()).toString() : QString(); }
    int startIndex() const override { return m_range.selectionStart(); }
    int endIndex() const override { return m_range.selectionEnd(); }

    // QAccessibleActionInterface
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && isValid())
            openLink(linkUrl(anchor()));
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<QPlainTextEdit> m_pane;
    QTextCursor m_range;
};

QAccessibleInterface *paneFactory(const QString &, QObject *object)
{
    auto *pane = qobject_cast<QPlainTextEdit *>(object);
    if (pane && pane->property(kPaneProperty).toBool())
        return new PaneAccessible(pane);
    return nullptr;
}

QString rgb(const QColor &color)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(color.red()).arg(color.green()).arg(color.blue());
}

// A font family as a quoted attribute value: the separators of the attribute
// list are escaped.
QString quotedFamily(QString family)
{
    for (const char c : {'\\', ':', ',', '=', ';', '"'})
        family.replace(QLatin1Char(c), QLatin1String("\\") + QLatin1Char(c));
    return QLatin1Char('"') + family + QLatin1Char('"');
}

// The attribute list for one run, "name:value;" in the names' order, with the
// names assistive technology reads (the AT-SPI bridge translates them: color
// to fg-color, background-color to bg-color, text-underline-type to underline).
QString attributeList(const QTextCharFormat &format, const QFont &font, Qt::Alignment alignment)
{
    QMap<QString, QString> attrs;
    if (!font.family().isEmpty())
        attrs[QStringLiteral("font-family")] = quotedFamily(font.family());
    if (font.pointSize() > 0)
        attrs[QStringLiteral("font-size")] = QStringLiteral("%1pt").arg(font.pointSize());
    attrs[QStringLiteral("font-weight")] = font.weight() > QFont::Normal ? QStringLiteral("bold") : QStringLiteral("normal");
    attrs[QStringLiteral("font-style")] = font.style() == QFont::StyleItalic ? QStringLiteral("italic")
        : font.style() == QFont::StyleOblique                                ? QStringLiteral("oblique")
                                                                             : QStringLiteral("normal");
    if (format.underlineStyle() != QTextCharFormat::NoUnderline || font.underline()) {
        attrs[QStringLiteral("text-underline-style")] = QStringLiteral("solid");
        attrs[QStringLiteral("text-underline-type")] = QStringLiteral("single");
    }
    attrs[QStringLiteral("text-position")] = QStringLiteral("baseline");
    if (alignment & Qt::AlignHCenter)
        attrs[QStringLiteral("text-align")] = QStringLiteral("center");
    else if (alignment & Qt::AlignRight)
        attrs[QStringLiteral("text-align")] = QStringLiteral("right");
    else if (alignment & Qt::AlignJustify)
        attrs[QStringLiteral("text-align")] = QStringLiteral("justify");
    else
        attrs[QStringLiteral("text-align")] = QStringLiteral("left");
    if (format.background().style() == Qt::SolidPattern)
        attrs[QStringLiteral("background-color")] = rgb(format.background().color());
    if (format.foreground().style() == Qt::SolidPattern)
        attrs[QStringLiteral("color")] = rgb(format.foreground().color());
    QString out;
    for (auto it = attrs.cbegin(); it != attrs.cend(); ++it)
        out += it.key() + QLatin1Char(':') + it.value() + QLatin1Char(';');
    return out;
}

} // namespace

PaneAccessible::PaneAccessible(QPlainTextEdit *pane)
    : QAccessibleWidget(pane, QAccessible::EditableText)
{
}

PaneAccessible::~PaneAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_links))
        QAccessible::deleteAccessibleInterface(id);
}

void PaneAccessible::install(QPlainTextEdit *pane)
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(paneFactory); });
    pane->setProperty(kPaneProperty, true);
    // An interface Qt made for the pane before this one was installed would
    // be kept for the pane's life: drop it so that the next request makes ours.
    // (Once per pane: this makes the pane's interface now if none was made.)
    QAccessibleInterface *existing = QAccessible::queryAccessibleInterface(pane);
    if (existing && !dynamic_cast<PaneAccessible *>(existing))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(existing));
}

QPlainTextEdit *PaneAccessible::pane() const
{
    return static_cast<QPlainTextEdit *>(widget());
}

void *PaneAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString PaneAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return pane()->toPlainText();
    return QAccessibleWidget::text(type);
}

QAccessible::State PaneAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.selectableText = true;
    s.multiLine = true;
    if (pane()->isReadOnly())
        s.readOnly = true;
    else
        s.editable = true;
    return s;
}

void PaneAccessible::refreshLinks() const
{
    // The underlined ranges of the lines shown: the addresses as drawn.
    QList<std::pair<int, int>> shown;
    const QAbstractTextDocumentLayout *layout = pane()->document()->documentLayout();
    const int height = pane()->viewport()->height();
    QTextBlock block = PlainTextGeometry::firstShown(pane());
    qreal top = block.isValid() ? blockOrigin(block).y() : 0;
    for (; block.isValid() && top < height; block = block.next()) {
        for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
            if (range.format.fontUnderline())
                shown.append({block.position() + range.start, block.position() + range.start + range.length});
        }
        top += layout->blockBoundingRect(block).height();
    }
    QList<QAccessible::Id> old = std::exchange(m_links, {});
    for (const auto &range : shown) {
        // Plain names: clang does not let a lambda capture structured bindings.
        const int start = range.first;
        const int end = range.second;
        const auto same = std::find_if(old.begin(), old.end(), [&](QAccessible::Id id) {
            const auto *link = static_cast<PaneLink *>(QAccessible::accessibleInterface(id));
            return link && link->isValid() && link->startIndex() == start && link->endIndex() == end;
        });
        if (same != old.end()) {
            m_links.append(*same);
            old.erase(same);
        } else {
            m_links.append(QAccessible::registerAccessibleInterface(new PaneLink(pane(), start, end)));
        }
    }
    for (const QAccessible::Id id : std::as_const(old))
        QAccessible::deleteAccessibleInterface(id);
}

int PaneAccessible::childCount() const
{
    refreshLinks();
    return QAccessibleWidget::childCount() + int(m_links.size());
}

QAccessibleInterface *PaneAccessible::child(int index) const
{
    const int widgets = QAccessibleWidget::childCount();
    if (index < widgets)
        return QAccessibleWidget::child(index);
    if (m_links.isEmpty())
        refreshLinks();
    return index - widgets < m_links.size() ? QAccessible::accessibleInterface(m_links.at(index - widgets)) : nullptr;
}

int PaneAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (child && child->role() == QAccessible::Link && !child->object()) {
        const int at = int(m_links.indexOf(QAccessible::uniqueId(const_cast<QAccessibleInterface *>(child))));
        return at < 0 ? -1 : QAccessibleWidget::childCount() + at;
    }
    return QAccessibleWidget::indexOfChild(child);
}

QAccessibleInterface *PaneAccessible::childAt(int x, int y) const
{
    refreshLinks();
    for (const QAccessible::Id id : std::as_const(m_links)) {
        QAccessibleInterface *link = QAccessible::accessibleInterface(id);
        if (link && link->rect().contains(x, y))
            return link;
    }
    return QAccessibleWidget::childAt(x, y);
}

QTextCursor PaneAccessible::cursorAt(int offset) const
{
    QTextCursor cursor(pane()->document());
    cursor.setPosition(std::clamp(offset, 0, characterCount()));
    return cursor;
}

int PaneAccessible::characterCount() const
{
    // The document counts the paragraph end after the last line, which no cursor reaches.
    return pane()->document()->characterCount() - 1;
}

void PaneAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    const QTextCursor cursor = pane()->textCursor();
    if (selectionIndex != 0 || !cursor.hasSelection())
        return;
    *startOffset = cursor.selectionStart();
    *endOffset = cursor.selectionEnd();
}

int PaneAccessible::selectionCount() const
{
    return pane()->textCursor().hasSelection() ? 1 : 0;
}

void PaneAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void PaneAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex != 0)
        return;
    QTextCursor cursor = pane()->textCursor();
    cursor.clearSelection();
    pane()->setTextCursor(cursor);
}

void PaneAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    QTextCursor cursor = cursorAt(startOffset);
    cursor.setPosition(std::clamp(endOffset, 0, characterCount()), QTextCursor::KeepAnchor);
    pane()->setTextCursor(cursor);
}

int PaneAccessible::cursorPosition() const
{
    return pane()->textCursor().position();
}

void PaneAccessible::setCursorPosition(int position)
{
    pane()->setTextCursor(cursorAt(position));
}

QString PaneAccessible::text(int startOffset, int endOffset) const
{
    QTextCursor cursor = cursorAt(startOffset);
    cursor.setPosition(std::clamp(endOffset, 0, characterCount()), QTextCursor::KeepAnchor);
    return cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

QString PaneAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                     int *endOffset) const
{
    const auto [start, end] = QAccessible::qAccessibleTextBoundaryHelper(cursorAt(offset), boundaryType);
    *startOffset = start;
    *endOffset = end;
    return text(start, end);
}

QString PaneAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                         int *endOffset) const
{
    const int start = QAccessible::qAccessibleTextBoundaryHelper(cursorAt(offset), boundaryType).first;
    if (start <= 0) {
        *startOffset = *endOffset = 0;
        return {};
    }
    return textAtOffset(start - 1, boundaryType, startOffset, endOffset);
}

QString PaneAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                        int *endOffset) const
{
    int next = QAccessible::qAccessibleTextBoundaryHelper(cursorAt(offset), boundaryType).second;
    // A line's end (where its line feed stands) still belongs to it: the next begins after.
    if (next < characterCount()
        && QAccessible::qAccessibleTextBoundaryHelper(cursorAt(next), boundaryType).first < next)
        ++next;
    if (next >= characterCount()) {
        *startOffset = *endOffset = characterCount();
        return {};
    }
    return textAtOffset(next, boundaryType, startOffset, endOffset);
}

QPointF PaneAccessible::blockOrigin(const QTextBlock &block) const
{
    // Lays the block out if the pane has not yet (it lays out what it shows).
    return PlainTextGeometry::blockOrigin(pane(), block);
}

QRect PaneAccessible::characterRect(int offset) const
{
    if (offset < 0 || offset >= characterCount())
        return {};
    const QTextBlock block = pane()->document()->findBlock(offset);
    if (!block.isValid() || !block.isVisible())
        return {};
    const QPointF origin = blockOrigin(block);
    const int inBlock = offset - block.position();
    const QTextLine line = block.layout()->lineForTextPosition(inBlock);
    if (!line.isValid())
        return {};
    // Between the caret places before and after the character: its advance
    // as drawn, in the line's own fonts (a mention line is bold).
    const qreal before = line.cursorToX(inBlock);
    const qreal after = line.cursorToX(inBlock + 1);
    const QRectF drawn(origin.x() + std::min(before, after), origin.y() + line.y(),
                       std::max<qreal>(1, std::abs(after - before)), line.height());
    const QRect inViewport = drawn.toAlignedRect();
    return QRect(pane()->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
}

int PaneAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint inViewport = pane()->viewport()->mapFromGlobal(point);
    if (!pane()->viewport()->rect().contains(inViewport))
        return -1;
    const QTextBlock block = pane()->cursorForPosition(inViewport).block();
    if (!block.isValid())
        return -1;
    const QPointF inBlock = QPointF(inViewport) - blockOrigin(block);
    const QTextLayout *layout = block.layout();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        if (inBlock.y() < line.y() || inBlock.y() >= line.y() + line.height())
            continue;
        // Only a point on a character: not beside the text nor past its end.
        if (inBlock.x() < line.x() || inBlock.x() >= line.x() + line.naturalTextWidth())
            return -1;
        return block.position() + line.xToCursor(inBlock.x(), QTextLine::CursorOnCharacter);
    }
    return -1;
}

void PaneAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(endIndex);
    const QRect first = characterRect(startIndex);
    if (first.isNull())
        return;
    const QRect shown(pane()->viewport()->mapToGlobal(QPoint(0, 0)), pane()->viewport()->size());
    if (shown.contains(first))
        return;
    // The pane scrolls by laid-out lines: the substring's line goes to the top.
    // The caret stays where it is, so the pane keeps following new lines.
    const QTextBlock block = pane()->document()->findBlock(startIndex);
    const QTextLine line = block.layout()->lineForTextPosition(startIndex - block.position());
    pane()->verticalScrollBar()->setValue(block.firstLineNumber() + (line.isValid() ? line.lineNumber() : 0));
}

QString PaneAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    const int count = characterCount();
    // -2 asks for the caret's place, -1 (or the end) for the last character.
    if (offset == -2)
        offset = cursorPosition();
    if (offset == -1 || offset == count)
        offset = count - 1;
    if (offset < 0 || offset >= count) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const QTextDocument *doc = pane()->document();
    const QTextBlock block = doc->findBlock(offset);
    const int blockStart = block.position();
    const int textEnd = blockStart + block.length() - 1; // the line end follows

    // The document's own format: that of the fragments holding the character,
    // neighbours with the same format taken together; the line end has the block's.
    QTextCharFormat format = block.charFormat();
    int runStart = textEnd;
    int runEnd = textEnd + 1;
    if (offset < textEnd) {
        int formatIndex = -1;
        runStart = blockStart;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = fragment.position();
            const int to = from + fragment.length();
            if (to <= offset) {
                if (fragment.charFormatIndex() != formatIndex)
                    runStart = from;
                formatIndex = fragment.charFormatIndex();
                continue;
            }
            if (from <= offset) {
                if (fragment.charFormatIndex() != formatIndex)
                    runStart = from;
                formatIndex = fragment.charFormatIndex();
                format = fragment.charFormat();
                runEnd = to;
            } else if (fragment.charFormatIndex() == formatIndex) {
                runEnd = to;
            } else {
                break;
            }
        }
        runStart = std::max(runStart, blockStart);
        runEnd = std::min(runEnd, textEnd);
    }

    // The pane's display formats over the line: those holding the character
    // apply, in order, as when drawn; every edge of one bounds the run.
    const int inBlock = offset - blockStart;
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        const int from = range.start;
        const int to = range.start + range.length;
        if (from <= inBlock && inBlock < to) {
            format.merge(range.format);
            runStart = std::max(runStart, blockStart + from);
            runEnd = std::min(runEnd, blockStart + to);
        } else if (from > inBlock) {
            runEnd = std::min(runEnd, blockStart + from);
        } else {
            runStart = std::max(runStart, blockStart + to);
        }
    }
    *startOffset = runStart;
    *endOffset = runEnd;
    return attributeList(format, format.font().resolve(doc->defaultFont()), block.blockFormat().alignment());
}
