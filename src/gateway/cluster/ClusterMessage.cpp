// SPDX-License-Identifier: MIT
#include "ClusterMessage.h"

#include <QtEndian>

namespace {

constexpr QByteArrayView kMagic = "VKC";
constexpr qsizetype kMaxFlagsSize = 8;
constexpr quint8 kLastKind = quint8(ClusterMessage::Kind::BanList);

bool isUserName(QByteArrayView name)
{
    if (name.isEmpty() || name.size() > ClusterMessage::kMaxNameSize)
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '"')
            return false;
    }
    return true;
}

// Channel names are raw bytes, but nothing that could end or split a line.
bool isChannelName(QByteArrayView name)
{
    if (name.isEmpty() || name.size() > ClusterMessage::kMaxNameSize)
        return false;
    for (const char c : name) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

bool isFlags(QByteArrayView flags)
{
    if (flags.isEmpty() || flags.size() > kMaxFlagsSize)
        return false;
    for (const char c : flags) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Whole lines only: every '\n' follows a '\r', every '\r' precedes a '\n', no NUL.
bool isLines(QByteArrayView payload)
{
    if (payload.size() < 2 || !payload.endsWith("\r\n"))
        return false;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        if (c == '\0')
            return false;
        if (c == '\r' && (i + 1 >= payload.size() || payload[i + 1] != '\n'))
            return false;
        if (c == '\n' && (i == 0 || payload[i - 1] != '\r'))
            return false;
    }
    return true;
}

// Which fields a kind carries; the rest must be empty.
struct Shape
{
    bool channel = false, user = false, target = false, flags = false, payload = false;
    bool optionalUser = false, members = false;
};

Shape shapeOf(ClusterMessage::Kind kind)
{
    using K = ClusterMessage::Kind;
    switch (kind) {
    case K::Hello:
    case K::Bye:
    case K::Heartbeat:
    case K::SnapshotRequest:
        return {};
    case K::Snapshot:
        return {.flags = true, .members = true};
    case K::Join:
    case K::Leave:
        return {.channel = true, .user = true, .flags = true};
    case K::ChannelLine:
        return {.channel = true, .payload = true, .optionalUser = true};
    case K::Whisper:
        return {.user = true, .target = true, .payload = true};
    case K::Kick:
    case K::Ban:
        return {.channel = true, .user = true, .target = true, .payload = true};
    case K::BanListRequest:
        return {.channel = true};
    case K::BanList:
        return {.channel = true, .members = true};
    }
    return {};
}

QByteArray fieldProblem(const ClusterMessage &m)
{
    if (const QByteArray problem = nodeNameProblem(m.origin); !problem.isEmpty())
        return "origin: " + problem;
    if (m.seq == 0)
        return "sequence number 0";
    const Shape shape = shapeOf(m.kind);
    if (shape.channel ? !isChannelName(m.channel) : !m.channel.isEmpty())
        return "bad channel";
    const bool wantUser = shape.user || (shape.optionalUser && !m.user.isEmpty());
    if (wantUser ? !isUserName(m.user) : !m.user.isEmpty())
        return "bad user";
    if (shape.target ? !isUserName(m.target) : !m.target.isEmpty())
        return "bad target";
    if (shape.flags ? !isFlags(m.flags) : !m.flags.isEmpty())
        return "bad flags";
    if (shape.payload ? !isLines(m.payload) : !m.payload.isEmpty())
        return "bad payload";
    if (!shape.members && !m.members.isEmpty())
        return "unexpected members";
    for (const ClusterMember &member : m.members) {
        if (!isUserName(member.user) || !isChannelName(member.channel) || !isFlags(member.flags))
            return "bad member";
    }
    return {};
}

void putShort(QByteArray &out, QByteArrayView bytes)
{
    out.append(char(bytes.size())).append(bytes);
}

template <typename T>
void putNumber(QByteArray &out, T value)
{
    char buffer[sizeof(T)];
    qToBigEndian(value, buffer);
    out.append(buffer, sizeof(T));
}

// Reads from a view, remembering the first failure.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    template <typename T>
    T number()
    {
        if (!take(sizeof(T)))
            return 0;
        return qFromBigEndian<T>(m_bytes.data() + m_pos - qsizetype(sizeof(T)));
    }
    QByteArray bytes(qsizetype size)
    {
        if (!take(size))
            return {};
        return m_bytes.sliced(m_pos - size, size).toByteArray();
    }
    QByteArray shortBytes() { return bytes(number<quint8>()); }
    bool failed() const { return m_failed; }
    bool atEnd() const { return m_pos == m_bytes.size(); }

private:
    bool take(qsizetype size)
    {
        if (m_failed || size > m_bytes.size() - m_pos) {
            m_failed = true;
            return false;
        }
        m_pos += size;
        return true;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    bool m_failed = false;
};

ClusterDecodeResult rejected(QByteArray problem)
{
    return {std::nullopt, std::move(problem)};
}

} // namespace

QByteArray nodeNameProblem(QByteArrayView node)
{
    if (node.isEmpty())
        return "empty node name";
    if (node.size() > ClusterMessage::kMaxNameSize)
        return "node name longer than 64 bytes";
    for (const char c : node) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                || c == '_' || c == '-';
        if (!ok)
            return "node names use only letters, digits, '_' and '-'";
    }
    return {};
}

QByteArray encodeClusterMessage(const ClusterMessage &m)
{
    if (m.version != ClusterMessage::kVersion || quint8(m.kind) == 0 || quint8(m.kind) > kLastKind
        || !fieldProblem(m).isEmpty() || m.members.size() > 0xFFFF)
        return {};
    QByteArray out;
    out.reserve(64 + m.payload.size() + m.members.size() * 24);
    out.append(kMagic).append(char(m.version)).append(char(m.kind));
    putNumber<quint64>(out, m.incarnation);
    putNumber<quint64>(out, m.seq);
    putShort(out, m.origin);
    putShort(out, m.channel);
    putShort(out, m.user);
    putShort(out, m.target);
    putShort(out, m.flags);
    putNumber<quint32>(out, quint32(m.payload.size()));
    out.append(m.payload);
    putNumber<quint16>(out, quint16(m.members.size()));
    for (const ClusterMember &member : m.members) {
        putShort(out, member.user);
        putShort(out, member.channel);
        putShort(out, member.flags);
    }
    if (out.size() > ClusterMessage::kMaxSize)
        return {};
    return out;
}

ClusterDecodeResult decodeClusterMessage(QByteArrayView bytes)
{
    if (bytes.size() > ClusterMessage::kMaxSize)
        return rejected("oversized: " + QByteArray::number(bytes.size()) + " bytes");
    if (!bytes.startsWith(kMagic))
        return rejected("not a gateway message");
    Reader in(bytes.sliced(kMagic.size()));
    ClusterMessage m;
    m.version = in.number<quint8>();
    if (!in.failed() && m.version != ClusterMessage::kVersion)
        return rejected("unknown version " + QByteArray::number(m.version));
    const quint8 kind = in.number<quint8>();
    if (!in.failed() && (kind == 0 || kind > kLastKind))
        return rejected("unknown kind " + QByteArray::number(kind));
    m.kind = ClusterMessage::Kind(kind);
    m.incarnation = in.number<quint64>();
    m.seq = in.number<quint64>();
    m.origin = in.shortBytes();
    m.channel = in.shortBytes();
    m.user = in.shortBytes();
    m.target = in.shortBytes();
    m.flags = in.shortBytes();
    m.payload = in.bytes(in.number<quint32>());
    const quint16 count = in.number<quint16>();
    // Members are appended as they are read, so a count that promises more than is left costs nothing.
    for (quint16 i = 0; i < count && !in.failed(); ++i) {
        ClusterMember member;
        member.user = in.shortBytes();
        member.channel = in.shortBytes();
        member.flags = in.shortBytes();
        if (!in.failed())
            m.members.append(std::move(member));
    }
    if (in.failed())
        return rejected("truncated");
    if (!in.atEnd())
        return rejected("trailing bytes");
    if (QByteArray problem = fieldProblem(m); !problem.isEmpty())
        return rejected(std::move(problem));
    return {std::move(m), {}};
}
