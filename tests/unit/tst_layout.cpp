// SPDX-License-Identifier: MIT
// What the layout profiles promise, checked on their outcomes: sizes never go
// below zero, extra width goes to the panes and the list follows the right
// edge, extra height goes to the panes while the input row stays at the
// bottom, and the whisper pane never runs under the input line.
#include "layout/Layout.h"

#include <QMap>
#include <QTest>

using P = LayoutProperty;
using C = LayoutControl;

namespace {
using Geometry = QMap<QPair<int, int>, double>;

// The geometry a plan leaves behind: the last value written to each property.
Geometry settle(const LayoutPlan &plan)
{
    Geometry result;
    for (const LayoutAssignment &a : plan)
        result[{int(a.control), int(a.property)}] = a.value;
    return result;
}

double at(const Geometry &g, C control, P property)
{
    const auto key = qMakePair(int(control), int(property));
    if (!g.contains(key))
        qFatal("the plan leaves control %d property %d alone", int(control), int(property));
    return g.value(key);
}

// How much each of these properties moved between two plans.
QList<double> moved(const Geometry &from, const Geometry &to, const QList<QPair<C, P>> &which)
{
    QList<double> out;
    for (const auto &[control, property] : which)
        out << at(to, control, property) - at(from, control, property);
    return out;
}

const QList<int> kProfiles = {640, 800, 1024, 1200};
} // namespace

class tst_layout : public QObject
{
    Q_OBJECT

    static void addProfileRows()
    {
        QTest::addColumn<int>("profile");
        QTest::addColumn<double>("W");
        QTest::addColumn<double>("H");
        for (const int profile : kProfiles)
            for (const auto &[w, h] : {std::pair{12000.0, 9000.0}, {14000.0, 11000.0}, {24000.0, 18000.0}})
                QTest::addRow("%d at %.0fx%.0f", profile, w, h) << profile << w << h;
    }

private slots:
    void sizesNeverNegative_data()
    {
        addProfileRows();
        for (const int profile : kProfiles)
            QTest::addRow("%d, tiny", profile) << profile << 1000.0 << 800.0;
    }
    void sizesNeverNegative()
    {
        QFETCH(int, profile);
        QFETCH(double, W);
        QFETCH(double, H);
        for (const LayoutAssignment &a : layoutForWindow(qint16(profile), W, H)) {
            if (a.property == P::Width || a.property == P::Height)
                QVERIFY2(a.value >= 0, qPrintable(QString::number(int(a.control))));
        }
    }

    void extraWidthGoesToThePanes_data() { addProfileRows(); }
    void extraWidthGoesToThePanes()
    {
        QFETCH(int, profile);
        QFETCH(double, W);
        QFETCH(double, H);
        const double extra = 1500;
        const Geometry narrow = settle(layoutForWindow(qint16(profile), W, H));
        const Geometry wide = settle(layoutForWindow(qint16(profile), W + extra, H));
        QCOMPARE(moved(narrow, wide, {{C::Text1, P::Width}, {C::Text2, P::Width}, {C::Text3, P::Width}}),
                 QList<double>(3, extra));
        // The list and the buttons under it keep their place at the right edge.
        QCOMPARE(moved(narrow, wide, {{C::Roomlist, P::Left}, {C::Channel, P::Left}, {C::Send, P::Left}}),
                 QList<double>(3, extra));
        QCOMPARE(moved(narrow, wide, {{C::Connect, P::Left}, {C::Quit, P::Left}}), QList<double>(2, 0.0));
    }

    void extraHeightGoesToThePanes_data() { addProfileRows(); }
    void extraHeightGoesToThePanes()
    {
        QFETCH(int, profile);
        QFETCH(double, W);
        QFETCH(double, H);
        const double extra = 1500;
        const Geometry low = settle(layoutForWindow(qint16(profile), W, H));
        const Geometry tall = settle(layoutForWindow(qint16(profile), W, H + extra));
        // The input row stays at the bottom edge; the panes take the rest.
        QCOMPARE(moved(low, tall, {{C::Text1, P::Top}, {C::Send, P::Top}}), QList<double>(2, extra));
        const QList<double> panes = moved(low, tall, {{C::Text2, P::Height}, {C::Text3, P::Height}});
        QVERIFY(panes[0] > 0);
        QVERIFY(panes[1] >= 0);
        QCOMPARE(moved(low, tall, {{C::Connect, P::Top}}), QList<double>{0.0});
    }

    void whisperPaneEndsAboveTheInputLine_data() { addProfileRows(); }
    void whisperPaneEndsAboveTheInputLine()
    {
        QFETCH(int, profile);
        QFETCH(double, W);
        QFETCH(double, H);
        const Geometry g = settle(layoutForWindow(qint16(profile), W, H));
        QVERIFY(at(g, C::Text3, P::Top) + at(g, C::Text3, P::Height) <= at(g, C::Text1, P::Top));
        QCOMPARE(at(g, C::Text1, P::Top), at(g, C::Send, P::Top));
    }

    // Every screen size the three named profiles do not take gets the same plan.
    void otherScreensShareOneProfile_data()
    {
        QTest::addColumn<int>("profile");
        for (const int profile : {1200, 2, -1, 0, 1023})
            QTest::addRow("%d", profile) << profile;
    }
    void otherScreensShareOneProfile()
    {
        QFETCH(int, profile);
        QCOMPARE(settle(layoutForProfile(qint16(profile), 12000, 9000)), settle(layoutForProfile(1600, 12000, 9000)));
        QVERIFY(settle(layoutForProfile(qint16(profile), 12000, 9000)) != settle(layoutForProfile(800, 12000, 9000)));
    }
};

QTEST_APPLESS_MAIN(tst_layout)
#include "tst_layout.moc"
