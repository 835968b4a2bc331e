// SPDX-License-Identifier: MIT
#include "LoginGate.h"

#include <QPointer>

LoginGate::LoginGate(Accounts accounts, const Options &options, Clock clock, QObject *parent)
    : QObject(parent),
      m_verifier(std::move(accounts), options.maxParallelChecks, options.maxQueuedChecks),
      m_throttle(options.throttle),
      m_clock(std::move(clock))
{
    m_elapsed.start();
}

void LoginGate::check(QObject *context, const QHostAddress &address, const QByteArray &name,
                      const QByteArray &password, Done done)
{
    if (const qint64 wait = m_throttle.admit(address, name, now()); wait > 0) {
        const qint64 seconds = (wait + 999) / 1000;
        answerLater(context, std::move(done),
                    {Result::Throttled, kThrottled.toByteArray().replace("%1", QByteArray::number(seconds)),
                     QStringLiteral("throttled for %1 s after failed logins").arg(seconds)});
        return;
    }
    const bool known = accounts().find(name) != nullptr;
    m_verifier.verify(name, password, context,
                      [this, address, name, known, done = std::move(done)](PasswordVerifier::Verdict verdict) {
                          switch (verdict) {
                          case PasswordVerifier::Verdict::Accepted:
                              m_throttle.recordSuccess(address, name, now());
                              done({Result::Accepted, {}, {}});
                              break;
                          case PasswordVerifier::Verdict::Refused:
                              m_throttle.recordFailure(address, name, now());
                              done({Result::Refused, kIncorrect.toByteArray(),
                                    known ? QStringLiteral("wrong password") : QStringLiteral("no such account")});
                              break;
                          case PasswordVerifier::Verdict::Busy:
                              m_throttle.release(address, name, now());
                              done({Result::Busy, kBusy.toByteArray(),
                                    QStringLiteral("too many password checks waiting")});
                              break;
                          }
                      });
}

void LoginGate::answerLater(QObject *context, Done done, Verdict verdict)
{
    QMetaObject::invokeMethod(
            this,
            [context = QPointer<QObject>(context), done = std::move(done), verdict = std::move(verdict)] {
                if (context)
                    done(verdict);
            },
            Qt::QueuedConnection);
}
