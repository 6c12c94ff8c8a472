#include "dialoglayout.h"

namespace zarn {

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
