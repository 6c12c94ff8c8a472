#pragma once

#include "colordialogcontrol.h"
#include "dialoglayout.h"
#include "formwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QLineEdit>
#include <QTest>
#include <QWidget>

#include <deque>
#include <memory>
#include <optional>

namespace zarn::testing {

inline constexpr Colour Green = Rgb(0, 160, 0);
inline constexpr Colour Yellow = Rgb(255, 255, 0);
inline constexpr Colour Magenta = Rgb(255, 0, 255);
inline constexpr Colour Blue = Rgb(0, 0, 255);

// What the person at the colour pickers does, in order: accept a colour or
// cancel. Shared by every picker of a test, so the answers are consumed in
// the order the pickers are shown.
class ColorScript {
public:
    void Accept(Colour colour) { answers_.emplace_back(colour); }
    void Cancel() { answers_.emplace_back(std::nullopt); }

    std::optional<Colour> Next()
    {
        if (answers_.empty()) {
            QTest::qFail("a colour picker was shown without a scripted answer", __FILE__, __LINE__);
            return std::nullopt;
        }
        const std::optional<Colour> answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    bool Done() const { return answers_.empty(); }

private:
    std::deque<std::optional<Colour>> answers_;
};

class ScriptedColorDialog : public ColorDialogControl {
public:
    explicit ScriptedColorDialog(std::shared_ptr<ColorScript> script) : script_(std::move(script)) {}

    void ShowColor() override
    {
        const std::optional<Colour> answer = script_->Next();
        if (!answer) {
            if (CancelError) {
                throw DialogCancelled{};
            }
            return;
        }
        color_ = *answer;
    }
    Colour Color() const override { return color_; }

private:
    std::shared_ptr<ColorScript> script_;
    Colour color_ = 0;
};

inline ColorDialogFactory ScriptedFactory(std::shared_ptr<ColorScript> script)
{
    return [script] { return std::make_unique<ScriptedColorDialog>(script); };
}

// Shows the dialog as its menu entry does and makes it the active window.
inline QWidget* Open(FormWindow& form)
{
    form.ShowModeless();
    QWidget* window = form.window();
    QApplication::setActiveWindow(window);
    return window;
}

template <class Control = QAbstractButton>
Control* Find(QWidget* window, const char* name)
{
    return window == nullptr ? nullptr : window->findChild<Control*>(QString::fromLatin1(name));
}

inline QLineEdit* Entry(QWidget* window)
{
    return Find<QLineEdit>(window, "Text1");
}

// Types into a dialog's entry as the user does: a click into it first,
// unless it has the focus already; either way its text is then selected.
inline void Type(QLineEdit* entry, const QString& text)
{
    if (QApplication::focusWidget() != entry) {
        QTest::mouseClick(entry, Qt::LeftButton);
    }
    QTest::keyClicks(entry, text);
}

inline void Click(QWidget* window, const char* name)
{
    QTest::mouseClick(Find(window, name), Qt::LeftButton);
}

// The dialogs' face must resolve to a real font, or the widget tests measure
// nothing.
inline bool DialogFontFound()
{
    const QFontInfo info(DialogFont(8.25, true));
    return info.family().contains(QStringLiteral("DejaVu"), Qt::CaseInsensitive);
}

}  // namespace zarn::testing
