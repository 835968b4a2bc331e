// SPDX-License-Identifier: MIT
#include "session/ShownLines.h"

#include "reception/DisplayText.h"

#include <QCoreApplication>

std::optional<LineAlert> alertFor(const ShownLine &line)
{
    if (!line.event)
        return std::nullopt;
    const ChatEvent &event = *line.event;
    if (line.kind == ShownLine::Kind::Whisper)
        return LineAlert{LineAlert::Kind::Whisper,
                         QCoreApplication::translate("TorvalMain", "Whisper from %1").arg(displayName(event.name)),
                         event.text};
    if (line.mentionsUser)
        return LineAlert{LineAlert::Kind::Mention,
                         QCoreApplication::translate("TorvalMain", "%1 mentioned you").arg(displayName(event.name)),
                         event.text};
    return std::nullopt;
}

bool isMentionOf(const QString &userName, QStringView sender, QStringView text)
{
    return mentionsName(text, userName) && sender.compare(userName, Qt::CaseInsensitive) != 0;
}
