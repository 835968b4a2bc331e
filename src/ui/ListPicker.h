// SPDX-License-Identifier: MIT
#pragma once

#include "settings/Settings.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// What tells the server picker and the channel picker apart.
struct PickerDesign {
    const char *objectName;
    const char *caption;
    double clientHeight;       // twips; both are 6015 wide
    const char *listFile;      // read from the program's own folder
    const char *missingMessage;
    const char *missingTitle;
    const char *listAccessibleName;
    const char *labelText;
    const char *entryName;
    const char *entryAccessibleName;
    SettingKey setting;        // read into the entry box on load
    bool coverCorner;          // the channel picker's picture and blank patch
};

// A list filled from a file beside the program, an entry box preset from the
// store, a list click that copies the entry into the box, OK and Quit.
class ListPicker : public QDialog
{
    Q_OBJECT

public:
    ListPicker(const PickerDesign &design, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    // The entry box's text as loaded from the store; called once the controls exist.
    virtual void Form_Load();
    void Load_Channels();
    QString entryText() const;
    // How a line of the list file is shown in the list.
    virtual QString shownEntry(const QString &line) const;

private slots:
    void List1_Click();
    virtual void Command1_Click() = 0;
    void Command2_Click();

protected:
    const PickerDesign &design;
    QListWidget *List1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *entry = nullptr; // txtserver or txtchannel
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
};
