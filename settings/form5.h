#pragma once

#include "canvas.h"
#include "colordialogcontrol.h"
#include "displaysettings.h"
#include "formwindow.h"

#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace zarn {

class NumericEntry;

// "Centroid Characteristics", behind the Settings menu's Centroids entry: the
// circle that marks each centroid. "Border Color" and "Fill Color" share the
// dialog's own picker `cd1` and copy an accepted colour at once into
// chosenBorderColor and chosenFillColor, so the two picks stay apart. OK
// stores both colours every time (black until picked), the entry into
// centroidSize when it is numeric, and the canvas fill style: transparent
// when "Transparent" is selected, else solid. Closing the dialog through its
// frame brings the entry back to "1", "Filled" and `cd1` to black; the two
// picked colours belong to the dialog and are kept for the whole program.
class Form5 : public FormWindow {
    Q_OBJECT
public:
    Form5(DisplaySettings& settings, Canvas& picture1, ColorDialogFactory makeColorDialog);

    Colour chosenBorderColor() const { return chosenBorderColor_; }
    Colour chosenFillColor() const { return chosenFillColor_; }

private:
    void Load(QWidget& window) override;
    void Unload() override;

    void Form5_Command1_Click();  // "Border Color"
    void Form5_Command2_Click();  // "Cancel"
    void Form5_Command3_Click();  // "OK"
    void Form5_Command4_Click();  // "Fill Color"

    struct Controls {
        QGroupBox* Frame1 = nullptr;
        QRadioButton* Option1 = nullptr;
        QRadioButton* Option2 = nullptr;
        QLabel* Label1 = nullptr;
        NumericEntry* Text1 = nullptr;
        QPushButton* Command1 = nullptr;
        QPushButton* Command2 = nullptr;
        QPushButton* Command3 = nullptr;
        QPushButton* Command4 = nullptr;
    };

    DisplaySettings& settings_;
    Canvas& picture1_;
    ColorDialogFactory makeColorDialog_;
    std::unique_ptr<ColorDialogControl> cd1_;
    Colour chosenBorderColor_ = 0;
    Colour chosenFillColor_ = 0;
    Controls c_;
};

}  // namespace zarn
