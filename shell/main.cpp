#include "dialogbackend.h"
#include "form1.h"
#include "qtcolordialogcontrol.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZARN"));
    zarn::QtDialogBackend dialogs;
    zarn::Form1 form1(dialogs, zarn::QtColorDialogFactory());
    dialogs.SetParent(&form1);
    form1.show();
    return QApplication::exec();
}
