// SPDX-License-Identifier: MIT
#include "ui/SpellCheckLine.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QStringList kSystemFolders{QStringLiteral("/usr/share/hunspell")};

bool isRed(QRgb pixel)
{
    return qRed(pixel) > qGreen(pixel) + 60 && qRed(pixel) > qBlue(pixel) + 60; // the wave is anti-aliased
}
} // namespace

class tst_spellcheckline : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    SpellChecker m_checker;
    QLineEdit *m_edit = nullptr;
    SpellCheckLine *m_spell = nullptr;

    QStringList markedWords() const
    {
        QStringList words;
        for (const MisspelledRange &mark : m_spell->marks())
            words.append(m_edit->text().mid(mark.start, mark.length));
        return words;
    }
    // The x range of characters [from, to) as drawn.
    QPair<int, int> span(int from, int to)
    {
        const int caret = m_edit->cursorPosition();
        m_edit->setCursorPosition(from);
        const int left = m_edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        m_edit->setCursorPosition(to);
        const int right = m_edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        m_edit->setCursorPosition(caret);
        return {left, right};
    }
    // Columns that hold a red pixel.
    QList<int> redColumns()
    {
        const QImage image = m_edit->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const qreal scale = image.devicePixelRatio();
        QList<int> columns;
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < image.height(); ++y) {
                if (isRed(image.pixel(x, y))) {
                    columns.append(int(x / scale));
                    break;
                }
            }
        }
        return columns;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
        if (!m_checker.load(QStringLiteral("en_US"), kSystemFolders))
            QSKIP("the en_US dictionary is not installed (Debian package hunspell-en-us)");
        m_checker.setPersonalWordList(m_home.filePath(QStringLiteral("config/VeskChat/words.txt")));
    }
    void init()
    {
        m_checker.setIgnoredNames({});
        m_edit = new QLineEdit;
        m_edit->resize(600, m_edit->sizeHint().height());
        m_spell = new SpellCheckLine(m_edit, &m_checker);
        m_spell->setDelay(1);
        m_edit->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_edit));
        m_edit->setFocus();
    }
    void cleanup() { delete m_edit; }

    void underlinesMisspelledWords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("marked");
        QTest::newRow("none") << "all is well here" << QStringList() << QStringList();
        QTest::newRow("one") << "all is wel here" << QStringList() << QStringList{"wel"};
        QTest::newRow("two") << "helo there wrld" << QStringList() << QStringList{"helo", "wrld"};
        QTest::newRow("names in the user list") << "zorgbert: helo" << QStringList{"zorgbert"} << QStringList{"helo"};
        QTest::newRow("link") << "https://exmaple.org/helo" << QStringList() << QStringList();
    }
    void underlinesMisspelledWords()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        QFETCH(QStringList, marked);
        m_checker.setIgnoredNames(QSet<QString>(names.begin(), names.end()));
        m_edit->setText(text); // the caret at the end: format ranges count from it
        QTRY_COMPARE(markedWords(), marked);
        // The red underline is drawn under the marked words and nowhere else.
        const QList<int> red = redColumns();
        QCOMPARE(red.isEmpty(), marked.isEmpty());
        int underlined = 0;
        for (const MisspelledRange &mark : m_spell->marks()) {
            const auto [left, right] = span(int(mark.start), int(mark.start + mark.length));
            underlined += int(std::count_if(red.begin(), red.end(), [&](int x) { return x >= left - 3 && x <= right + 3; }));
            QVERIFY(std::any_of(red.begin(), red.end(), [&](int x) { return x >= left && x <= right; }));
        }
        QCOMPARE(underlined, red.size());
    }

    void marksLeaveTextCaretAndUndoAlone()
    {
        m_edit->setText(QStringLiteral("helo wrld"));
        m_edit->setSelection(5, 4);
        QSignalSpy changed(m_edit, &QLineEdit::textChanged);
        m_spell->recheck();
        QCOMPARE(markedWords(), (QStringList{"helo", "wrld"}));
        QCOMPARE(m_edit->text(), QStringLiteral("helo wrld"));
        QCOMPARE(m_edit->selectedText(), QStringLiteral("wrld"));
        QCOMPARE(changed.size(), 0);
        QVERIFY(!m_edit->isUndoAvailable());
    }

    void wordBeingTypedIsMarkedWhenLeft()
    {
        QTest::keyClicks(m_edit, QStringLiteral("helo"));
        QTest::qWait(20);
        QCOMPARE(markedWords(), QStringList());
        QTest::keyClicks(m_edit, QStringLiteral(" you"));
        QTRY_COMPARE(markedWords(), QStringList{"helo"});
        QTest::keyClicks(m_edit, QStringLiteral(" thre"));
        QTest::qWait(20);
        QCOMPARE(markedWords(), QStringList{"helo"});
        QTest::keyClick(m_edit, Qt::Key_Home); // the caret leaves the word
        QTRY_COMPARE(markedWords(), (QStringList{"helo", "thre"}));
    }

    void contextMenuSuggestsAndAdds()
    {
        m_edit->setText(QStringLiteral("say helo now"));
        m_spell->recheck();
        const auto [left, right] = span(4, 8);
        const QPoint onWord((left + right) / 2, m_edit->height() / 2);
        std::unique_ptr<QMenu> menu(m_spell->createContextMenu(onWord));
        QStringList texts;
        for (QAction *action : menu->actions())
            texts.append(action->text());
        QVERIFY2(texts.contains(QStringLiteral("hello")), qPrintable(texts.join(u'|')));
        QVERIFY(texts.contains(QLatin1String(kAddToDictionary)));
        QVERIFY(texts.indexOf(QStringLiteral("hello")) < texts.indexOf(QLatin1String(kAddToDictionary)));
        QVERIFY(menu->actions().size() > texts.indexOf(QLatin1String(kAddToDictionary)) + 2); // the usual entries follow
        menu->actions().at(texts.indexOf(QStringLiteral("hello")))->trigger();
        QCOMPARE(m_edit->text(), QStringLiteral("say hello now"));
        m_edit->undo();
        QCOMPARE(m_edit->text(), QStringLiteral("say helo now"));

        m_edit->setText(QStringLiteral("say qwzzyx now"));
        m_spell->recheck();
        menu.reset(m_spell->createContextMenu(onWord));
        QSignalSpy added(m_spell, &SpellCheckLine::wordAdded);
        for (QAction *action : menu->actions()) {
            if (action->text() == QLatin1String(kAddToDictionary))
                action->trigger();
        }
        QCOMPARE(added.size(), 1);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("qwzzyx"));
        QCOMPARE(markedWords(), QStringList());

        menu.reset(m_spell->createContextMenu(QPoint(2, m_edit->height() / 2))); // on a correct word
        for (QAction *action : menu->actions())
            QVERIFY(action->text() != QLatin1String(kAddToDictionary));
    }

    void switchedOff()
    {
        m_edit->setText(QStringLiteral("helo wrld"));
        QTRY_COMPARE(markedWords().size(), 2);
        m_spell->setEnabled(false);
        QCOMPARE(markedWords(), QStringList());
        QVERIFY(redColumns().isEmpty());
        m_edit->setText(QStringLiteral("more wrds"));
        QTest::qWait(20);
        QCOMPARE(markedWords(), QStringList());
        m_spell->setEnabled(true);
        QCOMPARE(markedWords(), QStringList{"wrds"});
    }
};

QTEST_MAIN(tst_spellcheckline)
#include "tst_spellcheckline.moc"
