#include "formwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace zarn {

FormWindow::FormWindow()
{
    // Which window the program activated last is seen only at the program
    // level, so the activation events of all its windows pass through here.
    QCoreApplication::instance()->installEventFilter(this);
}

FormWindow::~FormWindow()
{
    QCoreApplication::instance()->removeEventFilter(this);
    window_.reset();
}

void FormWindow::ShowModeless()
{
    if (!window_) {
        window_ = std::make_unique<QWidget>(nullptr, Qt::Window);
        window_->setAttribute(Qt::WA_QuitOnClose, false);
        Load(*window_);
        // Over the window it is opened from (the main window), rather than
        // wherever the window system would put a window without an owner.
        if (const QWidget* from = QApplication::activeWindow()) {
            if (!window_->testAttribute(Qt::WA_Resized)) {
                window_->adjustSize();
            }
            QRect frame = window_->frameGeometry();
            frame.moveCenter(from->frameGeometry().center());
            window_->move(frame.topLeft());
        }
    }
    if (!window_->isVisible()) {
        lastActiveWindow_ = nullptr;  // every showing makes the window active anew
    }
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void FormWindow::Hide()
{
    window_->hide();
}

bool FormWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close && watched == window_.get()) {
        // None of these windows refuses to close, so the close goes ahead:
        // the window is unloaded now and deleted once the close is done.
        Unload();
        window_.release()->deleteLater();
    } else if (event->type() == QEvent::WindowActivate) {
        auto* activated = qobject_cast<QWidget*>(watched);
        if (activated != nullptr && activated->isWindow() && !activated->isModal()) {
            if (activated == window_.get() && lastActiveWindow_ != activated) {
                Activated();
            }
            lastActiveWindow_ = activated;
        }
    }
    return false;
}

}  // namespace zarn
