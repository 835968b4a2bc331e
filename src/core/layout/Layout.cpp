// SPDX-License-Identifier: MIT
#include "layout/Layout.h"

#include <algorithm>

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
    using C = LayoutControl;
    LayoutPlan plan;
    plan.reserve(37);
    auto set = [&plan](LayoutControl control, P property, double value) {
        if (property == P::Width || property == P::Height)
            value = std::max(value, 0.0);
        plan.push_back({control, property, value});
    };

    for (LayoutControl control : {C::Connect, C::Disconnect, C::cmdChannel, C::About, C::Quit})
        set(control, P::Left, L + 120);
    for (LayoutControl control : {C::Text3, C::Text2, C::Text1})
        set(control, P::Width, W - 5175);
    set(C::lblTitle, P::Width, W - 135);
    set(C::Channel, P::Left, W - 3390);
    for (LayoutControl control : {C::Roomlist, C::Slap, C::Squelch, C::Whisper})
        set(control, P::Left, W - 3150);
    set(C::Send, P::Left, W - 3270);
    for (LayoutControl control : {C::Kick, C::UnSquelch, C::Whois})
        set(control, P::Left, W - 1710);
    set(C::Ban, P::Left, W - 2430);

    set(C::Connect, P::Top, T + 915);
    set(C::Disconnect, P::Top, H / 2 - p.disconnectTop);
    set(C::cmdChannel, P::Top, H / 2 - 430);
    set(C::About, P::Top, H / 2 + p.aboutTop);
    set(C::Quit, P::Top, H - 1530);

    const double text3Top = p.text3TopFromMiddle ? H / 2 + 690 : H - 3000;
    if (p.text3TopFirst) {
        set(C::Text3, P::Top, text3Top);
        set(C::Text3, P::Height, H - p.text3Height);
    } else {
        set(C::Text3, P::Height, H - p.text3Height);
        set(C::Text3, P::Top, text3Top);
    }
    set(C::Text2, P::Height, H - p.text2Bottom);
    set(C::Text1, P::Top, H - 930);
    set(C::Roomlist, P::Height, H - 4620);

    const double sendTop = H - 930;
    set(C::Send, P::Top, sendTop);
    set(C::Whisper, P::Top, sendTop - 600);
    set(C::Whois, P::Top, sendTop - 600);
    set(C::Ban, P::Top, sendTop - 1080);
    set(C::Squelch, P::Top, sendTop - 1560);
    set(C::UnSquelch, P::Top, sendTop - 1560);
    set(C::Slap, P::Top, sendTop - 2160);
    set(C::Kick, P::Top, sendTop - 2160);
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
        using C = LayoutControl;
        const LayoutControl control = a.control;
        if (control == C::Text3 && a.property == LayoutProperty::Top)
            text3Top = a.value;
        else if (control == C::Text3 && a.property == LayoutProperty::Height)
            text3Height = a.value;
        else if (control == C::Text1 && a.property == LayoutProperty::Top)
            text1Top = a.value;
    }
    const double room = std::max(text1Top - text3Top, 0.0);
    if (text3Height > room)
        plan.push_back({LayoutControl::Text3, LayoutProperty::Height, room});
    return plan;
}
