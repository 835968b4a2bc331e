// SPDX-License-Identifier: MIT
// Shared helpers for window tests; includes the widget-free ones of TestCore.h.
#pragma once

#include "support/TestCore.h"
#include "ui/ListFile.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <functional>

// A temporary folder that the pickers read their list files from.
class TestListFolder
{
public:
    TestListFolder() { setProgramDirectoryForTesting(m_dir.path()); }
    ~TestListFolder() { setProgramDirectoryForTesting(QString()); }
    // Writes (or replaces) one list file; an empty name list leaves an empty file.
    void write(const char *fileName, const QByteArray &content)
    {
        QFile file(m_dir.filePath(QLatin1String(fileName)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", fileName);
        file.write(content);
    }
    void remove(const char *fileName) { QFile::remove(m_dir.filePath(QLatin1String(fileName))); }

private:
    QTemporaryDir m_dir;
};

// Finds a named child control of a window, failing loudly when it is missing.
template <typename T>
T *control(QWidget *window, const char *name)
{
    T *child = window->findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("control %s not found", name);
    return child;
}

// Runs action on the next modal dialog that opens (arm it before the call
// that opens the dialog). The action gets the dialog's widget.
inline void onNextModal(std::function<void(QWidget *)> action, int attempts = 200)
{
    QTimer::singleShot(0, [action, attempts] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            action(modal);
        } else if (attempts > 0) {
            QTimer::singleShot(10, [action, attempts] { onNextModal(action, attempts - 1); });
        }
    });
}

// The answers armed by onModal belong to one test: cancelPendingModalAnswers()
// (call it in cleanup) stops those still waiting, so none catches a later test's dialog.
inline int &modalAnswerGeneration()
{
    static int generation = 0;
    return generation;
}

inline void cancelPendingModalAnswers()
{
    ++modalAnswerGeneration();
}

// Runs action on the next modal dialog of the given class (QMessageBox,
// FrmLogin, frmServers...), waiting up to about five seconds for it to open.
inline void onModal(const char *className, std::function<void(QWidget *)> action, int attempts = 500)
{
    const int generation = modalAnswerGeneration();
    QTimer::singleShot(attempts == 500 ? 0 : 10, [=] {
        if (generation != modalAnswerGeneration())
            return;
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->inherits(className))
            action(modal);
        else if (attempts > 0)
            onModal(className, action, attempts - 1);
    });
}
