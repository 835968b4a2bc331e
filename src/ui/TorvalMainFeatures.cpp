// SPDX-License-Identifier: MIT
#include "ui/TorvalMain.h"

#include "outgoing/CommandLines.h"
#include "reception/DisplayText.h"
#include "session/ChatLink.h"
#include "session/Globals.h"
#include "settings/Settings.h"
#include "text/TextMarks.h"
#include "ui/Alerts.h"
#include "ui/DisplayPane.h"
#include "ui/FeatureState.h"
#include "ui/FindBar.h"
#include "ui/PaneMarks.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>

void TorvalMain::prepareFeatures()
{
    features->historyOn = isOn(Keys::InputHistory);
    features->completionOn = isOn(Keys::NameCompletion);
    features->chatMarks = new PaneMarks(Text2);
    features->whisperMarks = new PaneMarks(Text3);
    const bool links = isOn(Keys::Links);
    features->chatMarks->setLinksShown(links);
    features->whisperMarks->setLinksShown(links);
    features->mentionsOn = isOn(Keys::Mentions);
    features->alertsOn = isOn(Keys::Alerts);
    const int seconds = toInt16OrZero(GetSetting(Keys::AlertSeconds));
    features->alertSeconds = seconds > 0 ? seconds : toInt16OrZero(QLatin1String(Keys::AlertSeconds.defaultValue));
    const QString folder = GetSetting(Keys::LogsFolder);
    features->log.setFolder(folder.trimmed().isEmpty() ? ChatLog::defaultFolder() : folder);
    features->log.setEnabled(isOn(Keys::LogsEnabled));
    connect(&features->log, &ChatLog::failed, this, [this](const QString &message) { appendDisplayLine(Text2, message); });
    features->autoReconnect = isOn(Keys::AutoReconnect);
    connect(&features->reconnect, &Reconnector::attemptDue, this, &TorvalMain::reconnectNow);
    prepareFindBar();
}

void TorvalMain::prepareFindBar()
{
    features->findBar = new FindBar(this);
    auto *find = new QShortcut(QKeySequence::Find, this, this, &TorvalMain::openFindBar);
    find->setContext(Qt::WindowShortcut);
    // F3 also works from the pane being searched, while the bar is open.
    auto *next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(next, &QShortcut::activated, features->findBar, [bar = features->findBar] {
        if (bar->isVisible())
            bar->findNext();
    });
    auto *previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(previous, &QShortcut::activated, features->findBar, [bar = features->findBar] {
        if (bar->isVisible())
            bar->findPrevious();
    });
    // The bar stands over the foot of the pane it searches and follows it.
    for (QPlainTextEdit *pane : {Text2, Text3})
        pane->installEventFilter(this);
}

void TorvalMain::showDisplayLine(QPlainTextEdit *pane, const QString &body)
{
    appendDisplayLine(pane, body);
    features->log.append(body);
}

void TorvalMain::showDisplayLine(PaneAppendBatch &batch, QPlainTextEdit *pane, const QString &body)
{
    batch.addDisplayLine(pane, body);
    features->log.append(body);
}

void TorvalMain::showPlainLine(PaneAppendBatch &batch, QPlainTextEdit *pane, const QString &text)
{
    batch.addPlainLine(pane, text);
    features->log.append(text);
}

void TorvalMain::startLog()
{
    features->log.setServer(ServerAddress);
}

void TorvalMain::endOfSlice()
{
    features->log.flush();
    // A mention whose line did not reach the pane must not mark a later line.
    features->chatMarks->clearPendingMentions();
}

void TorvalMain::logLine(const QString &line)
{
    features->log.append(line);
}

void TorvalMain::noteMessage(const ChatEvent &event, BodyWriter writeBody)
{
    const bool whisper = event.kind == ChatEvent::Kind::Whisper;
    const bool mention = !whisper && mentionsName(event.text, LoginName)
                         && event.name.compare(LoginName, Qt::CaseInsensitive) != 0;
    const bool marked = mention && features->mentionsOn;
    if (features->log.isEnabled() || marked) {
        // Built once, into a reused buffer, for both the log and the mention mark.
        QString &body = features->lineBuffer;
        body.clear();
        writeBody(body, event.name, event.text);
        if (features->log.isEnabled())
            features->log.append(body); // whole: only the pane cuts long lines
        if (marked)
            features->chatMarks->markNextMention(body);
    }
    if (!(whisper || mention) || !features->alertsOn || isActiveWindow())
        return;
    QApplication::alert(this);
    if (!features->notifier) {
        features->notifier = new DesktopNotifier(this);
        features->notifier->setIntervalMs(features->alertSeconds * 1000);
    }
    features->notifier->notify(whisper ? DesktopNotifier::Kind::Whisper : DesktopNotifier::Kind::Mention,
                               whisper ? tr("Whisper from %1").arg(displayName(event.name))
                                       : tr("%1 mentioned you").arg(displayName(event.name)),
                               event.text);
}

bool TorvalMain::Text1_FeatureKey(const QKeyEvent *key)
{
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    std::optional<QString> history;
    switch (key->key()) {
    case Qt::Key_Up:
        history = features->historyOn ? features->history.up(Text1->text()) : std::nullopt;
        break;
    case Qt::Key_Down:
        history = features->historyOn ? features->history.down(Text1->text()) : std::nullopt;
        break;
    case Qt::Key_Tab: {
        if (!features->completionOn)
            return false;
        QStringList entries;
        for (int i = 0; i < Roomlist->count(); ++i)
            entries << Roomlist->item(i)->text();
        const auto completed = features->completer.complete(Text1->text(), Text1->cursorPosition(), entries);
        if (!completed)
            return false; // Tab moves the focus as usual
        Text1->setText(completed->text);
        Text1->setCursorPosition(completed->caret);
        return true;
    }
    default:
        return false;
    }
    if (!history)
        return false;
    Text1->setText(*history);
    return true;
}

void TorvalMain::rememberSentLine(const QString &typed)
{
    features->history.add(typed);
}

void TorvalMain::openFindBar()
{
    FindBar *bar = features->findBar;
    const QWidget *focus = focusWidget();
    const bool whisperPane = focus == Text3 || (bar->isVisible() && bar->pane() == Text3 && bar->isAncestorOf(focus));
    bar->open(whisperPane ? Text3 : Text2);
    placeFindBar();
}

void TorvalMain::placeFindBar()
{
    FindBar *bar = features->findBar;
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

bool TorvalMain::reconnectAfterLoss(const QString &notice)
{
    if (!features->autoReconnect || !IsConnected)
        return false;
    Timer1->stop(); // the watchdog would report the loss in a message box
    clearRoster();
    refreshChannelCaption();
    SetButtonStates(false, true, false, true);
    const int seconds = features->reconnect.schedule();
    showDisplayLine(Text2, notice + tr(" Connecting again in %1 s.").arg(seconds));
    return true;
}

bool TorvalMain::reconnectFailed(const QString &reason)
{
    if (!features->reconnect.isActive() || !IsConnected)
        return false;
    const int seconds = features->reconnect.schedule();
    showDisplayLine(Text2, tr("Could not connect to %1: %2. Trying again in %3 s.").arg(ServerAddress, reason).arg(seconds));
    return true;
}

void TorvalMain::reconnectNow()
{
    if (!IsConnected)
        return;
    Winsock1->connectTo(ServerAddress, gatewayPort());
    Winsock1->writeHandshake(LoginName, LoginPassword);
}

void TorvalMain::loginCompleted()
{
    if (!features->reconnect.isActive())
        return;
    features->reconnect.succeeded();
    SetButtonStates(false, true, true, true);
    Timer1->start(); // the watchdog, at its interval from the first login
    const QString home = GetSetting(Keys::HomeChannel);
    if (home != QLatin1String(Keys::HomeChannel.defaultValue) && !home.isEmpty() && home != CurrentChannel)
        Winsock1->sendLine(channelLine(home));
}

void TorvalMain::stopReconnecting()
{
    features->reconnect.stop();
}
