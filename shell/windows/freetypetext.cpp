// The window draws its text with FreeType, as on Linux, not with the
// Windows font engine: the map's labels, from the font built into the
// program, then come out pixel for pixel as on Linux. Chosen before the
// application object exists; a QT_QPA_PLATFORM of the user's own wins.
#include <QByteArray>
#include <QtGlobal>

namespace {

void UseFreeTypeText()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("windows:fontengine=freetype"));
    }
}

}  // namespace

Q_CONSTRUCTOR_FUNCTION(UseFreeTypeText)
