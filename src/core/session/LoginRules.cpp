// SPDX-License-Identifier: MIT
#include "session/LoginRules.h"

#include <QStringList>

bool isAnonymousName(const QString &name)
{
    static const QStringList anonymous = {QStringLiteral("Anonymous"), QStringLiteral("anonymous"),
                                          QStringLiteral("Guest"), QStringLiteral("guest")};
    return anonymous.contains(name, Qt::CaseSensitive);
}

LoginCheck checkLogin(const QString &name, const QString &password)
{
    if (name.isEmpty())
        return LoginCheck::MissingName;
    if (!isAnonymousName(name) && password.isEmpty())
        return LoginCheck::MissingPassword;
    return LoginCheck::Accepted;
}
