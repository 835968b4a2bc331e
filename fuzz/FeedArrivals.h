// SPDX-License-Identifier: MIT
#pragma once

#include "session/ChatLink.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

// Cuts a fuzzer input into arrivals of arbitrary sizes and feeds them to the
// link, then ends any unfinished line so that each input starts from a clean framer.
inline void feedArrivals(ChatLink *link, const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, input.remaining_bytes());
        const std::string arrival = input.ConsumeBytesAsString(length);
        link->feedBytesForTesting(QByteArrayView(arrival.data(), qsizetype(arrival.size())));
    }
    link->feedBytesForTesting("\n");
}
