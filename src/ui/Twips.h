// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QWidget>

#include <cmath>

// Geometry is kept in twips, as the window designs give it, and converted
// here only, where a widget is placed.
inline constexpr double kTwipsPerPixel = 15.0;

struct TwipsRect {
    double left, top, width, height;
};

inline int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline double pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

inline QRect twipsRect(double left, double top, double width, double height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

inline void placeTwips(QWidget *widget, double left, double top, double width, double height)
{
    widget->setGeometry(twipsRect(left, top, width, height));
}
