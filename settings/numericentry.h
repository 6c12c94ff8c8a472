#pragma once

#include <QLineEdit>

namespace zarn {

// The single-line text box `Text1` of the settings dialogs, in which the user
// types a whole number. Gaining the focus selects the whole entry, so that
// the next digit replaces it. Of the typed characters only digits and
// Backspace get through; Enter is discarded and moves the focus to the next
// control in the window's tab order. Keys that type no character (Delete,
// arrows, Home, End) and the editing shortcuts (copy, cut, paste, undo,
// select all) work as in any text box, so pasted text is not filtered: the
// dialog's OK tests whether the entry is numeric. Text composed through an
// input method is typed text and is filtered like a key.
class NumericEntry : public QLineEdit {
    Q_OBJECT
public:
    explicit NumericEntry(const QString& text, QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void MoveFocusOn();

    // Set while the focus arrives by a mouse press, whose own handling would
    // put the cursor at the click and so drop the selection.
    bool selectAfterPress_ = false;
};

}  // namespace zarn
