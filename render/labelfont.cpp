#include "labelfont.h"

#ifdef ZARN_BUILTIN_LABEL_FONT
#include <QFontDatabase>
#include <QString>
#endif

namespace zarn {

void UseBuiltInLabelFont()
{
#ifdef ZARN_BUILTIN_LABEL_FONT
    // The same font files as the Linux build draws its labels from: Windows
    // has no DejaVu Sans, and another font would give other labels.
    static const bool added = [] {
        for (const char* file :
             {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf", "DejaVuSans-BoldOblique.ttf"}) {
            QFontDatabase::addApplicationFont(QStringLiteral(":/zarn/fonts/") + QString::fromLatin1(file));
        }
        return true;
    }();
    static_cast<void>(added);
#endif
}

}  // namespace zarn
