#include "numericentry.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace zarn {

namespace {

// A shortcut such as Ctrl+V is not a typed character, whatever text the
// platform attaches to it. Ctrl together with Alt is AltGr on some systems,
// which does type characters.
bool IsShortcut(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers mods = event.modifiers();
    return (mods & (Qt::ControlModifier | Qt::MetaModifier)) && !(mods & Qt::AltModifier);
}

bool TypesCharacter(const QKeyEvent& event)
{
    if (IsShortcut(event)) {
        return false;
    }
    for (const QChar c : event.text()) {
        if (c.isPrint()) {
            return true;
        }
    }
    return false;
}

bool IsDigits(const QString& text)
{
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

}  // namespace

NumericEntry::NumericEntry(const QString& text, QWidget* parent) : QLineEdit(text, parent)
{
    setInputMethodHints(Qt::ImhDigitsOnly);
}

void NumericEntry::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // Coming back from this field's own context menu is not gaining the focus.
    if (event->reason() == Qt::PopupFocusReason) {
        return;
    }
    selectAll();
    selectAfterPress_ = event->reason() == Qt::MouseFocusReason;
}

void NumericEntry::mousePressEvent(QMouseEvent* event)
{
    QLineEdit::mousePressEvent(event);
    if (selectAfterPress_) {
        selectAfterPress_ = false;
        selectAll();
    }
}

void NumericEntry::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Moved after this key has been handled, as a Tab typed next would.
        QMetaObject::invokeMethod(this, &NumericEntry::MoveFocusOn, Qt::QueuedConnection);
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape) {
        event->ignore();  // the dialog's: it cancels
        return;
    }
    if (key == Qt::Key_Backspace || !TypesCharacter(*event) || IsDigits(event->text())) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
}

void NumericEntry::inputMethodEvent(QInputMethodEvent* event)
{
    if (IsDigits(event->commitString())) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent withoutCommit(event->preeditString(), event->attributes());
    QLineEdit::inputMethodEvent(&withoutCommit);
}

void NumericEntry::MoveFocusOn()
{
    if (window()->focusWidget() == this) {
        focusNextChild();
    }
}

}  // namespace zarn
