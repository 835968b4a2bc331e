// SPDX-License-Identifier: MIT
// Shared helpers for window tests; includes the widget-free ones of TestCore.h.
#pragma once

#include "support/TestCore.h"
#include "settings/ListFile.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <functional>

// A temporary folder that the pickers read their list files from, and no other.
class TestListFolder
{
public:
    TestListFolder() { setListFileFoldersForTesting({m_dir.path()}); }
    ~TestListFolder() { setListFileFoldersForTesting({}); }
    // Writes (or replaces) one list file.
    void write(const char *fileName, const QByteArray &content) { writeFile(m_dir.filePath(QLatin1String(fileName)), content); }
    void remove(const char *fileName) { QFile::remove(m_dir.filePath(QLatin1String(fileName))); }

private:
    QTemporaryDir m_dir;
};

// The shown top-level window of class T, or null.
template <typename T>
T *shownWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<T *>(w); found && found->isVisible())
            return found;
    }
    return nullptr;
}

// For cleanup(): every window a test left open is closed, and the close handled.
inline void closeAllWindows()
{
    QApplication::closeAllWindows();
    QTest::qWait(0);
}

// Finds a named child control of a window, failing loudly when it is missing.
template <typename T>
T *control(QWidget *window, const char *name)
{
    T *child = window->findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("control %s not found", name);
    return child;
}

// The answers armed by onModal belong to one test: cancelPendingModalAnswers()
// (call it in cleanup) stops those still waiting, so none catches a later test's dialog.
inline int modalAnswerGeneration = 0;
inline void cancelPendingModalAnswers() { ++modalAnswerGeneration; }

namespace detail {
inline void answerModal(const char *className, std::function<void(QWidget *)> action,
                        QDeadlineTimer deadline, int generation, int delayMs)
{
    QTimer::singleShot(delayMs, [=] {
        if (generation != modalAnswerGeneration)
            return;
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->inherits(className))
            action(modal);
        else if (!deadline.hasExpired())
            answerModal(className, action, deadline, generation, 10);
    });
}
} // namespace detail

// Runs action on the next modal dialog of the given class (QMessageBox,
// FrmLogin, frmServers...) that opens within waitMs. Arm it before the call
// that opens the dialog.
inline void onModal(const char *className, std::function<void(QWidget *)> action, int waitMs = 5000)
{
    detail::answerModal(className, std::move(action), QDeadlineTimer(waitMs), modalAnswerGeneration, 0);
}

// Answers the server picker Connect opens: types server and presses OK.
inline void answerServerPicker(const QString &server = QStringLiteral("127.0.0.1"))
{
    onModal("frmServers", [server](QWidget *picker) {
        control<QLineEdit>(picker, "txtserver")->setText(server);
        control<QPushButton>(picker, "Command1")->click();
    });
}

// Answers Connect's dialogs: picks server, then fills in the login and presses loginButton.
inline void answerConnectDialogs(const QString &name, const QString &password, const char *loginButton = "Login",
                                 const QString &server = QStringLiteral("127.0.0.1"))
{
    answerServerPicker(server);
    onModal("FrmLogin", [=](QWidget *login) {
        control<QLineEdit>(login, "UserNamet")->setText(name);
        control<QLineEdit>(login, "PassWordt")->setText(password);
        control<QPushButton>(login, loginButton)->click();
    });
}

// Reads the text and title of the next message box and closes it.
inline void readMessageBox(QString *text, QString *title)
{
    onModal("QMessageBox", [text, title](QWidget *box) {
        *text = static_cast<QMessageBox *>(box)->text();
        *title = box->windowTitle();
        static_cast<QMessageBox *>(box)->accept();
    });
}

// screenshots/ beside the build's bin folder (or the current one), made when missing; false when it cannot be.
inline bool openScreenshotFolder(QDir *out)
{
    const QByteArray bin = qgetenv("VESK_BIN_DIR");
    out->setPath(bin.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(bin) + "/..");
    return out->mkpath("screenshots") && out->cd("screenshots");
}

// A dark system palette of the kind desktop colour schemes set: light text on
// near-black faces, dimmer text for disabled controls.
inline QPalette darkPalette()
{
    const QColor face(0x31, 0x36, 0x3b), base(0x23, 0x26, 0x29), text(0xef, 0xf0, 0xf1);
    const QColor dimmed(0x6e, 0x71, 0x75);
    QPalette p(text, face, face.lighter(150), face.darker(150), face.darker(120), text, text, base, face);
    p.setColor(QPalette::AlternateBase, face);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::ToolTipBase, face);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Link, QColor(0x1d, 0x99, 0xf3));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    return p;
}

// The rows of a picture taken under the light and the dark palette.
inline void addPaletteRows()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << false;
    QTest::newRow("dark") << true;
}

// The dark or the standard light palette while it lives; the one before afterwards.
class PaletteScope
{
public:
    explicit PaletteScope(bool dark) : m_before(QApplication::palette())
    {
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
    }
    ~PaletteScope() { QApplication::setPalette(m_before); }
    PaletteScope(const PaletteScope &) = delete;
    PaletteScope &operator=(const PaletteScope &) = delete;

private:
    QPalette m_before;
};
