// SPDX-License-Identifier: MIT
// Arbitrary bytes as a message from another gateway: decoding never crashes,
// and whatever it accepts encodes back to exactly the same bytes, so nothing
// is accepted that the program itself would not have sent.
#include "ClusterMessage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const ClusterDecodeResult decoded = decodeClusterMessage(bytes);
    if (decoded.message) {
        if (encodeClusterMessage(*decoded.message) != bytes)
            std::abort();
    } else if (decoded.problem.isEmpty()) {
        std::abort();
    }
    return 0;
}
