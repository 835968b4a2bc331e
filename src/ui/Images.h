// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, compiled in as Qt resources.
QIcon appIcon();
QPixmap mainCornerPicture();   // 68 x 68, top-left corner of the main window
QPixmap dialogCornerPicture(); // 97 x 40, top-left corner of the dialogs
