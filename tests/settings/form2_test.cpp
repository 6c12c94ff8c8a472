#include "form2.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace zarn;

namespace {

bool WriteAbout(const QTemporaryDir& dir, const QByteArray& bytes)
{
    QFile file(dir.filePath(QStringLiteral("zarn.txt")));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList Lines(const Form2& form)
{
    QStringList lines;
    const auto* list = form.window() ? form.window()->findChild<QListWidget*>(QStringLiteral("List1")) : nullptr;
    for (int i = 0; list && i < list->count(); ++i) {
        lines << list->item(i)->text();
    }
    return lines;
}

}  // namespace

class Form2Test : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void showsTheFileLineForLine_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("an empty file gives an empty list") << QByteArray() << QStringList();
        QTest::newRow("CR LF ends a line") << QByteArray("ZARN\r\nby us\r\n") << QStringList{"ZARN", "by us"};
        QTest::newRow("empty lines are kept in their place")
            << QByteArray("a\r\n\r\nb\r\n\r\n") << QStringList{"a", "", "b", ""};
        QTest::newRow("a last line without a line end is shown") << QByteArray("a\r\nlast") << QStringList{"a", "last"};
        QTest::newRow("a lone CR ends a line") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("a lone LF ends a line") << QByteArray("a\nb\n\nc") << QStringList{"a", "b", "", "c"};
        QTest::newRow("CR before CR LF is an empty line") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("blanks are part of the line") << QByteArray("  indented \r\n") << QStringList{"  indented "};
        QTest::newRow("8-bit text in Windows-1252 is shown") << QByteArray("Caf\xe9 \x80") << QStringList{"Caf\u00e9 \u20ac"};
        QTest::newRow("UTF-8 text is shown") << QByteArray("km\xc2\xb2") << QStringList{"km\u00b2"};
    }

    void showsTheFileLineForLine()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        QVERIFY(WriteAbout(dir, file));
        Form2 form(dir.path());

        form.ShowModeless();
        QCOMPARE(Lines(form), lines);
        QCOMPARE(form.window()->windowTitle(), QStringLiteral("About ZARN"));
    }

    void aMissingFileIsReported_data()
    {
        QTest::addColumn<bool>("folderInItsPlace");
        QTest::newRow("no zarn.txt in the folder") << false;
        QTest::newRow("a zarn.txt that cannot be read") << true;
    }

    void aMissingFileIsReported()
    {
        QFETCH(bool, folderInItsPlace);
        QTemporaryDir dir;
        if (folderInItsPlace) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("zarn.txt")));
        }
        Form2 form(dir.path());

        form.ShowModeless();
        const QStringList lines = Lines(form);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(QStringLiteral("zarn.txt was not found in the program's folder")), qPrintable(lines[0]));
        QVERIFY2(lines[0].contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("zarn.txt")))),
                 qPrintable(lines[0]));
    }

    void choosingAboutTwiceShowsOneWindowUnchanged()
    {
        QTemporaryDir dir;
        QVERIFY(WriteAbout(dir, "first\r\n"));
        Form2 form(dir.path());
        form.ShowModeless();
        QWidget* window = form.window();

        QVERIFY(WriteAbout(dir, "second\r\n"));
        form.ShowModeless();

        QCOMPARE(form.window(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(Lines(form), QStringList{"first"});
        int shown = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            shown += w->isVisible() && w->windowTitle() == QLatin1String("About ZARN") ? 1 : 0;
        }
        QCOMPARE(shown, 1);
    }

    void closingAndChoosingAgainRereadsTheFile()
    {
        QTemporaryDir dir;
        QVERIFY(WriteAbout(dir, "first\r\n"));
        Form2 form(dir.path());
        form.ShowModeless();

        // Esc closes the window as its frame does.
        QTest::keyClick(form.window()->findChild<QListWidget*>(), Qt::Key_Escape);
        QVERIFY(!form.window());
        QVERIFY(WriteAbout(dir, "second\r\nthird"));
        form.ShowModeless();

        QCOMPARE(Lines(form), (QStringList{"second", "third"}));
    }

    void theTextIsFoundBesideTheProgramOrInShareZarn_data()
    {
        QTest::addColumn<bool>("beside");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("a build tree has it beside the program") << true << false << QStringList{"beside"};
        QTest::newRow("an installation has it in share/zarn") << false << true << QStringList{"installed"};
        QTest::newRow("the program's folder comes first") << true << true << QStringList{"beside"};
    }

    void theTextIsFoundBesideTheProgramOrInShareZarn()
    {
        QFETCH(bool, beside);
        QFETCH(bool, installed);
        QFETCH(QStringList, lines);
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")) && QDir(prefix.path()).mkpath(QStringLiteral("share/zarn")));
        const auto write = [&](const QString& name, const QByteArray& text) {
            QFile file(prefix.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(!beside || write(QStringLiteral("bin/zarn.txt"), "beside\n"));
        QVERIFY(!installed || write(QStringLiteral("share/zarn/zarn.txt"), "installed\n"));
        Form2 form(Form2::TextFolders(prefix.filePath(QStringLiteral("bin"))));

        form.ShowModeless();
        QCOMPARE(Lines(form), lines);
    }

    // scripts/check-install.sh names an installation's program folder here.
    void anInstallationFindsItsInstalledText()
    {
        const QString bin = qEnvironmentVariable("ZARN_INSTALLED_BIN");
        if (bin.isEmpty()) {
            QSKIP("ZARN_INSTALLED_BIN names no installation");
        }
        Form2 form(Form2::TextFolders(bin));
        form.ShowModeless();
        QVERIFY2(!QFile::exists(QDir(bin).filePath(QStringLiteral("zarn.txt"))), "an installation keeps it in share/zarn");
        QCOMPARE(Lines(form).value(0), QStringLiteral("ZARN, a Center of Gravity programme for BNA files"));
    }

    void theProgramsFolderIsTheDefault()
    {
        Form2 form;
        form.ShowModeless();
        const QStringList lines = Lines(form);
        // The test program's folder holds no zarn.txt, so the line names it.
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].contains(QStringLiteral("share") + QDir::separator() + QStringLiteral("zarn")), qPrintable(lines[0]));
        QVERIFY2(lines[0].contains(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())), qPrintable(lines[0]));
    }
};

QTEST_MAIN(Form2Test)
#include "form2_test.moc"
