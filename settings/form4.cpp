#include "form4.h"

#include "colorpick.h"
#include "dialoglayout.h"
#include "localenumber.h"
#include "numericentry.h"

#include <QLabel>
#include <QPushButton>

namespace zarn {

Form4::Form4(DisplaySettings& settings, ColorDialogFactory makeColorDialog)
    : settings_(settings), makeColorDialog_(std::move(makeColorDialog))
{
}

void Form4::Load(QWidget& window)
{
    SetUpDialogWindow(window, QStringLiteral("LIne Characteristics"), 2985, 1890);
    const QFont labelFont = DialogFont(9.75, true);
    const QFont buttonFont = DialogFont(8.25, true);

    c_.Label1 = AddControl<QLabel>(window, "Label1", QStringLiteral("Line Thickness"), labelFont,
                                   {240, 240, 1815, 255});
    c_.Text1 = AddControl<NumericEntry>(window, "Text1", QStringLiteral("1"), window.font(), {2160, 240, 615, 285});
    c_.Command1 = AddControl<QPushButton>(window, "Command1", QStringLiteral("Line Color"), buttonFont,
                                          {120, 720, 2655, 375});
    c_.Command2 = AddControl<QPushButton>(window, "Command2", QStringLiteral("Cancel"), buttonFont,
                                          {120, 1320, 1335, 375});
    c_.Command3 = AddControl<QPushButton>(window, "Command3", QStringLiteral("OK"), buttonFont,
                                          {1560, 1320, 1215, 375});
    AnswerDialogKeys(window, c_.Command3, c_.Command2);
    SetTabOrder({c_.Text1, c_.Command1, c_.Command2, c_.Command3});

    connect(c_.Command1, &QPushButton::clicked, this, &Form4::Form4_Command1_Click);
    connect(c_.Command2, &QPushButton::clicked, this, &Form4::Form4_Command2_Click);
    connect(c_.Command3, &QPushButton::clicked, this, &Form4::Form4_Command3_Click);
    cd1_ = makeColorDialog_();
}

void Form4::Unload()
{
    c_ = {};
    cd1_.reset();
}

void Form4::Form4_Command1_Click()
{
    PickColor(*cd1_);
}

void Form4::Form4_Command2_Click()
{
    Hide();
}

void Form4::Form4_Command3_Click()
{
    settings_.lineColor = cd1_->Color();
    if (const std::optional<std::int32_t> width = TextToInt32(c_.Text1->text(), QLocale())) {
        settings_.lineWidth = *width;
    }
    Hide();
}

}  // namespace zarn
