// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// One message between gateways. Binary, big-endian, versioned:
//
//   "VKC" version:u8 kind:u8 incarnation:u64 seq:u64
//   origin:u8+bytes channel:u8+bytes user:u8+bytes target:u8+bytes flags:u8+bytes
//   payload:u32+bytes members:u16 count, each user:u8+bytes channel:u8+bytes flags:u8+bytes
//
// Decoding is strict: anything that is not exactly what encode() writes is
// rejected with a reason, so a stray or hostile message is never relayed.
struct ClusterMember
{
    QByteArray user;
    QByteArray channel;
    QByteArray flags;

    friend bool operator==(const ClusterMember &, const ClusterMember &) = default;
};

struct ClusterMessage
{
    enum class Kind : quint8 {
        Hello = 1,        // a node starts (presence subject)
        Bye,              // a node stops cleanly (presence subject)
        Heartbeat,        // a node is alive (presence subject)
        SnapshotRequest,  // "tell me your users" (presence or node subject)
        Snapshot,         // users of the origin node, in members; flags: parts still to come, "0" last
        Join,             // user entered channel (presence subject)
        Leave,            // user left channel (presence subject)
        ChannelLine,      // payload goes to every member of channel; user is the author, if any
        Whisper,          // payload goes to target, a user of the receiving node; user is the sender
        Kick,             // user (operator) moved target out of channel; payload is the notice
        Ban,              // as Kick, and target may not come back while the channel is in use
        BanListRequest,   // a node's first member entered channel: who is banned there? (channel subject)
        BanList,          // answer: banned users of channel, in members (their channel: the same, flags "0")
    };
    static constexpr quint8 kVersion = 1;
    static constexpr qsizetype kMaxSize = 64 * 1024;
    static constexpr qsizetype kMaxNameSize = 64;

    quint8 version = kVersion;
    Kind kind = Kind::Heartbeat;
    quint64 incarnation = 0; // random per link start: tells a restarted node from its former self
    quint64 seq = 0;         // per origin incarnation and subject, from 1
    QByteArray origin;       // node name
    QByteArray channel;
    QByteArray user;
    QByteArray target;
    QByteArray flags;        // digits: of user for Join and Leave, as in the event lines
    QByteArray payload;      // complete event lines, each ending in "\r\n"
    QList<ClusterMember> members;

    friend bool operator==(const ClusterMessage &, const ClusterMessage &) = default;
};

struct ClusterDecodeResult
{
    std::optional<ClusterMessage> message;
    QByteArray problem; // why it was rejected, when message is empty
};

// Empty when the message breaks a rule decode() enforces (the sender's bug).
QByteArray encodeClusterMessage(const ClusterMessage &message);
ClusterDecodeResult decodeClusterMessage(QByteArrayView bytes);

// Why a value cannot be a node name, or an empty string: 1 to 64 of [A-Za-z0-9_-],
// so that it fits in a subject as one token.
QByteArray nodeNameProblem(QByteArrayView node);
