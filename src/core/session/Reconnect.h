// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QTimer>

// Seconds to wait before a numbered try to connect again (0 the first):
// 2, 4, 8 ... doubling, never more than 60.
int reconnectDelaySeconds(int attempt);

// Paces the tries to get a lost link back: each schedule() arms the next
// try after a longer wait, until succeeded() or stop().
class Reconnector : public QObject
{
    Q_OBJECT

public:
    explicit Reconnector(QObject *parent = nullptr);

    // Between a lost link and the login that brought it back (or stop()).
    bool isActive() const { return m_active; }
    // Arms the next try; returns its wait in seconds.
    int schedule();
    void succeeded() { stop(); }
    void stop();

signals:
    void attemptDue();

private:
    QTimer m_timer;
    int m_attempt = 0;
    bool m_active = false;
};
