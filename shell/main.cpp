#include "commandline.h"
#include "dialogbackend.h"
#include "form1.h"
#include "qtcolordialogcontrol.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("ZARN"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZARN_VERSION));
    zarn::AnswerHelpAndVersion(argc, argv);
    QApplication app(argc, argv);
    const std::optional<std::string> file = zarn::FileArgument(QApplication::arguments());
    zarn::QtDialogBackend dialogs;
    zarn::Form1 form1(dialogs, zarn::QtColorDialogFactory());
    dialogs.SetParent(&form1);
    form1.show();
    if (file) {
        // Once the window is on screen, as if the file had been chosen there.
        QMetaObject::invokeMethod(&form1, [&form1, &file] { form1.OpenInputFile(*file); }, Qt::QueuedConnection);
    }
    return QApplication::exec();
}
