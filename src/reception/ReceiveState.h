// SPDX-License-Identifier: MIT
#pragma once

// What the receive path keeps between arrivals (the partial line, the lines
// waiting for the next slice). Owned by the main window.
struct ReceiveState {
};
