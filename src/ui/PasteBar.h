// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class PasteQueue;
class QLabel;
class QPushButton;

// The bar that asks before a paste of several lines is sent, shows what is
// left while it goes out and how it ended. Enter sends (or presses the
// focused button), Escape cancels, stops or closes, whichever is shown.
class PasteBar : public QWidget
{
    Q_OBJECT

public:
    explicit PasteBar(PasteQueue *queue, QWidget *parent = nullptr);

    // Loads text into the queue and asks whether to send it to target.
    // False, and nothing changes, while an earlier paste is being sent.
    bool ask(const QString &text, const QString &target);

signals:
    // The bar hid itself: the input line may take the focus back.
    void closed();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showOnly(QPushButton *first, QPushButton *second = nullptr);
    void onProgress(int sent, int left);
    void onFinished(int outcome, int sent, int total);
    void close();

    PasteQueue *m_queue;
    QLabel *m_message;
    QPushButton *m_send;
    QPushButton *m_cancel;
    QPushButton *m_stop;
    QPushButton *m_close;
};
