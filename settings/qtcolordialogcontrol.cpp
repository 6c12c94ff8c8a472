#include "qtcolordialogcontrol.h"

#include <QApplication>
#include <QColorDialog>

namespace zarn {

void QtColorDialogControl::ShowColor()
{
    const auto bgr = static_cast<std::uint32_t>(color_);
    QColorDialog dialog(QColor(static_cast<int>(bgr & 0xFFU), static_cast<int>((bgr >> 8U) & 0xFFU),
                               static_cast<int>((bgr >> 16U) & 0xFFU)),
                        QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) {
        if (CancelError) {
            throw DialogCancelled{};
        }
        return;
    }
    const QColor picked = dialog.selectedColor();
    color_ = Rgb(picked.red(), picked.green(), picked.blue());
}

ColorDialogFactory QtColorDialogFactory()
{
    return [] { return std::make_unique<QtColorDialogControl>(); };
}

}  // namespace zarn
