// SPDX-License-Identifier: MIT
// The input line beyond typing: a paste of several lines asks before it is
// sent line by line, and misspelled words are underlined.
#include "ui/TorvalMain.h"

#include "outgoing/PasteQueue.h"
#include "reception/RosterModel.h"
#include "session/ChatSession.h"
#include "settings/Settings.h"
#include "text/SpellChecker.h"
#include "ui/DisplayPane.h"
#include "ui/PasteBar.h"
#include "ui/SpellCheckLine.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int kSpellNamesDelayMs = 200;
constexpr char kPasteBusy[] = "A paste is still being sent: stop it first, or wait until it ends.";

// More than one line once cut as splitPastedText cuts it, found without cutting a paste of megabytes.
bool isSeveralLines(QStringView text)
{
    const auto at = std::find_if(text.begin(), text.end(), [](QChar c) { return c == u'\r' || c == u'\n'; });
    if (at == text.end())
        return false;
    qsizetype next = at - text.begin() + 1;
    if (*at == u'\r' && next < text.size() && text[next] == u'\n')
        ++next;
    return next < text.size(); // only the break after the last line is dropped
}
bool hasLineBreak(QStringView text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

// The context menu's Paste: its text is the input line's own.
bool isPasteAction(const QAction *action)
{
    return action->objectName() == QLatin1String("edit-paste") ||
           action->text().startsWith(QCoreApplication::translate("QLineEdit", "&Paste"));
}
} // namespace

void TorvalMain::preparePasting()
{
    // Each pasted line goes out as if typed and sent, echo included.
    m_pasteQueue = new PasteQueue([session = m_session](const QString &line) { return session->sendPasted(line); },
                                  this);
    m_pasteQueue->setPace(kPasteBurst, kPasteIntervalMs);
    m_pasteBar = new PasteBar(m_pasteQueue, this);
    // The window paints its own grey; the bar takes the palette's, as its text does.
    m_pasteBar->setAutoFillBackground(true);
    connect(m_pasteBar, &PasteBar::closed, Text1, [this] { Text1->setFocus(); });
}

void TorvalMain::Text1_Paste(const QString &text)
{
    if (!isSeveralLines(text)) {
        const std::deque<QString> lines = splitPastedText(text);
        if (!lines.empty())
            Text1->insert(lines.front());
        return;
    }
    if (!m_pasteBar->ask(text, m_session->CurrentChannel())) {
        appendDisplayLine(Text2, QLatin1String(kPasteBusy));
        return;
    }
    placePasteBar();
}

bool TorvalMain::Text1_PasteEvent(QEvent *event)
{
    QClipboard *clipboard = QApplication::clipboard();
    QString text;
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Paste)) {
        text = clipboard->text(QClipboard::Clipboard);
    } else if (event->type() == QEvent::Drop) {
        return Text1_Drop(static_cast<QDropEvent *>(event));
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent *>(event)->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        text = clipboard->text(QClipboard::Selection);
    } else {
        return false;
    }
    // A line without a break is pasted by the input line itself, as always.
    if (Text1->isReadOnly() || !hasLineBreak(text))
        return false;
    Text1_Paste(text);
    return true;
}

bool TorvalMain::Text1_Drop(QDropEvent *drop)
{
    const QMimeData *data = drop->mimeData();
    // A drag within the input line, or of text without a line break, is left to the input line, as always.
    if (Text1->isReadOnly() || !data || !data->hasText() || drop->source() == Text1)
        return false;
    const QString text = data->text();
    if (!hasLineBreak(text))
        return false;
    // The drag left its steady caret at the drop point: leaving puts the blinking one back.
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(Text1, &leave);
    // A copy: the source keeps its text, since the bar may yet be cancelled.
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    Text1_Paste(text);
    return true;
}

void TorvalMain::placePasteBar()
{
    if (!m_pasteBar || m_pasteBar->isHidden())
        return;
    // Just above the input line and as wide, over the foot of the whisper pane, clear of the buttons.
    const QRect input = Text1->geometry();
    const int height = m_pasteBar->heightForWidth(input.width()) > 0 ? m_pasteBar->heightForWidth(input.width())
                                                                      : m_pasteBar->sizeHint().height();
    m_pasteBar->setGeometry(input.left(), input.top() - height, input.width(), height);
    m_pasteBar->raise();
}

void TorvalMain::prepareSpellCheck()
{
    m_spellChecker = std::make_unique<SpellChecker>();
    m_spellLine = new SpellCheckLine(Text1, m_spellChecker.get());
    // The context menu's Paste takes several lines the way the paste keys do.
    m_spellLine->setMenuHook([this](QMenu *menu) {
        for (QAction *action : menu->actions()) {
            if (!isPasteAction(action))
                continue;
            QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this, [this] {
                const QString text = QApplication::clipboard()->text(QClipboard::Clipboard);
                if (hasLineBreak(text))
                    Text1_Paste(text);
                else
                    Text1->paste();
            });
        }
    });
    if (!isOn(Keys::SpellCheck)) {
        m_spellLine->setEnabled(false);
        return;
    }
    if (!m_spellChecker->load(GetSetting(Keys::SpellLanguage).trimmed())) {
        m_spellLine->setEnabled(false);
        appendDisplayLine(Text2, m_spellChecker->notice());
        return;
    }
    m_spellChecker->setPersonalWordList(personalWordListPath());
    // A flood of joins changes the list thousands of times a second: the
    // names are gathered once after the changes settle, not at each one.
    auto *namesTimer = new QTimer(this);
    namesTimer->setSingleShot(true);
    namesTimer->setInterval(kSpellNamesDelayMs);
    connect(namesTimer, &QTimer::timeout, this, &TorvalMain::refreshSpellNames);
    connect(m_session, &ChatSession::rosterChanged, namesTimer, [timer = namesTimer] {
        if (!timer->isActive())
            timer->start();
    });
    refreshSpellNames();
}

void TorvalMain::refreshSpellNames()
{
    if (!m_spellChecker || !m_spellChecker->isEnabled())
        return;
    const RosterModel *roster = m_session->roster();
    QSet<QString> names;
    // An entry is the name, then what the server says about the user after a space.
    for (const QStringList &list : {roster->entries(), roster->shownEntries()}) {
        for (const QString &entry : list) {
            const QString name = entry.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
            if (!name.isEmpty())
                names.insert(name);
        }
    }
    m_spellChecker->setIgnoredNames(names);
    m_spellLine->recheck();
}
