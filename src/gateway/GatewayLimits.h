// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <sys/resource.h>

// Files the gateway needs besides client sockets: the listening socket, the
// standard streams, the event loop's own descriptors, and sockets accepted
// only to be refused.
inline constexpr int kReservedFiles = 64;

// Connections in total that fit under the open-file limit.
inline int connectionsForFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 4096;
    return int(qMax<qint64>(qint64(limit.rlim_cur) - kReservedFiles, 1));
}

// Everything one user could exhaust, with the defaults that main() documents
// in --help. The defaults leave normal chat (a person typing, a pasted page,
// a test or benchmark of 50 local clients) untouched.
struct GatewayLimits
{
    int maxConnections = connectionsForFileLimit();
    int maxPerAddress = 100;
    // Connections that have not logged in yet, per address; they also count
    // towards the two caps above.
    int maxUnfinishedPerAddress = 20;
    // The client connects first and sends its login only when the user presses
    // Login, so this must leave time to type a password.
    int loginTimeoutMs = 60 * 1000;
    // A TLS connection must finish its handshake this soon after accept.
    int tlsHandshakeTimeoutMs = 10 * 1000;

    // Sustained lines per second per user (0: no limit), and the burst a user
    // may send at once before the rate applies.
    double lineRate = 20;
    int lineBurst = 200;

    // A client whose unsent output stays above maxQueueBytes for queueGraceMs
    // is dropped. While it is above, senders in its channel wait for it, but
    // for queueHoldMs at most: a client that does not read at all must not
    // stall its channel for the whole grace.
    qint64 maxQueueBytes = 1024 * 1024;
    int queueHoldMs = 2 * 1000;
    int queueGraceMs = 10 * 1000;
    // Unsent output of all clients together; above it the client furthest
    // behind is dropped first.
    qint64 totalQueueBytes = 64 * 1024 * 1024;

    int maxBansPerChannel = 100;
};
