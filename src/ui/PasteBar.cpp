// SPDX-License-Identifier: MIT
#include "ui/PasteBar.h"

#include "outgoing/PasteQueue.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {
QPushButton *makeButton(const char *caption, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QLatin1String(caption), parent);
    button->setObjectName(QLatin1String(name));
    // Enter presses the focused button, as in a dialog.
    button->setAutoDefault(true);
    return button;
}
} // namespace

PasteBar::PasteBar(PasteQueue *queue, QWidget *parent)
    : QWidget(parent)
    , m_queue(queue)
    , m_message(new QLabel(this))
    , m_send(makeButton("Send", "pasteSend", this))
    , m_cancel(makeButton("Cancel", "pasteCancel", this))
    , m_stop(makeButton("Stop", "pasteStop", this))
    , m_close(makeButton("Close", "pasteClose", this))
{
    setObjectName(QStringLiteral("pasteBar"));
    setAccessibleName(QStringLiteral("Paste"));
    m_message->setObjectName(QStringLiteral("pasteMessage"));
    // The target is a channel name from the network.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(m_message, 1);
    for (QPushButton *button : {m_send, m_cancel, m_stop, m_close})
        row->addWidget(button);

    connect(m_send, &QPushButton::clicked, m_queue, &PasteQueue::start);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_queue->clear();
        close();
    });
    connect(m_stop, &QPushButton::clicked, m_queue, &PasteQueue::stop);
    connect(m_close, &QPushButton::clicked, this, &PasteBar::close);
    connect(m_queue, &PasteQueue::progress, this, &PasteBar::onProgress);
    connect(m_queue, &PasteQueue::finished, this,
            [this](PasteQueue::Outcome outcome, int sent, int total) { onFinished(int(outcome), sent, total); });
    hide();
}

bool PasteBar::ask(const QString &text, const QString &target)
{
    if (m_queue->isRunning())
        return false;
    m_queue->load(text);
    m_message->setText(pasteQuestion(m_queue->total(), target, m_queue->refused()));
    showOnly(m_send, m_cancel);
    show();
    m_send->setFocus();
    return true;
}

void PasteBar::showOnly(QPushButton *first, QPushButton *second)
{
    for (QPushButton *button : {m_send, m_cancel, m_stop, m_close})
        button->setVisible(button == first || button == second);
}

void PasteBar::onProgress(int, int left)
{
    if (!m_stop->isVisible()) {
        showOnly(m_stop);
        m_stop->setFocus();
    }
    m_message->setText(pasteLeftText(left));
}

void PasteBar::onFinished(int outcome, int sent, int total)
{
    m_message->setText(pasteOutcomeText(PasteQueue::Outcome(outcome), sent, total, m_queue->refused()));
    showOnly(m_close);
    m_close->setFocus();
}

void PasteBar::close()
{
    hide();
    emit closed();
}

void PasteBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        for (QPushButton *button : {m_cancel, m_stop, m_close}) {
            if (button->isVisible()) {
                button->click();
                return;
            }
        }
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_send->isVisible()) {
        m_send->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
