// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>

// The windows were designed in "MS Sans Serif", which is rarely installed
// outside Windows; the style hint lets the system's sans font stand in.
inline QFont designFont(double pointSize, bool bold = false)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

inline const QColor kLightGrey(192, 192, 192);

inline void setColours(QWidget *widget, QPalette::ColorRole background, const QColor &back,
                       QPalette::ColorRole foreground, const QColor &fore)
{
    QPalette palette = widget->palette();
    palette.setColor(background, back);
    palette.setColor(foreground, fore);
    widget->setPalette(palette);
}

// Black text on white, as the panes, lists and entry boxes are drawn. Both
// are set, so the text reads whatever the system palette is.
inline void blackOnWhite(QWidget *widget)
{
    setColours(widget, QPalette::Base, Qt::white, QPalette::Text, Qt::black);
}

// A label on the main window's light grey: black text, which reads there under
// any system palette; the grey fills the label when it is opaque.
inline void blackOnLightGrey(QWidget *label)
{
    setColours(label, QPalette::Window, kLightGrey, QPalette::WindowText, Qt::black);
}
