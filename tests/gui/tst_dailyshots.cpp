// SPDX-License-Identifier: MIT
// The earlier lines of the chat log, the paste bar and the spell check under
// a light and a dark palette: their colours read against what is behind
// them, and pictures of each are kept in screenshots/ under the build folder.
#include "gui/ChatWindow.h"

#include "settings/Settings.h"
#include "ui/DesignStyle.h"
#include "ui/PaneMarks.h"
#include "ui/PasteBar.h"
#include "ui/SpellCheckLine.h"

#include <QClipboard>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QStyle>

#include <cmath>

namespace {
double contrast(QColor a, QColor b)
{
    auto luminance = [](const QColor &c) {
        auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
} // namespace

class tst_dailyshots : public QObject
{
    Q_OBJECT

    ChatDayState state;
    QDir out;

    void save(const QImage &image, const QString &name) { QVERIFY(image.save(out.filePath(name + ".png"))); }
    // The area of the window around a control, with a margin.
    static QImage around(ChatWindow &w, QRect area)
    {
        QCoreApplication::sendPostedEvents();
        return w.window.grab(area.adjusted(-8, -8, 8, 8) & w.window.rect()).toImage();
    }

private slots:
    void initTestCase() { QVERIFY(openScreenshotFolder(&out)); }
    void init() { state.reset(); }

    void pictures_data() { addPaletteRows(); }
    void pictures()
    {
        QFETCH(bool, dark);
        const PaletteScope palette(dark);
        const QString suffix = dark ? QStringLiteral("-dark") : QStringLiteral("-light");
        QDir().mkpath(QFileInfo(chatDayLogPath()).path());
        QFile log(chatDayLogPath());
        QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        log.write("2026-03-14 08:58:12 Joining Channel Lobby.\n"
                  "2026-03-14 08:58:40 <bo> morning all, notes at www.example.org/notes\n"
                  "2026-03-14 09:01:03 <Tester> thanks bo\n"
                  "2026-03-14 09:02:55 <cy waves> \n");
        log.close();

        ChatWindow w(ChatWindow::Replay::AsSet);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QVERIFY(w.login());
        QTRY_VERIFY(w.session()->isReplayReady());
        w.server.send("1007 CHANNEL \"Lobby\"\r\n1001 USER bo 0010\r\n1001 USER Zorblax 0010\r\n"
                      "1005 TALK bo 0010 \"welcome back\"\r\n");
        QTRY_VERIFY(w.chatPane()->toPlainText().contains(QStringLiteral("welcome back")));
        QTRY_COMPARE(w.entries().size(), 2);

        // The muted lines read on the pane's own base.
        const QPalette pane = w.chatPane()->palette();
        const double muted = contrast(PaneMarks::mutedColour(pane), pane.color(QPalette::Base));
        QVERIFY2(muted >= 4.5, qPrintable(QString::number(muted)));
        save(around(w, w.chatPane()->geometry()), "replay" + suffix);

        w.window.Text1_Paste(QStringLiteral("one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten\neleven\ntwelve\n"));
        PasteBar *bar = w.window.pasteBar();
        QVERIFY(bar->isVisible());
        const QPalette barColours = bar->palette();
        QVERIFY(contrast(barColours.color(QPalette::WindowText), barColours.color(QPalette::Window)) >= 4.5);
        // Clear of the buttons beside it.
        for (QPushButton *button : w.window.findChildren<QPushButton *>())
            QVERIFY2(button->parent() == bar || !button->geometry().intersects(bar->geometry()), qPrintable(button->text()));
        save(around(w, bar->geometry().united(w.input()->geometry()).united(w.ui.Send->geometry())), "paste" + suffix);
        QTest::keyClick(bar, Qt::Key_Escape);

        w.input()->setText(QStringLiteral("Zorblax, that speling is wrotee"));
        w.input()->setCursorPosition(0);
        // The user list's names reach the check a moment after the list changed.
        auto marked = [&] {
            w.window.spellCheckLine()->recheck();
            return w.window.spellCheckLine()->marks().size();
        };
        QTRY_COMPARE(marked(), 2);
        const int at = 4 + w.input()->fontMetrics().horizontalAdvance(
                                                           QStringLiteral("Zorblax, that spel"));
        std::unique_ptr<QMenu> menu(w.window.spellCheckLine()->createContextMenu(QPoint(at, w.input()->height() / 2)));
        menu->ensurePolished();
        menu->adjustSize();
        const QImage menuPicture = menu->grab().toImage();
        QImage line = around(w, w.input()->geometry());
        QImage picture(std::max(line.width(), 16 + at + menuPicture.width()), line.height() + menuPicture.height() + 8, QImage::Format_RGB32);
        picture.fill(kLightGrey); // the window's own grey, under any palette
        QPainter painter(&picture);
        painter.drawImage(0, 0, line);
        painter.drawImage(8 + at, line.height(), menuPicture);
        painter.end();
        save(picture, "spell" + suffix);
    }
};

QTEST_MAIN(tst_dailyshots)
#include "tst_dailyshots.moc"
