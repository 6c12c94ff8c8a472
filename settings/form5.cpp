#include "form5.h"

#include "colorpick.h"
#include "dialoglayout.h"
#include "localenumber.h"
#include "numericentry.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace zarn {

Form5::Form5(DisplaySettings& settings, Canvas& picture1, ColorDialogFactory makeColorDialog)
    : settings_(settings), picture1_(picture1), makeColorDialog_(std::move(makeColorDialog))
{
}

void Form5::Load(QWidget& window)
{
    SetUpDialogWindow(window, QStringLiteral("Centroid Characteristics"), 3810, 2220);
    const QFont buttonFont = DialogFont(9.75, true);
    const QFont entryFont = DialogFont(8.25, true);

    c_.Frame1 = AddControl<QGroupBox>(window, "Frame1", QStringLiteral("Fillstyle"), window.font(),
                                      {240, 120, 1575, 975});
    c_.Option1 = AddControl<QRadioButton>(*c_.Frame1, "Option1", QStringLiteral("Transparent"), window.font(),
                                          {120, 240, 1335, 255});
    c_.Option2 = AddControl<QRadioButton>(*c_.Frame1, "Option2", QStringLiteral("Filled"), window.font(),
                                          {120, 600, 1095, 255});
    c_.Label1 = AddControl<QLabel>(window, "Label1", QStringLiteral("Size"), entryFont, {240, 1200, 975, 255});
    c_.Text1 = AddControl<NumericEntry>(window, "Text1", QStringLiteral("1"), entryFont, {1320, 1200, 495, 285});
    c_.Command1 = AddControl<QPushButton>(window, "Command1", QStringLiteral("Border Color"), buttonFont,
                                          {1920, 240, 1695, 495});
    c_.Command2 = AddControl<QPushButton>(window, "Command2", QStringLiteral("Cancel"), buttonFont,
                                          {120, 1680, 1695, 375});
    c_.Command3 = AddControl<QPushButton>(window, "Command3", QStringLiteral("OK"), buttonFont,
                                          {1920, 1680, 1695, 375});
    c_.Command4 = AddControl<QPushButton>(window, "Command4", QStringLiteral("Fill Color"), buttonFont,
                                          {1920, 960, 1695, 495});
    c_.Option2->setChecked(true);
    AnswerDialogKeys(window, c_.Command3, c_.Command2);
    SetTabOrder({c_.Option1, c_.Option2, c_.Text1, c_.Command1, c_.Command2, c_.Command3, c_.Command4});

    connect(c_.Command1, &QPushButton::clicked, this, &Form5::Form5_Command1_Click);
    connect(c_.Command2, &QPushButton::clicked, this, &Form5::Form5_Command2_Click);
    connect(c_.Command3, &QPushButton::clicked, this, &Form5::Form5_Command3_Click);
    connect(c_.Command4, &QPushButton::clicked, this, &Form5::Form5_Command4_Click);
    cd1_ = makeColorDialog_();
}

void Form5::Unload()
{
    c_ = {};
    cd1_.reset();
}

void Form5::Form5_Command1_Click()
{
    if (PickColor(*cd1_)) {
        chosenBorderColor_ = cd1_->Color();
    }
}

void Form5::Form5_Command2_Click()
{
    Hide();
}

void Form5::Form5_Command3_Click()
{
    settings_.centroidFillColor = chosenFillColor_;
    settings_.centroidBorderColor = chosenBorderColor_;
    if (const std::optional<std::int16_t> size = TextToInt16(c_.Text1->text(), QLocale())) {
        settings_.centroidSize = *size;
    }
    picture1_.SetFillStyle(c_.Option1->isChecked() ? 1 : 0);
    Hide();
}

void Form5::Form5_Command4_Click()
{
    if (PickColor(*cd1_)) {
        chosenFillColor_ = cd1_->Color();
    }
}

}  // namespace zarn
