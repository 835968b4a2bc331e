// SPDX-License-Identifier: MIT
#include "protocol/EventBuilder.h"

#include "protocol/EventCodes.h"

using EventCode::bytes;

namespace Protocol {

namespace {

QByteArray presence(QByteArrayView head, QByteArrayView name, QByteArrayView flags)
{
    QByteArray line;
    line.reserve(head.size() + name.size() + flags.size() + 3);
    line.append(head).append(name).append(' ').append(flags).append("\r\n");
    return line;
}

QByteArray message(QByteArrayView head, QByteArrayView name, QByteArrayView flags, QByteArrayView text)
{
    QByteArray line;
    line.reserve(head.size() + name.size() + flags.size() + text.size() + 6);
    line.append(head).append(name).append(' ').append(flags);
    line.append(" \"").append(text).append("\"\r\n");
    return line;
}

QByteArray quoted(QByteArrayView head, QByteArrayView text)
{
    QByteArray line;
    line.reserve(head.size() + text.size() + 4);
    line.append(head).append('"').append(text).append("\"\r\n");
    return line;
}

} // namespace

QByteArray userLine(QByteArrayView name, QByteArrayView flags)
{
    return presence(bytes(EventCode::User.head), name, flags);
}

QByteArray joinLine(QByteArrayView name, QByteArrayView flags)
{
    return presence(bytes(EventCode::Join.head), name, flags);
}

QByteArray leaveLine(QByteArrayView name, QByteArrayView flags)
{
    return presence(bytes(EventCode::Leave.head), name, flags);
}

QByteArray whisperLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text)
{
    return message(bytes(EventCode::Whisper.head), name, flags, text);
}

QByteArray talkLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text)
{
    return message(bytes(EventCode::Talk.head), name, flags, text);
}

QByteArray emoteLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text)
{
    return message(bytes(EventCode::Emote.head), name, flags, text);
}

QByteArray channelLine(QByteArrayView channel)
{
    return quoted(bytes(EventCode::Channel.head), channel);
}

QByteArray infoLine(QByteArrayView text)
{
    return quoted(bytes(EventCode::Info.head), text);
}

QByteArray errorLine(QByteArrayView text)
{
    return quoted(bytes(EventCode::Error.head), text);
}

} // namespace Protocol
