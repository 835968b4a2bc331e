// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QGroupBox;
class QRadioButton;

// Asks once, at first start, which screen size the main window is laid out for.
class FrmOpt : public QWidget
{
    Q_OBJECT

public:
    explicit FrmOpt(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void cmdOK_Click();

private:
    QLabel *lblCover = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QGroupBox *fraSreenResolution = nullptr;
    QRadioButton *opt1024 = nullptr;
    QRadioButton *opt640 = nullptr;
    QRadioButton *opt800 = nullptr;
    QRadioButton *optHigher = nullptr;
    QLabel *lblTitle = nullptr;
};

// The profile the OK button stores for the chosen option (640 when none is chosen).
qint16 screenSizeForChoice(bool chose640, bool chose800, bool chose1024, bool choseHigher);
