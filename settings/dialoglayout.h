#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

#include <initializer_list>

class QAbstractButton;

namespace zarn {

// The settings dialogs are laid out in twips (1/1440 inch) and placed in
// pixels at 96 dots per inch: 15 twips to the pixel.
constexpr int Twips(int twips)
{
    return twips * 96 / 1440;
}

// A control's box in twips, from the top left of the client area (or of the
// frame that holds the control).
struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

// The dialogs' face: the platform's sans-serif (DejaVu Sans here) at the
// given size in points.
QFont DialogFont(qreal points, bool bold, bool italic = false);

// Makes `window` a dialog frame of fixed size, with a caption and a close
// button only, whose client area is `width` x `height` twips. Controls
// without a font of their own take the window's: 8.25 points, regular.
void SetUpDialogWindow(QWidget& window, const QString& caption, int width, int height);

// The keys of a dialog window, for the keys its controls leave to it: Esc
// clicks `cancel` (closes the window when there is none); Enter clicks the
// push button that has the focus, or else `ok` when there is one. The
// numeric entry keeps Enter for moving on to the next control.
void AnswerDialogKeys(QWidget& window, QAbstractButton* ok, QAbstractButton* cancel);

// Tab moves through `chain` in the order given.
void SetTabOrder(std::initializer_list<QWidget*> chain);

// Creates a control with its object name, caption, font and place, as the
// dialogs list them. Works for every control that takes (text, parent).
template <class Control>
Control* AddControl(QWidget& parent, const char* name, const QString& caption, const QFont& font, TwipsRect box)
{
    auto* control = new Control(caption, &parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setFont(font);
    control->setGeometry(Twips(box.left), Twips(box.top), Twips(box.width), Twips(box.height));
    return control;
}

}  // namespace zarn
