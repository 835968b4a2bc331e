// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <vector>

// The four layout profiles of the main window: pure functions of the window's
// outer size (W, H, in twips) that say where each control goes. Positions are
// taken from the window's own origin, so a moved window keeps its layout.

enum class LayoutProperty { Left, Top, Width, Height };

// The main window's controls that the profiles move, by their design names.
enum class LayoutControl {
    lblTitle, Channel, Text1, Text2, Text3, Roomlist,
    Connect, Disconnect, cmdChannel, About, Quit,
    Slap, Kick, Squelch, UnSquelch, Ban, Whisper, Whois, Send,
};

struct LayoutAssignment {
    LayoutControl control;
    LayoutProperty property;
    double value;        // twips; widths and heights never below 0
};

using LayoutPlan = std::vector<LayoutAssignment>;

LayoutPlan Layout640(double W, double H);
LayoutPlan Layout800(double W, double H);
LayoutPlan Layout1024(double W, double H);
LayoutPlan LayoutHigher(double W, double H);

// 640, 800 and 1024 select their profiles; every other value the "Higher" one.
LayoutPlan layoutForProfile(qint16 screenSize, double W, double H);

// What the main window applies: the profile, then one correction. The
// profiles grow the whisper pane with the window's height while its top stays
// 3000 twips above the bottom, so on tall screens it would run under the input
// line and off the window, hiding the newest whispers; its height is limited
// so that it ends where the input line begins.
LayoutPlan layoutForWindow(qint16 screenSize, double W, double H);

// The right-edge anchor of cmdHelp and cmdIdle: their Left is W minus this.
inline constexpr double kHelpIdleFromRight = 1350;
