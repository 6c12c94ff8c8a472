#pragma once

#include "canvas.h"
#include "colordialogcontrol.h"
#include "displaysettings.h"
#include "formwindow.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace zarn {

class NumericEntry;

// "Font Characteristics", behind the Settings menu's Font entry: how the
// polygon names are printed on the map. OK sets the canvas's bold, italic
// and (when the entry is numeric and the canvas can take it) size, stores
// showText and stores the label colour.
//
// The label colour is picked with "Choose Font Color" through the main
// window's common dialog CD1, which also serves the background colour. The
// dialog keeps the colour picked here as its own, chosenFontColor (black
// until a colour is picked, kept for the whole program like the centroid
// dialog's picks), and OK stores that, so that a background colour picked
// later through CD1 never becomes the label colour.
//
// "Show Text" is set from showText each time the dialog becomes active; the
// entry and "Bold" and "Italic" keep what the user left while the dialog is
// hidden, and start again from "10", bold, upright after it was closed
// through its frame.
class Form3 : public FormWindow {
    Q_OBJECT
public:
    Form3(DisplaySettings& settings, Canvas& picture1, ColorDialogControl& cd1OfForm1);

    Colour chosenFontColor() const { return chosenFontColor_; }

private:
    void Load(QWidget& window) override;
    void Unload() override;
    void Activated() override { Form3_Form_Activate(); }

    void Form3_Form_Activate();
    void Form3_Command1_Click();  // "Cancel"
    void Form3_Command2_Click();  // "OK"
    void Form3_Command3_Click();  // "Choose Font Color"

    struct Controls {
        QLabel* Label1 = nullptr;
        NumericEntry* Text1 = nullptr;
        QCheckBox* Check1 = nullptr;
        QCheckBox* Check2 = nullptr;
        QPushButton* Command1 = nullptr;
        QPushButton* Command2 = nullptr;
        QPushButton* Command3 = nullptr;
        QCheckBox* Check3 = nullptr;
    };

    DisplaySettings& settings_;
    Canvas& picture1_;
    ColorDialogControl& cd1OfForm1_;
    Colour chosenFontColor_ = 0;
    Controls c_;
};

}  // namespace zarn
