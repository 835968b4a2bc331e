// SPDX-License-Identifier: MIT
#include "ui/ListPicker.h"

#include "reception/DisplayText.h"
#include "ui/DesignStyle.h"
#include "ui/Dialogs.h"
#include "settings/ListFile.h"
#include "ui/Images.h"
#include "ui/Twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

ListPicker::ListPicker(const PickerDesign &design, QWidget *parent)
    : QDialog(parent), design(design)
{
    setObjectName(QLatin1String(design.objectName));
    setWindowTitle(QLatin1String(design.caption));
    setWindowIcon(appIcon());
    setFont(designFont(8.25));
    resize(twipsToPixels(6015), twipsToPixels(design.clientHeight));

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setAccessibleName(QLatin1String(design.listAccessibleName));
    List1->setFont(designFont(9.75, true));
    blackOnWhite(List1);
    placeTwips(List1, 240, 600, 3135, 2940);

    Label2 = new QLabel(QLatin1String(design.labelText), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setFont(designFont(8.25, true));
    // Transparent over the dialog's face, which is the system's: the system's
    // text colour for that face reads there (black on a light one).
    placeTwips(Label2, 3720, 600, 1575, 255);

    entry = new QLineEdit(this);
    entry->setObjectName(QLatin1String(design.entryName));
    entry->setAccessibleName(QLatin1String(design.entryAccessibleName));
    entry->setFont(designFont(8.25, true));
    blackOnWhite(entry);
    placeTwips(entry, 3720, 960, 2055, 285);

    auto button = [this](QPushButton *&member, const char *name, const char *text, double left) {
        member = new QPushButton(QLatin1String(text), this);
        member->setObjectName(QLatin1String(name));
        member->setAutoDefault(false);
        setColours(member, QPalette::Button, kLightGrey, QPalette::ButtonText, Qt::black);
        placeTwips(member, left, 1560, 975, 375);
    };
    button(Command1, "Command1", "OK", 3720);
    button(Command2, "Command2", "Quit", 4800);

    if (design.coverCorner) {
        Label1 = new QLabel(this);
        Label1->setObjectName(QStringLiteral("Label1"));
        Label1->setAutoFillBackground(true);
        placeTwips(Label1, 0, 0, 1575, 615);
        Label1->lower(); // a label never covers the list or the boxes
        setTabOrder(entry, List1);
        setTabOrder(List1, Command1);
    } else {
        setTabOrder(List1, entry);
        setTabOrder(entry, Command1);
    }
    setTabOrder(Command1, Command2);

    connect(List1, &QListWidget::itemClicked, this, &ListPicker::List1_Click);
    // A selection made with the keyboard counts as a click; the list taking
    // the focus (which makes its first entry current) does not.
    connect(List1, &QListWidget::itemSelectionChanged, this, &ListPicker::List1_Click);
    connect(Command1, &QPushButton::clicked, this, &ListPicker::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &ListPicker::Command2_Click);
}

void ListPicker::paintEvent(QPaintEvent *)
{
    if (!design.coverCorner)
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, dialogCornerPicture());
}

void ListPicker::Form_Load()
{
    entry->setText(GetSetting(design.setting));
    Load_Channels();
}

void ListPicker::Load_Channels()
{
    const std::optional<QStringList> entries = readListFile(listFilePath(QLatin1String(design.listFile)));
    if (!entries) {
        MsgBox(this, QLatin1String(design.missingMessage), QLatin1String(design.missingTitle));
        return;
    }
    // Shown by the display rules (a binary file holds control characters);
    // an entry shown otherwise keeps the file's text for a click to copy.
    QStringList shown;
    shown.reserve(entries->size());
    for (const QString &line : *entries)
        shown.append(shownEntry(line));
    List1->addItems(shown);
    for (int row = 0; row < shown.size(); ++row) {
        if (shown[row] != entries->at(row))
            List1->item(row)->setData(Qt::UserRole, entries->at(row));
    }
}

QString ListPicker::shownEntry(const QString &line) const
{
    return displayName(line);
}

QString ListPicker::entryText() const
{
    return entry->text();
}

void ListPicker::List1_Click()
{
    const QList<QListWidgetItem *> selected = List1->selectedItems();
    if (!selected.isEmpty())
        entry->setText(selected.first()->data(Qt::UserRole).isValid() ? selected.first()->data(Qt::UserRole).toString()
                                                                       : selected.first()->text());
}

void ListPicker::Command2_Click()
{
    close();
}
