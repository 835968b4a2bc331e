// SPDX-License-Identifier: MIT
// Every window under a dark and a light system palette: each enabled control
// that shows text paints it with a contrast ratio of at least 4.5 (the WCAG
// level for body text) against what it paints behind it, both colours measured
// in pictures taken with the control's text and without it. The pictures of
// each window are kept in screenshots/ under the build folder, for people to look at.
#include "gui/ChatWindow.h"
#include "ui/Dialogs.h"
#include "ui/FrmChannel.h"
#include "ui/FrmLogin.h"
#include "ui/FrmOpt.h"
#include "ui/frmAbout.h"
#include "ui/frmHelp.h"
#include "ui/frmServers.h"

#include <QDir>
#include <QGroupBox>
#include <QStyle>
#include <QListWidget>
#include <QStringListModel>

#include <cmath>

namespace {

double contrast(QRgb a, QRgb b)
{
    auto luminance = [](QRgb rgb) {
        auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        const QColor c(rgb);
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Shows a control's text (true) or hides it (false); empty for a control without text.
std::function<void(bool)> textSwitch(QWidget *control)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control); edit && edit->text().isEmpty())
        edit->setText("Sample"); // as typing would
    if (auto *view = qobject_cast<QListView *>(control); view && !qobject_cast<QListWidget *>(control)) {
        QAbstractItemModel *model = view->model();
        if (!model || model->rowCount() == 0)
            return {};
        // The same rows without their text: the model itself is read-only.
        auto *blank = new QStringListModel(QStringList(model->rowCount(), QString()), view);
        return [view, model, blank](bool on) { view->setModel(on ? model : blank); };
    }
    if (auto *list = qobject_cast<QListWidget *>(control)) {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return texts.isEmpty() ? std::function<void(bool)>() : [list, texts](bool on) {
            for (int row = 0; row < list->count(); ++row)
                list->item(row)->setText(on ? texts[row] : QString());
        };
    }
    const char *property = qobject_cast<QGroupBox *>(control)        ? "title"
                           : qobject_cast<QPlainTextEdit *>(control) ? "plainText"
                                                                     : "text";
    const QString text = control->property(property).toString();
    if (text.isEmpty())
        return {};
    return [control, property, text](bool on) { control->setProperty(property, on ? text : QString()); };
}

// The pixels that change when the text goes are the text; behind it is the
// colour most of them show without it, and the text's colour is the one that
// stands out most from that (edge pixels are blends of the two).
double contrastOf(QWidget *window, QWidget *control, const std::function<void(bool)> &showText)
{
    control->setFixedSize(control->size()); // an emptied text must not move anything
    const QRect area = QRect(control->mapTo(window, QPoint(0, 0)), control->size()) & window->rect();
    auto picture = [&] {
        QCoreApplication::sendPostedEvents();
        return window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage with = picture();
    showText(false);
    const QImage without = picture();
    showText(true);
    QHash<QRgb, int> behind;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            behind[without.pixel(x, y)] += with.pixel(x, y) != without.pixel(x, y);
    if (behind.isEmpty())
        return 1;
    const QRgb back = std::max_element(behind.keyValueBegin(), behind.keyValueEnd(),
                                       [](auto a, auto b) { return a.second < b.second; })->first;
    double ratio = 1;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            if (with.pixel(x, y) != without.pixel(x, y))
                ratio = std::max(ratio, contrast(with.pixel(x, y), back));
    return ratio;
}

// The controls of a window whose text is hard to read; read counts those measured.
QStringList unreadable(QWidget *window, int *read)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return {"window never shown"};
    QStringList failures;
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (!control->isVisibleTo(window) || !control->isEnabled() || control->size().isEmpty())
            continue; // disabled controls are exempt, as WCAG exempts inactive components
        if (const std::function<void(bool)> showText = textSwitch(control)) {
            ++*read;
            if (const double ratio = contrastOf(window, control, showText); ratio < 4.5)
                failures << QString("%1 (%2): %3").arg(control->objectName(), control->metaObject()->className()).arg(ratio);
        }
    }
    return failures;
}

} // namespace

class tst_palette : public QObject
{
    Q_OBJECT

    WindowTestState state;
    TestListFolder lists;
    QPalette systemPalette;
    QDir out;

    void save(QWidget *window, const QString &name) { QVERIFY(window->grab().save(out.filePath(name + ".png"))); }

private slots:
    void initTestCase()
    {
        systemPalette = QApplication::palette();
        lists.write("Servers.txt", "127.0.0.1\r\nchat.example.org\r\n");
        lists.write("Channels.txt", "Lobby\r\nPublic Chat 1\r\n");
        QVERIFY(openScreenshotFolder(&out));
    }
    void init()
    {
        state.reset();
        ScreenSize = 1024;
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
        for (const char *window : {"TorvalMain", "FrmLogin", "frmServers", "FrmChannel", "FrmOpt", "frmAbout",
                                   "frmHelp", "MsgBox", "InputBox"}) {
            QTest::addRow("%s, dark", window) << QString(window) << true;
            QTest::addRow("%s, light", window) << QString(window) << false;
        }
    }

    void textReadsOnItsBackground()
    {
        QFETCH(QString, window);
        QFETCH(bool, dark);
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        const QString picture = window + (dark ? "-dark" : "");
        ChatWindow chat; // a session as the documentation shows it, the buttons as Connect leaves them
        chat.window.resize(1024, 768); // the profile's screen; smaller squeezes controls to nothing
        QVERIFY(chat.connectNow());
        chat.setEntries({});
        chat.server.send("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk alice 0010\r\n1001 kkkk Guest 0000\r\n"
                         "1018 kkkk \"Welcome to the Vesk Chat local gateway, alice.\"\r\n"
                         "1005 kkkk Guest 0000 \"hello everyone\"\r\n1023 kkkkk Guest 0000 \"waves at the channel\"\r\n"
                         "1005 kkkk alice 0010 \"hi Guest, welcome!\"\r\n1004 kkkkkkk Guest 0000 \"are you there?\"\r\n");
        QTRY_COMPARE(chat.whisperPane()->blockCount(), 2);
        chat.button("Connect")->setEnabled(false);
        for (const char *name : {"Disconnect", "cmdChannel", "cmdIdle"})
            chat.button(name)->setEnabled(true);
        const QHash<QString, std::function<QWidget *()>> windows = {
            {"TorvalMain", [&] { return &chat.window; }}, {"FrmLogin", [&] { return new FrmLogin(&chat.window); }},
            {"frmServers", [] { return new frmServers; }}, {"FrmChannel", [&] { return new FrmChannel(&chat.window); }},
            {"FrmOpt", [] { return new FrmOpt; }}, {"frmAbout", [] { return new frmAbout; }},
            {"frmHelp", [] { return new frmHelp; }}};
        QStringList failures;
        int read = 0;
        auto check = [&](QWidget *w) {
            failures = unreadable(w, &read);
            save(w, picture);
        };
        if (window == "MsgBox") {
            onModal("QMessageBox", [&](QWidget *box) { check(box), box->close(); });
            MsgBox(&chat.window, "Must Enter a Username to Login");
        } else if (window == "InputBox") {
            onModal("QInputDialog", [&](QWidget *box) { check(box), box->close(); });
            InputBox(&chat.window, "Idle message", "Idle");
        } else {
            QPointer<QWidget> w = windows[window]();
            check(w);
            if (w != &chat.window)
                delete w.data();
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join("; ")));
        QVERIFY(read > 0);
    }
};

QTEST_MAIN(tst_palette)
#include "tst_palette.moc"
