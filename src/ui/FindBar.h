// SPDX-License-Identifier: MIT
#pragma once

#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;

// Where a text occurs in a pane's text, case-insensitively, in order.
std::vector<int> findAll(const QString &haystack, const QString &needle);

// A find bar for one chat pane at a time: highlights the matches, goes to the
// next or previous one (wrapping), shows "n of m", and on Escape closes and
// gives the focus back to where it was.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    explicit FindBar(QWidget *parent = nullptr);

    // Shows the bar for pane and puts the focus in its text box.
    void open(QPlainTextEdit *pane);
    void close();
    QPlainTextEdit *pane() const { return m_pane; }

    void findNext();
    void findPrevious();
    // "n of m", "0 of 0", or empty when nothing is sought.
    QString countText() const;
    int matchCount() const { return int(m_matches.size()); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rescan();
    void go(int index);
    // The first match at or below the pane's top line, else the last one.
    int firstMatchOnScreen() const;
    void showMatches();
    void updateCount();

    QLineEdit *m_text = nullptr;
    QLabel *m_count = nullptr;
    QToolButton *m_previous = nullptr;
    QToolButton *m_next = nullptr;
    QToolButton *m_close = nullptr;
    QPointer<QPlainTextEdit> m_pane;
    QPointer<QWidget> m_focusBefore;
    QTimer m_rescanTimer; // the pane's text changed: its matches are looked for again
    std::vector<int> m_matches; // positions in the pane's document
    int m_current = -1;
    int m_needleLength = 0;
};
