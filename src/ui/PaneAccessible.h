// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessibleWidget>
#include <QList>
#include <QString>

class QPlainTextEdit;
class QTextBlock;
class QTextCursor;

// What assistive technology reads of a chat pane. Qt's own interface for a
// QPlainTextEdit knows only the document's formats, so the pane's underlined
// addresses and highlighted mentions (display formats on each line's layout)
// would not exist for a screen reader; and it places every character as if its
// line were the first one. This one reports the formats the pane draws and
// the characters where they are drawn. It is created only when an
// accessibility client asks for the pane: appending lines never reaches it.
class PaneAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit PaneAccessible(QPlainTextEdit *pane);
    ~PaneAccessible() override;

    // Makes the pane use this interface; every other widget keeps Qt's.
    // Call before the pane is first asked for (before it is shown).
    static void install(QPlainTextEdit *pane);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;
    QAccessible::State state() const override;
    // After the pane's own child widgets come the addresses in the lines it
    // shows, each a link a screen reader can read and open.
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                             int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                            int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    QPlainTextEdit *pane() const;
    QTextCursor cursorAt(int offset) const;
    // Where a block's layout is drawn, in viewport coordinates.
    QPointF blockOrigin(const QTextBlock &block) const;
    // Makes the link children those of the lines now shown, keeping the ones
    // still there (assistive technology holds them by their ids).
    void refreshLinks() const;

    mutable QList<QAccessible::Id> m_links; // in the text's order
};
