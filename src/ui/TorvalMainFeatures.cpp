// SPDX-License-Identifier: MIT
#include "ui/TorvalMain.h"

#include "log/ChatLog.h"
#include "log/LogTail.h"
#include "reception/RosterModel.h"
#include "session/ChatSession.h"
#include "settings/Settings.h"
#include "ui/Alerts.h"
#include "ui/DisplayPane.h"
#include "ui/FindBar.h"
#include "ui/PaneMarks.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>

void TorvalMain::prepareFeatures()
{
    historyOn = isOn(Keys::InputHistory);
    completionOn = isOn(Keys::NameCompletion);
    chatMarks = new PaneMarks(Text2);
    whisperMarks = new PaneMarks(Text3);
    const bool links = isOn(Keys::Links);
    chatMarks->setLinksShown(links);
    whisperMarks->setLinksShown(links);

    // The session's filters, in the order each batch passes them.
    chatLog = new ChatLog(this);
    const QString folder = GetSetting(Keys::LogsFolder);
    chatLog->setFolder(folder.trimmed().isEmpty() ? ChatLog::defaultFolder() : folder);
    chatLog->setEnabled(isOn(Keys::LogsEnabled));
    connect(chatLog, &ChatLog::failed, this, [this](const QString &message) { appendDisplayLine(Text2, message); });
    m_session->addFilter(chatLog);
    // The earlier lines come from the same log the session writes.
    m_session->setReplay(chatLog->folder(), replayLineCount(GetSetting(Keys::LogsReplay)));
    if (isOn(Keys::Mentions)) {
        mentionMarks = std::make_unique<MentionMarks>(chatMarks);
        m_session->addFilter(mentionMarks.get());
    }
    if (isOn(Keys::Alerts)) {
        const int seconds = toInt16OrZero(GetSetting(Keys::AlertSeconds));
        alerts = std::make_unique<MessageAlerts>(
            this, seconds > 0 ? seconds : toInt16OrZero(QLatin1String(Keys::AlertSeconds.defaultValue)));
        m_session->addFilter(alerts.get());
    }
    m_session->setAutoReconnect(isOn(Keys::AutoReconnect));
    prepareFindBar();
    preparePasting();
    prepareSpellCheck();
}

void TorvalMain::prepareFindBar()
{
    findBar = new FindBar(this);
    auto *find = new QShortcut(QKeySequence::Find, this, this, &TorvalMain::openFindBar);
    find->setContext(Qt::WindowShortcut);
    // F3 also works from the pane being searched, while the bar is open.
    auto *next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(next, &QShortcut::activated, findBar, [bar = findBar] {
        if (bar->isVisible())
            bar->findNext();
    });
    auto *previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(previous, &QShortcut::activated, findBar, [bar = findBar] {
        if (bar->isVisible())
            bar->findPrevious();
    });
    // The bar stands over the foot of the pane it searches and follows it.
    for (QPlainTextEdit *pane : {Text2, Text3})
        pane->installEventFilter(this);
}

bool TorvalMain::Text1_FeatureKey(const QKeyEvent *key)
{
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    std::optional<QString> recalled;
    switch (key->key()) {
    case Qt::Key_Up:
        recalled = historyOn ? history.up(Text1->text()) : std::nullopt;
        break;
    case Qt::Key_Down:
        recalled = historyOn ? history.down(Text1->text()) : std::nullopt;
        break;
    case Qt::Key_Tab: {
        if (!completionOn)
            return false;
        const auto completed = completer.complete(Text1->text(), Text1->cursorPosition(),
                                                  m_session->roster()->shownEntries());
        if (!completed)
            return false; // Tab moves the focus as usual
        Text1->setText(completed->text);
        Text1->setCursorPosition(completed->caret);
        return true;
    }
    default:
        return false;
    }
    if (!recalled)
        return false;
    Text1->setText(*recalled);
    return true;
}

void TorvalMain::rememberSentLine(const QString &typed)
{
    history.add(typed);
}

void TorvalMain::openFindBar()
{
    FindBar *bar = findBar;
    const QWidget *focus = focusWidget();
    const bool whisperPane = focus == Text3 || (bar->isVisible() && bar->pane() == Text3 && bar->isAncestorOf(focus));
    bar->open(whisperPane ? Text3 : Text2);
    placeFindBar();
}

void TorvalMain::placeFindBar()
{
    FindBar *bar = findBar;
    if (!bar->isVisible() || !bar->pane())
        return;
    // Over the foot of the pane it searches, so the window's design layout stays as it is.
    // Its scroll bar stays free.
    QPlainTextEdit *pane = bar->pane();
    const QRect area = pane->geometry();
    const int width = area.width() - (pane->verticalScrollBar()->isVisible() ? pane->verticalScrollBar()->width() : 0);
    const int height = bar->sizeHint().height();
    bar->setGeometry(area.left(), area.bottom() + 1 - height, width, height);
    bar->raise();
}
