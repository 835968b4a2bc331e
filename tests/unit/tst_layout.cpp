// SPDX-License-Identifier: MIT
#include "layout/Layout.h"

#include <QMap>
#include <QTest>

using P = LayoutProperty;
using C = LayoutControl;

namespace {
// The geometry a plan leaves behind: the last value written to each property.
QMap<QPair<int, int>, double> settle(const LayoutPlan &plan)
{
    QMap<QPair<int, int>, double> result;
    for (const LayoutAssignment &a : plan)
        result[{int(a.control), int(a.property)}] = a.value;
    return result;
}

struct Expect {
    LayoutControl control;
    P property;
    double value;
};
} // namespace
Q_DECLARE_METATYPE(QList<Expect>)

class tst_layout : public QObject
{
    Q_OBJECT

private slots:
    void profiles_data()
    {
        QTest::addColumn<int>("profile");
        QTest::addColumn<double>("W");
        QTest::addColumn<double>("H");
        QTest::addColumn<QList<Expect>>("expected");

        const QList<Expect> common800 = {
            {C::Text1, P::Width, 6825}, {C::Text2, P::Width, 6825}, {C::Text3, P::Width, 6825},
            {C::Text2, P::Height, 4925}, {C::Text3, P::Height, 2125}, {C::Text3, P::Top, 6000},
            {C::Text1, P::Top, 8070}, {C::Send, P::Top, 8070}, {C::Whisper, P::Top, 7470},
            {C::Whois, P::Top, 7470}, {C::Ban, P::Top, 6990}, {C::Squelch, P::Top, 6510},
            {C::UnSquelch, P::Top, 6510}, {C::Slap, P::Top, 5910}, {C::Kick, P::Top, 5910},
            {C::Disconnect, P::Top, 2470}, {C::cmdChannel, P::Top, 4070}, {C::Quit, P::Top, 7470},
            {C::Roomlist, P::Left, 8850}, {C::Roomlist, P::Height, 4380}, {C::Channel, P::Left, 8610},
            {C::Connect, P::Left, 120}, {C::Connect, P::Top, 915}, {C::Quit, P::Left, 120},
            {C::lblTitle, P::Width, 11865}, {C::Send, P::Left, 8730}, {C::Kick, P::Left, 10290},
            {C::Ban, P::Left, 9570}};
        QTest::newRow("800") << 800 << 12000.0 << 9000.0 << (common800 + QList<Expect>{{C::About, P::Top, 5630}});
        for (int profile : {1200, 2, -1})
            QTest::newRow(qPrintable(QStringLiteral("higher %1").arg(profile)))
                << profile << 12000.0 << 9000.0 << (common800 + QList<Expect>{{C::About, P::Top, 4830}});
        QTest::newRow("640") << 640 << 12000.0 << 7000.0
                             << QList<Expect>{{C::Text3, P::Height, 1725}, {C::Text3, P::Top, 4190},
                                              {C::Disconnect, P::Top, 1970}, {C::About, P::Top, 4190},
                                              {C::Text2, P::Height, 3125}};
        QTest::newRow("1024") << 1024 << 12000.0 << 11000.0
                              << QList<Expect>{{C::Text3, P::Top, 8000}, {C::Text3, P::Height, 1625},
                                               {C::Text2, P::Height, 6825}, {C::Disconnect, P::Top, 2970},
                                               {C::About, P::Top, 7330}};
        // Below the profile's minimum size widths and heights stop at 0;
        // positions may still go negative.
        QTest::newRow("clamped") << 800 << 4000.0 << 3000.0
                                 << QList<Expect>{{C::Text2, P::Width, 0}, {C::Text3, P::Height, 0},
                                                  {C::Roomlist, P::Height, 0}, {C::Text2, P::Height, 0},
                                                  {C::Channel, P::Left, 610}, {C::Disconnect, P::Top, -530}};
    }

    void profiles()
    {
        QFETCH(int, profile);
        QFETCH(double, W);
        QFETCH(double, H);
        QFETCH(QList<Expect>, expected);
        const LayoutPlan plan = layoutForProfile(qint16(profile), W, H);
        QCOMPARE(plan.size(), size_t(37));
        const auto geometry = settle(plan);
        for (const Expect &e : expected) {
            const auto key = qMakePair(int(e.control), int(e.property));
            QVERIFY2(geometry.contains(key), qPrintable(QString::number(int(e.control))));
            QCOMPARE(geometry.value(key), e.value);
        }
    }

    // On a tall window the whisper pane stops at the input line instead of
    // running off the bottom; where it fits, the profile's height stands.
    void whisperPaneStopsAtInputLine_data()
    {
        QTest::addColumn<int>("profile");
        QTest::addColumn<double>("H");
        QTest::addColumn<double>("height");
        QTest::newRow("higher, 1200 pixels") << 1200 << 18000.0 << 2070.0;
        QTest::newRow("1024, 768 pixels") << 1024 << 11520.0 << 2070.0;
        QTest::newRow("640 fits") << 640 << 7000.0 << 1725.0;
        QTest::newRow("800 at 8800 fits") << 800 << 8800.0 << 1925.0;
        QTest::newRow("tiny") << 800 << 1000.0 << 0.0;
    }

    void whisperPaneStopsAtInputLine()
    {
        QFETCH(int, profile);
        QFETCH(double, H);
        QFETCH(double, height);
        const auto geometry = settle(layoutForWindow(qint16(profile), 24000, H));
        QCOMPARE(geometry.value({int(C::Text3), int(P::Height)}), height);
    }
};

QTEST_APPLESS_MAIN(tst_layout)
#include "tst_layout.moc"
