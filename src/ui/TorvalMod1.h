// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <functional>

class QWidget;

// The layout profile chosen at first start: 0 none yet, 640, 800, 1024, or
// any other value for the "Higher" profile (stored as 1200).
extern qint16 ScreenSize;

namespace TorvalMod1 {
// The program's entry: shows the main window, or the resolution dialog first
// when no profile is stored. Returns the window it showed.
QWidget *Main();
// Opens the main window, maximized.
QWidget *showMainWindow();
} // namespace TorvalMod1

// Ends the program at once: nothing more is sent or saved.
void endProgram();
void setEndProgramForTesting(std::function<void()> action);
