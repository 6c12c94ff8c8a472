#include "dialoglayout.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace zarn {

namespace {

// Sees the key presses that reach the window because no control took them.
class DialogKeys : public QObject {
public:
    DialogKeys(QWidget& window, QAbstractButton* ok, QAbstractButton* cancel)
        : QObject(&window), window_(window), ok_(ok), cancel_(cancel)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &window_ || event->type() != QEvent::KeyPress) {
            return false;
        }
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            cancel_ ? cancel_->click() : void(window_.close());
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (auto* focused = qobject_cast<QPushButton*>(window_.focusWidget())) {
                focused->click();
            } else if (ok_) {
                ok_->click();
            }
            return true;
        }
        return false;
    }

private:
    QWidget& window_;
    QPointer<QAbstractButton> ok_;
    QPointer<QAbstractButton> cancel_;
};

}  // namespace

void AnswerDialogKeys(QWidget& window, QAbstractButton* ok, QAbstractButton* cancel)
{
    new DialogKeys(window, ok, cancel);
}

QFont DialogFont(qreal points, bool bold, bool italic)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void SetUpDialogWindow(QWidget& window, const QString& caption, int width, int height)
{
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window.setWindowTitle(caption);
    window.setFont(DialogFont(8.25, false));
    window.setFixedSize(Twips(width), Twips(height));
}

void SetTabOrder(std::initializer_list<QWidget*> chain)
{
    QWidget* previous = nullptr;
    for (QWidget* widget : chain) {
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

}  // namespace zarn
