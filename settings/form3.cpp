#include "form3.h"

#include "colorpick.h"
#include "dialoglayout.h"
#include "localenumber.h"
#include "numericentry.h"
#include "runerror.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace zarn {

Form3::Form3(DisplaySettings& settings, Canvas& picture1, ColorDialogControl& cd1OfForm1)
    : settings_(settings), picture1_(picture1), cd1OfForm1_(cd1OfForm1)
{
}

void Form3::Load(QWidget& window)
{
    SetUpDialogWindow(window, QStringLiteral("Font Characteristics"), 2625, 2295);
    const QFont captionFont = DialogFont(9.75, true);
    const QFont buttonFont = DialogFont(8.25, true);

    c_.Label1 = AddControl<QLabel>(window, "Label1", QStringLiteral("Fontsize"), captionFont, {120, 120, 975, 255});
    c_.Text1 = AddControl<NumericEntry>(window, "Text1", QStringLiteral("10"), buttonFont, {1320, 120, 615, 285});
    c_.Check1 = AddControl<QCheckBox>(window, "Check1", QStringLiteral("Bold"), captionFont, {240, 600, 855, 255});
    c_.Check2 = AddControl<QCheckBox>(window, "Check2", QStringLiteral("Italic"), DialogFont(9.75, true, true),
                                      {1440, 600, 1215, 255});
    c_.Command1 = AddControl<QPushButton>(window, "Command1", QStringLiteral("Cancel"), buttonFont,
                                          {120, 1800, 1095, 375});
    c_.Command2 = AddControl<QPushButton>(window, "Command2", QStringLiteral("OK"), buttonFont,
                                          {1320, 1800, 1095, 375});
    c_.Command3 = AddControl<QPushButton>(window, "Command3", QStringLiteral("Choose Font Color"), buttonFont,
                                          {120, 1320, 2295, 375});
    c_.Check3 = AddControl<QCheckBox>(window, "Check3", QStringLiteral("Show Text"), captionFont,
                                      {240, 960, 1935, 255});
    c_.Check1->setChecked(true);
    c_.Check3->setChecked(true);
    AnswerDialogKeys(window, c_.Command2, c_.Command1);
    SetTabOrder({c_.Text1, c_.Check1, c_.Check2, c_.Command1, c_.Command2, c_.Command3, c_.Check3});

    connect(c_.Command1, &QPushButton::clicked, this, &Form3::Form3_Command1_Click);
    connect(c_.Command2, &QPushButton::clicked, this, &Form3::Form3_Command2_Click);
    connect(c_.Command3, &QPushButton::clicked, this, &Form3::Form3_Command3_Click);
}

void Form3::Unload()
{
    c_ = {};
}

void Form3::Form3_Form_Activate()
{
    c_.Check3->setChecked(settings_.showText != 0);
}

void Form3::Form3_Command1_Click()
{
    Hide();
}

void Form3::Form3_Command2_Click()
{
    picture1_.SetFontBold(c_.Check1->isChecked());
    picture1_.SetFontItalic(c_.Check2->isChecked());
    settings_.showText = c_.Check3->isChecked() ? FlagTrue : FlagFalse;
    if (const std::optional<float> size = TextToSingle(c_.Text1->text(), QLocale())) {
        try {
            picture1_.SetFontSize(*size);
        } catch (const RunError&) {
            // A size the canvas cannot take leaves the size as it was.
        }
    }
    settings_.fontColor = chosenFontColor_;
    Hide();
}

void Form3::Form3_Command3_Click()
{
    if (PickColor(cd1OfForm1_)) {
        chosenFontColor_ = cd1OfForm1_.Color();
    }
}

}  // namespace zarn
