// SPDX-License-Identifier: MIT
#include "layout/Layout.h"

#include <algorithm>
#include <string_view>

namespace {

// What separates the profiles: the rows that depend on the height differently.
struct ProfileOffsets {
    double disconnectTop;  // Disconnect.Top = H/2 - this
    double aboutTop;       // About.Top = H/2 + this
    double text2Bottom;    // Text2.Height = H - this
    bool text3TopFirst;    // the 1024 profile sets Text3.Top before its Height
    double text3Height;    // Text3.Height = H - this
    bool text3TopFromMiddle; // 640 puts Text3 at H/2 + 690 instead of H - 3000
};

constexpr ProfileOffsets k640{1530, 690, 3875, false, 5275, true};
constexpr ProfileOffsets k800{2030, 1130, 4075, false, 6875, false};
constexpr ProfileOffsets k1024{2530, 1830, 4175, true, 9375, false};
constexpr ProfileOffsets kHigher{2030, 330, 4075, false, 6875, false};

// The window's own origin: positions never read its place on the screen.
constexpr double L = 0;
constexpr double T = 0;

LayoutPlan buildPlan(const ProfileOffsets &p, double W, double H)
{
    using P = LayoutProperty;
    LayoutPlan plan;
    plan.reserve(37);
    auto set = [&plan](const char *control, P property, double value) {
        if (property == P::Width || property == P::Height)
            value = std::max(value, 0.0);
        plan.push_back({control, property, value});
    };

    for (const char *control : {"Connect", "Disconnect", "cmdChannel", "About", "Quit"})
        set(control, P::Left, L + 120);
    for (const char *control : {"Text3", "Text2", "Text1"})
        set(control, P::Width, W - 5175);
    set("lblTitle", P::Width, W - 135);
    set("Channel", P::Left, W - 3390);
    for (const char *control : {"Roomlist", "Slap", "Squelch", "Whisper"})
        set(control, P::Left, W - 3150);
    set("Send", P::Left, W - 3270);
    for (const char *control : {"Kick", "UnSquelch", "Whois"})
        set(control, P::Left, W - 1710);
    set("Ban", P::Left, W - 2430);

    set("Connect", P::Top, T + 915);
    set("Disconnect", P::Top, H / 2 - p.disconnectTop);
    set("cmdChannel", P::Top, H / 2 - 430);
    set("About", P::Top, H / 2 + p.aboutTop);
    set("Quit", P::Top, H - 1530);

    const double text3Top = p.text3TopFromMiddle ? H / 2 + 690 : H - 3000;
    if (p.text3TopFirst) {
        set("Text3", P::Top, text3Top);
        set("Text3", P::Height, H - p.text3Height);
    } else {
        set("Text3", P::Height, H - p.text3Height);
        set("Text3", P::Top, text3Top);
    }
    set("Text2", P::Height, H - p.text2Bottom);
    set("Text1", P::Top, H - 930);
    set("Roomlist", P::Height, H - 4620);

    const double sendTop = H - 930;
    set("Send", P::Top, sendTop);
    set("Whisper", P::Top, sendTop - 600);
    set("Whois", P::Top, sendTop - 600);
    set("Ban", P::Top, sendTop - 1080);
    set("Squelch", P::Top, sendTop - 1560);
    set("UnSquelch", P::Top, sendTop - 1560);
    set("Slap", P::Top, sendTop - 2160);
    set("Kick", P::Top, sendTop - 2160);
    return plan;
}

} // namespace

LayoutPlan Layout640(double W, double H) { return buildPlan(k640, W, H); }
LayoutPlan Layout800(double W, double H) { return buildPlan(k800, W, H); }
LayoutPlan Layout1024(double W, double H) { return buildPlan(k1024, W, H); }
LayoutPlan LayoutHigher(double W, double H) { return buildPlan(kHigher, W, H); }

LayoutPlan layoutForProfile(qint16 screenSize, double W, double H)
{
    switch (screenSize) {
    case 640: return Layout640(W, H);
    case 800: return Layout800(W, H);
    case 1024: return Layout1024(W, H);
    default: return LayoutHigher(W, H);
    }
}

LayoutPlan layoutForWindow(qint16 screenSize, double W, double H)
{
    LayoutPlan plan = layoutForProfile(screenSize, W, H);
    double text3Top = 0, text3Height = 0, text1Top = 0;
    for (const LayoutAssignment &a : plan) {
        const std::string_view control(a.control);
        if (control == "Text3" && a.property == LayoutProperty::Top)
            text3Top = a.value;
        else if (control == "Text3" && a.property == LayoutProperty::Height)
            text3Height = a.value;
        else if (control == "Text1" && a.property == LayoutProperty::Top)
            text1Top = a.value;
    }
    const double room = std::max(text1Top - text3Top, 0.0);
    if (text3Height > room)
        plan.push_back({"Text3", LayoutProperty::Height, room});
    return plan;
}
