// SPDX-License-Identifier: MIT
#include "Names.h"

#include <QList>

namespace Names {

bool isAnonymousName(QByteArrayView name)
{
    return name == "Anonymous" || name == "anonymous" || name == "Guest" || name == "guest";
}

QByteArray nameProblem(QByteArrayView name)
{
    if (name.isEmpty())
        return "Please enter a user name.";
    if (name.size() > kMaxNameLength)
        return "That user name is too long.";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return "User names cannot contain spaces or control characters.";
        if (byte > 0x7F)
            return "User names can only use plain ASCII letters, digits and punctuation.";
        if (c == '"')
            return "User names cannot contain double quotes.";
    }
    return {};
}

QByteArray foldCase(QByteArrayView name)
{
    return name.toByteArray().toLower();
}

std::optional<QHash<QByteArray, QByteArray>> parseAccounts(QByteArrayView content, QString *error)
{
    QHash<QByteArray, QByteArray> accounts;
    const QList<QByteArray> lines = content.toByteArray().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon < 0 || !nameProblem(name).isEmpty()) {
            if (error)
                *error = QStringLiteral("line %1: expected name:password").arg(i + 1);
            return std::nullopt;
        }
        accounts.insert(name, line.mid(colon + 1));
    }
    return accounts;
}

} // namespace Names
