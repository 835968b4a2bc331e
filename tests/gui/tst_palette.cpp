// SPDX-License-Identifier: MIT
// Every window under a dark and a light system palette: each control that
// shows text paints it with a contrast ratio of at least 4.5 (the WCAG level
// for body text) against what it paints behind it. Both colours are measured
// in pictures of the window, taken with the control's text and without it.
#include "support/TestSupport.h"
#include "ui/Dialogs.h"
#include "ui/FrmChannel.h"
#include "ui/FrmLogin.h"
#include "ui/FrmOpt.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"
#include "ui/frmAbout.h"
#include "ui/frmHelp.h"
#include "ui/frmServers.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStyle>

#include <cmath>

namespace {

constexpr double kMinimumContrast = 4.5;

double luminance(QRgb colour)
{
    auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) + 0.0722 * linear(qBlue(colour));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Shows a control's text (true) or hides it (false); empty for a control
// without text. An empty entry box gets a sample, as typing would.
std::function<void(bool)> textSwitch(QWidget *control)
{
    if (auto *label = qobject_cast<QLabel *>(control); label && !label->text().isEmpty())
        return [label, text = label->text()](bool on) { label->setText(on ? text : QString()); };
    if (auto *button = qobject_cast<QAbstractButton *>(control); button && !button->text().isEmpty())
        return [button, text = button->text()](bool on) { button->setText(on ? text : QString()); };
    if (auto *group = qobject_cast<QGroupBox *>(control); group && !group->title().isEmpty())
        return [group, text = group->title()](bool on) { group->setTitle(on ? text : QString()); };
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        if (edit->text().isEmpty())
            edit->setText(QStringLiteral("Sample"));
        return [edit, text = edit->text()](bool on) { edit->setText(on ? text : QString()); };
    }
    if (auto *pane = qobject_cast<QPlainTextEdit *>(control); pane && !pane->toPlainText().isEmpty())
        return [pane, text = pane->toPlainText()](bool on) { pane->setPlainText(on ? text : QString()); };
    if (auto *list = qobject_cast<QListWidget *>(control); list && list->count() > 0) {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return [list, texts](bool on) {
            for (int row = 0; row < list->count(); ++row)
                list->item(row)->setText(on ? texts.value(row) : QString());
        };
    }
    return {};
}

QImage picture(QWidget *window, const QRect &area)
{
    QCoreApplication::sendPostedEvents();
    return window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
}

struct Reading {
    double ratio = 1;
    QRgb text = 0;
    QRgb back = 0;
};

// The pixels that change when the text goes are the text; behind them is the
// colour most of them show without it, and the text's own colour is the one
// that stands out most from it (edge pixels are blends of the two).
Reading readControl(QWidget *window, QWidget *control, const std::function<void(bool)> &showText)
{
    control->setFixedSize(control->size()); // an emptied text must not move anything
    const QRect area = QRect(control->mapTo(window, QPoint(0, 0)), control->size()) & window->rect();
    const QImage with = picture(window, area);
    showText(false);
    const QImage without = picture(window, area);
    showText(true);

    QHash<QRgb, int> behind;
    QList<QPoint> changed;
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            if (with.pixel(x, y) != without.pixel(x, y)) {
                changed << QPoint(x, y);
                ++behind[without.pixel(x, y)];
            }
        }
    }
    Reading reading;
    if (changed.isEmpty())
        return reading; // the text was painted in the colour behind it
    reading.back = std::max_element(behind.keyValueBegin(), behind.keyValueEnd(),
                                    [](auto a, auto b) { return a.second < b.second; })->first;
    for (const QPoint &p : changed) {
        const double ratio = contrast(with.pixel(p), reading.back);
        if (ratio >= reading.ratio) {
            reading.ratio = ratio;
            reading.text = with.pixel(p);
        }
    }
    return reading;
}

// The controls of a shown window whose text is hard to read, and how many were read.
QStringList unreadable(QWidget *window, int *read)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return {QStringLiteral("window never shown")};
    QStringList failures;
    *read = 0;
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (!control->isVisibleTo(window) || !control->isEnabled() || control->size().isEmpty())
            continue; // disabled controls are exempt, as WCAG exempts inactive components
        const std::function<void(bool)> showText = textSwitch(control);
        if (!showText)
            continue;
        ++*read;
        const Reading r = readControl(window, control, showText);
        if (r.ratio < kMinimumContrast) {
            failures << QStringLiteral("%1 (%2): %3, text %4 on %5")
                            .arg(control->objectName(), QLatin1String(control->metaObject()->className()))
                            .arg(r.ratio, 0, 'f', 2)
                            .arg(QColor(r.text).name(), QColor(r.back).name());
        }
    }
    return failures;
}

QWidget *openWindow(const QString &name, TorvalMain *main)
{
    if (name == QLatin1String("TorvalMain")) {
        main->resize(1024, 768); // the profile's screen; smaller squeezes controls to nothing
        return main;
    }
    if (name == QLatin1String("FrmLogin"))
        return new FrmLogin(main);
    if (name == QLatin1String("frmServers"))
        return new frmServers(nullptr);
    if (name == QLatin1String("FrmChannel"))
        return new FrmChannel(main);
    if (name == QLatin1String("FrmOpt"))
        return new FrmOpt;
    if (name == QLatin1String("frmAbout"))
        return new frmAbout;
    if (name == QLatin1String("frmHelp"))
        return new frmHelp;
    return nullptr;
}

} // namespace

class tst_palette : public QObject
{
    Q_OBJECT

    TestStore store;
    TestListFolder lists;
    QPalette systemPalette;

private slots:
    void initTestCase()
    {
        systemPalette = QApplication::palette();
        ScreenSize = 1024;
        lists.write("Servers.txt", "127.0.0.1\r\nchat.example.org\r\n");
        lists.write("Channels.txt", "Lobby\r\nPublic Chat 1\r\n");
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
        QApplication::setPalette(systemPalette);
    }

    void textReadsOnItsBackground_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("dark");
        for (const char *window : {"TorvalMain", "FrmLogin", "frmServers", "FrmChannel", "FrmOpt",
                                   "frmAbout", "frmHelp", "MsgBox", "InputBox"}) {
            QTest::addRow("%s, dark", window) << QString::fromLatin1(window) << true;
            QTest::addRow("%s, light", window) << QString::fromLatin1(window) << false;
        }
    }

    void textReadsOnItsBackground()
    {
        QFETCH(QString, window);
        QFETCH(bool, dark);
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        TorvalMain main;
        QStringList failures;
        int read = 0;
        if (window == QLatin1String("MsgBox")) {
            onModal("QMessageBox", [&](QWidget *box) { failures = unreadable(box, &read); box->close(); });
            MsgBox(&main, QStringLiteral("Must Enter a Username to Login"));
        } else if (window == QLatin1String("InputBox")) {
            onModal("QInputDialog", [&](QWidget *box) { failures = unreadable(box, &read); box->close(); });
            InputBox(&main, QStringLiteral("Idle message"), QStringLiteral("Idle"));
        } else {
            QPointer<QWidget> w = openWindow(window, &main);
            failures = unreadable(w, &read);
            if (w != &main)
                delete w.data();
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
        QVERIFY(read > 0);
    }
};

QTEST_MAIN(tst_palette)
#include "tst_palette.moc"
