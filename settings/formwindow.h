#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QWidget;

namespace zarn {

// A secondary window of the program (the About window and the settings
// dialogs). The object lives as long as the program and is the window's one
// instance; the window itself, with its controls, exists only while it is
// loaded: it is built at the first show, kept while hidden, and discarded
// when the user closes it through its frame, so that the next show builds it
// afresh. What a subclass keeps in its own members outlives the window.
//
// The windows have no owner and do not keep the program running: closing
// the main window ends the program with them.
class FormWindow : public QObject {
    Q_OBJECT
public:
    ~FormWindow() override;

    // What the main window's menu entry does: loads the window if it is not
    // loaded, shows it modeless, brings it to the front and activates it.
    // A window already shown is only brought to the front.
    void ShowModeless();

    // The window while it is loaded, else nullptr.
    QWidget* window() const { return window_.get(); }

protected:
    FormWindow();

    // Builds the controls into the fresh, empty `window`: the load step.
    virtual void Load(QWidget& window) = 0;
    // The controls are being discarded; forget every pointer to them.
    virtual void Unload() = 0;
    // The window has become the active window, coming from another window of
    // the program. Coming back from a modal dialog (such as a colour picker
    // it opened) or from another program does not count.
    virtual void Activated() {}

    // Hides the window and keeps it loaded.
    void Hide();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<QWidget> window_;
    // The program's last active window other than a modal dialog.
    QPointer<QWidget> lastActiveWindow_;
};

}  // namespace zarn
