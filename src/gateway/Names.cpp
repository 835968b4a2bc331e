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

} // namespace Names
