#pragma once

#include "colordialogcontrol.h"
#include "displaysettings.h"
#include "formwindow.h"

#include <memory>

class QLabel;
class QPushButton;

namespace zarn {

class NumericEntry;

// "LIne Characteristics", behind the Settings menu's Lines entry: the colour
// and the thickness of the polygon outlines. The colour picked with "Line
// Color" waits in the dialog's own picker `cd1` until OK; OK stores it into
// lineColor every time, and the entry into lineWidth when it is numeric. The
// dialog does not load the current settings: its entry and colour show what
// the user last left in them. Closing it through its frame discards the
// entry and `cd1`, so the next show starts again from "1" and black.
class Form4 : public FormWindow {
    Q_OBJECT
public:
    Form4(DisplaySettings& settings, ColorDialogFactory makeColorDialog);

private:
    void Load(QWidget& window) override;
    void Unload() override;

    void Form4_Command1_Click();  // "Line Color"
    void Form4_Command2_Click();  // "Cancel"
    void Form4_Command3_Click();  // "OK"

    struct Controls {
        QLabel* Label1 = nullptr;
        NumericEntry* Text1 = nullptr;
        QPushButton* Command1 = nullptr;
        QPushButton* Command2 = nullptr;
        QPushButton* Command3 = nullptr;
    };

    DisplaySettings& settings_;
    ColorDialogFactory makeColorDialog_;
    std::unique_ptr<ColorDialogControl> cd1_;
    Controls c_;
};

}  // namespace zarn
