// The main window driven as a user would: a click on "Select input bna", a
// scripted file choice, and the lists, result files and bitmap checked.

#include "batchcommand.h"
#include "commandline.h"
#include "cuttingform.h"
#include "dialogbackend.h"
#include "exportdialog.h"
#include "focusmark.h"
#include "form1.h"
#include "form2.h"
#include "form3.h"
#include "form4.h"
#include "form5.h"
#include "linelistmodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QListView>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace zarn;

namespace {

// Stands in for the modal windows: answers from a script, records messages.
class ScriptedDialogs : public DialogBackend {
public:
    std::deque<std::optional<std::string>> files;
    std::deque<std::optional<Colour>> colours;
    std::vector<std::string> messages;
    std::function<void(const std::string&)> onCritical;
    std::string lastOpenTitle;
    std::string lastFilter;
    std::size_t opened = 0;  // open-file dialogs shown

    std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                        const std::string& /*previous*/) override
    {
        lastOpenTitle = title;
        lastFilter = filter;
        ++opened;
        if (files.empty()) {
            return std::nullopt;
        }
        auto f = files.front();
        files.pop_front();
        return f;
    }
    std::optional<Colour> PickColor(Colour /*initial*/) override
    {
        if (colours.empty()) {
            return std::nullopt;
        }
        auto c = colours.front();
        colours.pop_front();
        return c;
    }
    void Critical(const std::string& text) override { CriticalWithCause(text, {}); }
    std::vector<std::string> causes;  // one per message, empty where it had none
    void CriticalWithCause(const std::string& text, const std::string& cause) override
    {
        messages.push_back(text);
        causes.push_back(cause);
        if (onCritical) {
            onCritical(text);
        }
    }
    std::vector<std::string> warnings;
    std::vector<std::string> warningCauses;
    void WarningWithCause(const std::string& text, const std::string& cause) override
    {
        warnings.push_back(text);
        warningCauses.push_back(cause);
    }
    std::deque<std::optional<std::vector<bool>>> ticks;
    std::vector<std::vector<bool>> ticksShown;
    std::string ticksText;
    std::optional<std::vector<bool>> ChooseTicks(const std::string& /*title*/, const std::string& text,
                                                 const std::vector<std::string>& /*labels*/,
                                                 const std::vector<bool>& ticked) override
    {
        ticksText = text;
        ticksShown.push_back(ticked);
        if (ticks.empty()) {
            return std::nullopt;
        }
        auto t = ticks.front();
        ticks.pop_front();
        return t;
    }
};

// The colour pickers of the line and centroid dialogs: each answers Cancel.
class CancellingPicker : public ColorDialogControl {
public:
    void ShowColor() override
    {
        if (CancelError) {
            throw DialogCancelled{};
        }
    }
    Colour Color() const override { return 0; }
};

ColorDialogFactory CancellingPickers()
{
    return [] { return std::make_unique<CancellingPicker>(); };
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

std::vector<std::string> Lines(const LineListModel& model)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < model.LineCount(); ++i) {
        lines.emplace_back(model.Line(i));
    }
    return lines;
}

const QByteArray Rings = "\"First\",\"Second\",5\r\n0,0\r\n1,0\r\n1,1\r\n0,1\r\n0,0\r\n"
                         "\"Box\",\"B\",5\r\n10,50\r\n12,50\r\n12,51\r\n10,51\r\n10,50\r\n"
                         "\"Tri\",\"T\",4\r\n0,0\r\n2,0\r\n0,2\r\n0,0\r\n";

// True when `colour` is within one pixel of (px, py).
bool ColourNear(const QImage& image, double px, double py, QRgb colour)
{
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int x = static_cast<int>(px) + dx;
            const int y = static_cast<int>(py) + dy;
            if (image.valid(x, y) && (image.pixel(x, y) & 0xFFFFFFU) == (colour & 0xFFFFFFU)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString Path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY2(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")),
                 "the label font DejaVu Sans (fonts-dejavu-core) is not installed");
    }

    void startsWithEmptyListsAndAFocusedButton()
    {
        ScriptedDialogs dialogs;
        Form1 form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(),
                 QStringLiteral("ZARN, a Center of Gravity programme for BNA files by the ZARN developers"));
        auto* button = form.findChild<QPushButton*>(QStringLiteral("Command1"));
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), QStringLiteral("Select &input bna"));
        QCOMPARE(button->geometry(), QRect(8, 8, 377, 41));
        QVERIFY(button->hasFocus());
        QCOMPARE(form.list1().LineCount(), std::size_t{0});
        QCOMPARE(form.list2().LineCount(), std::size_t{0});
        QCOMPARE(form.settings().lineWidth, 2);
        QCOMPARE(form.settings().centroidSize, std::int16_t{3});
        QVERIFY(form.picture().FontBold());
        QCOMPARE(form.picture().FillStyle(), std::int16_t{0});
    }

    // Tab goes from the button through the progress list and the canvas to
    // the summary list.
    void tabOrderRunsThroughEveryControl()
    {
        ScriptedDialogs dialogs;
        Form1 form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"Command1", "List1", "Picture1", "List2"}));
    }

    // Clicks and keys given while a run holds the window are dropped when it
    // ends, not replayed: a click on the button must not start another run
    // over the results. The cursor shows the window busy meanwhile, and a
    // line wider than its list gives the list a horizontal scroll bar.
    void inputDuringARunIsDroppedAndLongLinesScroll()
    {
        const QString input = Path(QStringLiteral("a folder name long enough to be wider than the list/during.bna"));
        QVERIFY(QDir().mkpath(QFileInfo(input).path()));
        WriteFile(input, Rings);
        ScriptedDialogs dialogs;
        dialogs.files = {input.toStdString(), input.toStdString()};
        test::CuttingForm form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* button = form.findChild<QPushButton*>(QStringLiteral("Command1"));
        std::optional<Qt::CursorShape> cursorDuringRun;
        form.at = "Read polygon Box with 5 points.";
        form.meanwhile = [&] {
            if (const QCursor* cursor = QGuiApplication::overrideCursor()) {
                cursorDuringRun = cursor->shape();
            }
            const QPointF centre = button->rect().center();
            const QPointF global = button->mapToGlobal(centre);
            for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                QCoreApplication::postEvent(button, new QMouseEvent(type, centre, global, Qt::LeftButton,
                                                                    type == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                                                     : Qt::NoButton,
                                                                    Qt::NoModifier));
            }
            QCoreApplication::postEvent(button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
            QCoreApplication::postEvent(button, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " "));
        };

        QTest::mouseClick(button, Qt::LeftButton);
        QCoreApplication::processEvents();

        QCOMPARE(dialogs.files.size(), std::size_t{1});  // no second run asked for a file
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
        QCOMPARE(cursorDuringRun, std::optional<Qt::CursorShape>(Qt::WaitCursor));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        for (const char* name : {"List1", "List2"}) {
            auto* list = form.findChild<QListView*>(QString::fromLatin1(name));
            QVERIFY2(list->horizontalScrollBar()->maximum() > 0, name);
        }
    }

    // Every menu entry has a mnemonic of its own within its menu, Alt+S
    // opens the Settings menu and Alt+I starts a run as the button does.
    void menusAndTheButtonAnswerTheKeyboard()
    {
        ScriptedDialogs dialogs;
        Form1 form(dialogs, CancellingPickers());
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto* settings = form.findChild<QMenu*>(QStringLiteral("mnuSettings"));
        for (const QList<QAction*>& entries : {form.menuBar()->actions(), settings->actions()}) {
            QSet<QChar> keys;
            for (const QAction* entry : entries) {
                if (entry->isSeparator()) {
                    continue;
                }
                const auto amp = entry->text().indexOf(QLatin1Char('&'));
                QVERIFY2(amp >= 0 && amp + 1 < entry->text().size(), qPrintable(entry->text()));
                const QChar key = entry->text()[amp + 1].toLower();
                QVERIFY2(!keys.contains(key), qPrintable(entry->text()));
                keys.insert(key);
            }
        }

        QTest::keyClick(&form, Qt::Key_I, Qt::AltModifier);
        QTRY_COMPARE(dialogs.lastOpenTitle, std::string("Open bna file."));  // the button's click is animated

        for (const QKeyCombination key : {Qt::AltModifier | Qt::Key_S, QKeyCombination(Qt::Key_F10)}) {
            QTest::keyClick(&form, key.key(), key.keyboardModifiers());
            QTRY_VERIFY(settings->isVisible());
            QTest::keyClick(settings, Qt::Key_Escape);
            QTRY_VERIFY(!settings->isVisible());
        }
    }

    // The control with the focus shows it, even empty or showing the map.
    void focusedControlsShowAMark()
    {
        ScriptedDialogs dialogs;
        Form1 form(dialogs, CancellingPickers());
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const QRgb mark = form.palette().color(QPalette::Active, QPalette::Highlight).rgb();
        const auto surface = [&](const char* name) -> QWidget* {
            auto* widget = form.findChild<QWidget*>(QString::fromLatin1(name));
            auto* list = qobject_cast<QListView*>(widget);
            return list != nullptr ? list->viewport() : widget;
        };
        for (const char* name : {"List1", "Picture1", "List2"}) {
            QWidget* control = form.findChild<QWidget*>(QString::fromLatin1(name));
            control->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY(control->hasFocus());
            for (const char* other : {"List1", "Picture1", "List2"}) {
                const QImage image = surface(other)->grab().toImage();
                const bool marked = image.pixel(0, image.height() / 2) == mark && image.pixel(image.width() / 2, 1) == mark;
                QVERIFY2(marked == (std::string_view(name) == other), other);
            }
        }
    }

    // While a run goes on, Esc and the status bar's Stop reach the window and
    // ask the run to stop; every other key and click is dropped. The button
    // is there only while the run is.
    void escAndStopAskTheRunToStop_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("stops");
        QTest::newRow("Esc") << "esc" << true;
        QTest::newRow("a click on Stop") << "stop" << true;
        QTest::newRow("another key") << "key" << false;
        QTest::newRow("a click on the button") << "button" << false;
    }

    void escAndStopAskTheRunToStop()
    {
        QFETCH(QString, input);
        QFETCH(bool, stops);
        const QString path = Path(QStringLiteral("stop.bna"));
        WriteFile(path, Rings);
        ScriptedDialogs dialogs;
        dialogs.files = {path.toStdString(), path.toStdString()};
        test::CuttingForm form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* stop = form.findChild<QPushButton*>(QStringLiteral("cmdStop"));
        auto* button = form.findChild<QPushButton*>(QStringLiteral("Command1"));
        QVERIFY(stop != nullptr && !stop->isVisible());
        bool shownDuringRun = false;
        std::optional<bool> asked;
        form.at = "Read polygon Box with 5 points.";
        form.meanwhile = [&] {
            shownDuringRun = stop->isVisible();
            QWindow* window = form.windowHandle();
            if (input == QLatin1String("esc")) {
                QTest::keyClick(window, Qt::Key_Escape);
            } else if (input == QLatin1String("key")) {
                QTest::keyClick(window, Qt::Key_X);
            } else {
                QWidget* target = input == QLatin1String("stop") ? static_cast<QWidget*>(stop) : button;
                QTest::mouseClick(window, Qt::LeftButton, {}, target->mapTo(&form, target->rect().center()));
            }
            QCoreApplication::processEvents();
            asked = form.stopRequested();
        };

        form.Form1_Command1_Click();

        QVERIFY(shownDuringRun);
        QCOMPARE(asked, std::optional<bool>(stops));
        QVERIFY(!stop->isVisible());
        QCOMPARE(dialogs.files.size(), std::size_t{1});  // the click on the button started no run
        form.Form1_Command1_Click();
        QVERIFY(!form.stopRequested());  // each run starts afresh
    }

    // Every shortcut, mnemonic and menu key is held while a run goes on, as
    // clicks are: none opens a dialog, a menu or the About window, and none
    // starts a second run, then or once the run is over.
    void shortcutsAreHeldDuringARun_data()
    {
        QTest::addColumn<QKeyCombination>("key");
        QTest::newRow("Ctrl+O, the open shortcut") << (Qt::ControlModifier | Qt::Key_O);
        QTest::newRow("Alt+I, the button's mnemonic") << (Qt::AltModifier | Qt::Key_I);
        QTest::newRow("Alt+A, About") << (Qt::AltModifier | Qt::Key_A);
        QTest::newRow("Alt+S, the Settings menu") << (Qt::AltModifier | Qt::Key_S);
        QTest::newRow("F10, the menus") << QKeyCombination(Qt::Key_F10);
        QTest::newRow("Return on the button") << QKeyCombination(Qt::Key_Return);
        QTest::newRow("Space on the button") << QKeyCombination(Qt::Key_Space);
    }

    void shortcutsAreHeldDuringARun()
    {
        QFETCH(QKeyCombination, key);
        const QString path = Path(QStringLiteral("held.bna"));
        WriteFile(path, Rings);
        ScriptedDialogs dialogs;
        dialogs.files = {path.toStdString(), path.toStdString()};
        test::CuttingForm form(dialogs, CancellingPickers());
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto* settings = form.findChild<QMenu*>(QStringLiteral("mnuSettings"));
        const auto opened = [&] {
            return QApplication::activePopupWidget() != nullptr || QApplication::activeModalWidget() != nullptr ||
                   settings->isVisible() || form.menuBar()->activeAction() != nullptr || form.form2() != nullptr;
        };
        bool openedDuringRun = false;
        form.at = "Read polygon Box with 5 points.";
        form.meanwhile = [&] {
            QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
            QCoreApplication::processEvents();
            openedDuringRun = opened();
        };

        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
        QTest::qWait(200);  // a mnemonic clicks its button after a short animation

        QVERIFY(!openedDuringRun);
        QVERIFY(!opened());
        QCOMPARE(dialogs.opened, std::size_t{1});
        QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
    }

    // Esc or Stop in each stage ends the run there: the status line says
    // "Stopping…", the earlier results stay byte for byte and no temporary
    // file is left.
    void stopEndsTheRunInEveryStage_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("line");
        QTest::newRow("reading") << static_cast<int>(RunPhase::Reading) << "Stopped by the user at record 2.";
#ifdef ZARN_HAVE_EXPORT
        QTest::newRow("writing the GeoPackage") << static_cast<int>(RunPhase::Writing)
                                                << "Stopped by the user while writing GeoPackage.";
#endif
        QTest::newRow("drawing") << static_cast<int>(RunPhase::Drawing) << "Stopped by the user while drawing the map.";
    }

    void stopEndsTheRunInEveryStage()
    {
        QFETCH(int, phase);
        QFETCH(QString, line);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("earlier.bna"));
        WriteFile(path, Rings);
        ScriptedDialogs dialogs;
        dialogs.files = {path.toStdString(), path.toStdString()};
        dialogs.ticks = {std::vector<bool>{true, false, false, false, false}};
        test::CuttingForm form(dialogs, CancellingPickers());
        form.show();
        if (QAction* exporting = form.findChild<QAction*>(QStringLiteral("mnuExport"))) {
            exporting->trigger();
        }
        form.Form1_Command1_Click();
        QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
        QStringList written = QDir(folder.path()).entryList(QDir::Files);
        written.removeOne(QStringLiteral("earlier.bna"));
        std::vector<QByteArray> before;
        for (const QString& name : written) {
            before.push_back(ReadAll(folder.filePath(name)));
        }
        WriteFile(path, Rings + Rings);  // a run that would change every result

        QString status;
        form.onPhase = [&](RunPhase at) {
            if (static_cast<int>(at) == phase && status.isEmpty()) {
                QTest::keyClick(form.windowHandle(), Qt::Key_Escape);
                status = form.findChild<QLabel*>(QStringLiteral("status"))->text();
            }
        };
        if (phase == static_cast<int>(RunPhase::Reading)) {
            form.onPhase = nullptr;
            form.at = "Read polygon First with 5 points.";
            form.meanwhile = [&] {
                QTest::keyClick(form.windowHandle(), Qt::Key_Escape);
                status = form.findChild<QLabel*>(QStringLiteral("status"))->text();
            };
        }
        form.Form1_Command1_Click();

        QCOMPARE(form.lastOutcome(), RunOutcome::Stopped);
        QCOMPARE(QString::fromStdString(std::string(form.list1().Line(form.list1().LineCount() - 1))), line);
        QCOMPARE(status, QStringLiteral("Stopping\u2026"));
        QCOMPARE(form.list2().LineCount(), std::size_t{0});
        QVERIFY(dialogs.messages.empty());
        QStringList after = QDir(folder.path()).entryList(QDir::Files);
        after.removeOne(QStringLiteral("earlier.bna"));
        QCOMPARE(after, written);  // nothing new, no temporary file
        for (int i = 0; i < written.size(); ++i) {
            const QByteArray now = ReadAll(folder.filePath(written[i]));
            QVERIFY2(now == before[static_cast<std::size_t>(i)], qPrintable(written[i]));
        }
    }

#ifdef ZARN_HAVE_EXPORT
    // Completing a GeoPackage of many rows asks whether to stop inside
    // SQLite's statements (the last commit, the R-tree), not only between
    // them; a stop there drops the run's files and leaves the earlier ones.
    void aGeoPackageCanBeStoppedInsideSQLite()
    {
#ifndef ZARN_GPKG_INDEX_AFTER_ROWS
        QSKIP("this GDAL fills a GeoPackage's R-tree while the rows go in: its completion has no long statement to stop");
#endif
        class AskCountingForm : public test::CuttingForm {
        public:
            using CuttingForm::CuttingForm;
            int asks = 0;       // while writing
            int stopAtAsk = 0;  // none
        protected:
            void Phase(RunPhase phase, std::string_view subject) override
            {
                writing_ = phase == RunPhase::Writing;
                CuttingForm::Phase(phase, subject);
            }
            bool StopRequested() override
            {
                if (writing_ && ++asks == stopAtAsk) {
                    QTest::keyClick(windowHandle(), Qt::Key_Escape);
                }
                return CuttingForm::StopRequested();
            }
        private:
            bool writing_ = false;
        };
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("many.bna"));
        QByteArray boxes;
        for (int i = 0; i < 4000; ++i) {
            const QByteArray x = QByteArray::number(i % 300 * 0.5 - 75);
            const QByteArray y = QByteArray::number(i / 300 * 0.5 - 5);
            boxes += "\"B" + QByteArray::number(i) + "\",\"b\",5\r\n" + x + "," + y + "\r\n" + x + ".2," + y + "\r\n" +
                     x + ".2," + y + ".2\r\n" + x + "," + y + ".2\r\n" + x + "," + y + "\r\n";
        }
        WriteFile(path, boxes);
        ScriptedDialogs dialogs;
        dialogs.files = {path.toStdString(), path.toStdString()};
        dialogs.ticks = {std::vector<bool>{true, false, false, false, false}};
        AskCountingForm form(dialogs, CancellingPickers());
        form.show();
        form.findChild<QAction*>(QStringLiteral("mnuExport"))->trigger();
        form.Form1_Command1_Click();
        QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
        QVERIFY2(form.asks > 2, "SQLite does not ask while it completes the GeoPackage");
        const QByteArray earlier = ReadAll(folder.filePath(QStringLiteral("many.gpkg")));

        form.asks = 0;
        form.stopAtAsk = 2;  // inside SQLite's statements, as the first run shows
        form.Form1_Command1_Click();

        QCOMPARE(form.lastOutcome(), RunOutcome::Stopped);
        QCOMPARE(form.list1().Line(form.list1().LineCount() - 1), "Stopped by the user while writing GeoPackage.");
        QVERIFY(dialogs.messages.empty());
        QVERIFY(ReadAll(folder.filePath(QStringLiteral("many.gpkg"))) == earlier);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                 (QStringList{"many.bna", "many.gpkg", "manyArea.csv", "manyCentroid.bna", "manyMap.bmp"}));
    }
#endif

    // `zarn FILE.bna` and a .bna dropped on the window start a run on it as
    // if it had been chosen; a drop is refused while a run goes on, and so
    // is anything but one .bna file.
    void aFileNamedOrDroppedStartsARun()
    {
        QVERIFY(!FileArgument({QStringLiteral("zarn")}).has_value());
        const QString relative = QStringLiteral("named.bna");
        const std::string absolute = QFile::encodeName(QDir::current().absoluteFilePath(relative)).toStdString();
        QCOMPARE(FileArgument({QStringLiteral("zarn"), relative}), std::optional<std::string>(absolute));

        const QString path = Path(QStringLiteral("dropped.bna"));
        WriteFile(path, Rings);
        ScriptedDialogs dialogs;
        test::CuttingForm form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.OpenInputFile(path.toStdString());
        QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
        QCOMPARE(form.list1().Line(0), " Open " + path.toStdString());
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
        QCOMPARE(dialogs.opened, std::size_t{0});

        const auto drag = [&](const QString& file) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(file)});
            const QPoint at = form.rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&form, &enter);
            if (!enter.isAccepted()) {
                return false;
            }
            QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&form, &drop);
            return drop.isAccepted();
        };
        QVERIFY(!drag(Path(QStringLiteral("notes.txt"))));
        std::optional<bool> takenDuringRun;
        form.at = "Read polygon Box with 5 points.";
        form.meanwhile = [&] { takenDuringRun = drag(path); };
        QVERIFY(drag(path));
        QTRY_VERIFY(takenDuringRun.has_value());
        QVERIFY(!*takenDuringRun);
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
        QCOMPARE(form.list1().Line(0), " Open " + path.toStdString());
        QTest::qWait(50);
        const std::vector<std::string> progress = Lines(form.list1());
        const auto opens = [](const std::string& l) { return l.starts_with(" Open "); };
        QCOMPARE(std::count_if(progress.begin(), progress.end(), opens), std::ptrdiff_t{1});
    }

    // At its start size the controls are where they have always been; a
    // larger window gives the room to the lists, and the canvas keeps its
    // size beside them.
    void resizingGrowsTheListsAndKeepsTheCanvasBesideThem()
    {
        ScriptedDialogs dialogs;
        Form1 form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto at = [&](const char* name) { return form.findChild<QWidget*>(QString::fromLatin1(name))->geometry(); };
        QCOMPARE(at("List1"), QRect(8, 64, 377, 342));
        QCOMPARE(at("List2"), QRect(8, 424, 377, 121));
        QCOMPARE(at("Picture1"), QRect(392, 8, 545, 545));

        form.resize(form.size() + QSize(300, 200));
        QTRY_COMPARE(at("Picture1").size(), QSize(545, 545));
        QTRY_COMPARE(at("Picture1").topLeft(), QPoint(392 + 300, 8));
        QCOMPARE(at("List1").width(), 377 + 300);
        QCOMPARE(at("List1").height() + at("List2").height(), 342 + 121 + 200);
        QVERIFY(at("List1").height() > 342 + 100 && at("List2").height() > 121 + 20);
        QCOMPARE(at("List2").bottom(), at("Picture1").bottom() + 200 - 8);
        QCOMPARE(at("Command1"), QRect(8, 8, 377, 41));
    }

    // The window fits the screen it is on (run also at a scale factor of 1.5
    // on a 1280 x 800 screen): it starts within the screen, its status bar
    // with Stop is in view during a run, the controls scroll where they do
    // not fit, and the settings windows and About open over it. The
    // focused button shows its mark from the start.
    void theWindowFitsItsScreen()
    {
        const QString path = Path(QStringLiteral("fits.bna"));
        WriteFile(path, Rings);
        ScriptedDialogs dialogs;
        dialogs.files.push_back(path.toStdString());
        test::CuttingForm form(dialogs, CancellingPickers());
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const QRect screen = form.screen()->availableGeometry();
        QVERIFY2(screen.contains(form.frameGeometry()), qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                                                    .arg(form.width())
                                                                    .arg(form.height())
                                                                    .arg(screen.width())
                                                                    .arg(screen.height())));
        QVERIFY(form.minimumSizeHint().width() <= screen.width() && form.minimumSizeHint().height() <= screen.height());

        auto* button = form.findChild<QPushButton*>(QStringLiteral("Command1"));
        const QRgb mark = form.palette().color(QPalette::Active, QPalette::Highlight).rgb();
        const QImage focused = button->grab().toImage();
        QCOMPARE(focused.pixel(0, focused.height() / 2), mark);
        QCOMPARE(focused.pixel(focused.width() / 2, 1), mark);

        bool stopInView = false;
        form.at = "Read polygon Box with 5 points.";
        form.meanwhile = [&] {
            auto* stop = form.findChild<QPushButton*>(QStringLiteral("cmdStop"));
            stopInView = stop->isVisible() && form.rect().contains(QRect(stop->mapTo(&form, QPoint(0, 0)), stop->size()));
        };
        form.Form1_Command1_Click();
        QVERIFY(stopInView);

        const int canvasHeight = form.findChild<QWidget*>(QStringLiteral("Picture1"))->height();
        auto* area = form.findChild<QScrollArea*>(QStringLiteral("clientArea"));
        QCOMPARE(area->verticalScrollBar()->maximum() > 0, area->viewport()->height() < canvasHeight + 12);

        form.findChild<QAction*>(QStringLiteral("mnuFont"))->trigger();
        form.activateWindow();
        QTRY_VERIFY(form.isActiveWindow());
        form.findChild<QAction*>(QStringLiteral("mnuAbout"))->trigger();
        for (FormWindow* w : std::vector<FormWindow*>{form.form3(), form.form2()}) {
            const QPoint offset = w->window()->frameGeometry().center() - form.frameGeometry().center();
            QVERIFY2(offset.manhattanLength() <= 6, qPrintable(w->window()->windowTitle()));  // frames of odd size
        }
    }

    void aRunFillsTheListsWritesTheFilesAndSavesTheMap()
    {
        const QString input = Path(QStringLiteral("rings.bna"));
        WriteFile(input, Rings);
        ScriptedDialogs dialogs;
        dialogs.files.push_back(input.toStdString());
        Form1 form(dialogs, CancellingPickers());
        form.show();

        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);

        QCOMPARE(dialogs.lastOpenTitle, std::string("Open bna file."));
        QCOMPARE(dialogs.lastFilter, std::string("BNA (*.bna)| *.bna| All (*.*) | *.*"));
        QVERIFY(dialogs.messages.empty());
        const std::vector<std::string> progress = {
            " Open " + input.toStdString(),
            "Read polygon First with 5 points.",
            "Area (sq km): 12363.829",
            "Center of Gravity: (0.5, 0.5)",
            "Read polygon Box with 5 points.",
            "Area (sq km): 15729.324",
            "Center of Gravity: (11, 50.5)",
            "Read polygon Tri with 4 points.",
            "Area (sq km): 24724.835",
            "Center of Gravity: (0.667, 0.667)",
            "Read polygon First with 5 points for drawing.",
            "Read polygon Box with 5 points for drawing.",
            "Read polygon Tri with 4 points for drawing.",
        };
        QCOMPARE(Lines(form.list1()), progress);
        const std::vector<std::string> summary = {
            " ",
            "The following files are written to your hard disk",
            " at the folder " + dir_.path().toStdString() + "/",
            " based on the input from rings.bna:",
            "\tCentroids: \tringsCentroid.bna",
            "\tAreas (sq km): \tringsArea.csv",
            "\tMap: \t\tringsMap.bmp",
        };
        QCOMPARE(Lines(form.list2()), summary);
        QVERIFY(form.findChild<QListView*>(QStringLiteral("List1"))->font().bold());
        QVERIFY(form.findChild<QListView*>(QStringLiteral("List2"))->font().bold());

        QCOMPARE(ReadAll(Path(QStringLiteral("ringsArea.csv"))),
                 QByteArray("\"First\", \"Second\", 12363.829\r\n\"Box\", \"B\", 15729.324\r\n"
                            "\"Tri\", \"T\", 24724.835\r\n"));
        QCOMPARE(ReadAll(Path(QStringLiteral("ringsCentroid.bna"))),
                 QByteArray("\"First Centroid\", \"Second\", 1\r\n0.5, 0.5\r\n\"Box Centroid\", \"B\", 1\r\n"
                            "11, 50.5\r\n\"Tri Centroid\", \"T\", 1\r\n0.667, 0.667\r\n"));
        QCOMPARE(ReadAll(input), Rings);

        // The saved map: a 24-bit BMP of the canvas.
        const QByteArray bmp = ReadAll(Path(QStringLiteral("ringsMap.bmp")));
        QVERIFY(bmp.startsWith("BM"));
        QCOMPARE(static_cast<int>(bmp[28]), 24);
        QImage map;
        QVERIFY(map.loadFromData(bmp, "BMP"));
        QCOMPARE(map.size(), QSize(545, 545));
        QCOMPARE(map, form.picture().image().convertToFormat(map.format()));

        const CanvasTransform t(form.mapDrawing().mapExtent(), ComputeMapScale(form.mapDrawing().mapExtent()));
        const auto px = [&](double lon) { return ImageCanvas::PixelX(t.X(lon)); };
        const auto py = [&](double lat) { return ImageCanvas::PixelY(t.Y(lat)); };
        // Red outline 2 pixels wide along the box's southern edge, blue fill at its centroid.
        QVERIFY(ColourNear(map, px(10.5), py(50), qRgb(255, 0, 0)));
        QVERIFY(ColourNear(map, px(11), py(50.5), qRgb(0, 0, 255)));
        // Nothing but background far from every polygon.
        QCOMPARE(map.pixel(500, 300) & 0xFFFFFFU, qRgb(255, 255, 255) & 0xFFFFFFU);
    }

    // On a screen whose pixels are finer (run also at a scale factor of 2),
    // the map on screen is drawn at the screen's resolution, not the saved
    // picture enlarged; the saved map stays the 545 x 545 canvas.
    void theMapIsDrawnAtTheScreensResolution()
    {
        const QString input = Path(QStringLiteral("sharp.bna"));
        WriteFile(input, Rings);
        ScriptedDialogs dialogs;
        dialogs.files.push_back(input.toStdString());
        Form1 form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Form1_Command1_Click();

        const qreal ratio = form.devicePixelRatio();
        QCOMPARE(form.screenPicture() != nullptr, ratio > 1.0);
        QImage saved;
        QVERIFY(saved.load(Path(QStringLiteral("sharpMap.bmp")), "BMP"));
        QCOMPARE(saved.size(), QSize(545, 545));
        QCOMPARE(saved, form.picture().image().convertToFormat(saved.format()));
        const QImage shown = form.findChild<QWidget*>(QStringLiteral("Picture1"))->grab().toImage().convertToFormat(saved.format());
        QCOMPARE(shown.size(), QSize(545, 545) * ratio);
        if (ratio > 1.0) {
            QVERIFY(shown != saved.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
            const CanvasTransform t(form.mapDrawing().mapExtent(), ComputeMapScale(form.mapDrawing().mapExtent()));
            QVERIFY(ColourNear(shown, ImageCanvas::PixelX(t.X(10.5)) * ratio, ImageCanvas::PixelY(t.Y(50)) * ratio,
                               qRgb(255, 0, 0)));
        }
    }

    void aCancelledChoiceLeavesEverythingEmpty()
    {
        const QString input = Path(QStringLiteral("cancel.bna"));
        WriteFile(input, Rings);
        ScriptedDialogs dialogs;
        dialogs.files = {input.toStdString(), std::nullopt};
        Form1 form(dialogs, CancellingPickers());
        form.Form1_Command1_Click();
        QVERIFY(form.list1().LineCount() > 0);
        QFile::remove(Path(QStringLiteral("cancelArea.csv")));

        form.Form1_Command1_Click();
        QCOMPARE(form.list1().LineCount(), std::size_t{0});
        QCOMPARE(form.list2().LineCount(), std::size_t{0});
        QVERIFY(!QFile::exists(Path(QStringLiteral("cancelArea.csv"))));
        const QImage& image = form.picture().image();
        QCOMPARE(image.pixel(120, 16), image.pixel(0, 0));
        QVERIFY(dialogs.messages.empty());
    }

    void anOversizedRecordIsSkippedAndWarnedAboutAfterTheSummary()
    {
        QByteArray data = "\"Big\",\"b\",20001\r\n";
        for (int i = 0; i < 20001; ++i) {
            data += QByteArray::number(i % 100) + "," + QByteArray::number(i / 1000) + "\r\n";
        }
        data = Rings.left(Rings.indexOf("\"Box\"")) + data + Rings.mid(Rings.indexOf("\"Box\""));
        const QString input = Path(QStringLiteral("big.bna"));
        WriteFile(input, data);
        ScriptedDialogs dialogs;
        dialogs.files.push_back(input.toStdString());
        Form1 form(dialogs, CancellingPickers());
        std::size_t summaryWhenWarned = 0;
        dialogs.onCritical = [&](const std::string&) { summaryWhenWarned = form.list2().LineCount(); };

        form.Form1_Command1_Click();

        const std::vector<std::string> lines = Lines(form.list1());
        const std::vector<std::string> skip = {"Read polygon Big with 20001 points.", "",
                                               "The polygon Big consists of 20001 points.",
                                               "ZARN can treat only polygons with up to 20000 points.",
                                               "Therefore this polygon is skipped.", ""};
        QCOMPARE(std::vector<std::string>(lines.begin() + 4, lines.begin() + 10), skip);
        QCOMPARE(lines[10], std::string("Read polygon Box with 5 points."));
        QCOMPARE(dialogs.messages, std::vector<std::string>{"There was at least one polygon with too many points (>20000)."});
        QCOMPARE(dialogs.causes, std::vector<std::string>{""});
        QCOMPARE(summaryWhenWarned, std::size_t{7});
        QVERIFY(ReadAll(Path(QStringLiteral("bigArea.csv"))).count('\n') == 3);
    }

    void failuresShowTheMessageAndKeepTheWindowUsable_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::addColumn<int>("progressLines");
        QTest::newRow("a title shorter than four characters") << "a.b" << Rings << true << 0;
        QTest::newRow("a file that vanished after the choice") << "gone.bna" << QByteArray() << false << 1;
        QTest::newRow("a file that ends inside the points") << "cut.bna" << Rings.left(Rings.size() - 6) << true << 8;
    }

    void failuresShowTheMessageAndKeepTheWindowUsable()
    {
        QFETCH(QString, title);
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        QFETCH(int, progressLines);
        const QString input = Path(title);
        if (create) {
            WriteFile(input, content);
        }
        ScriptedDialogs dialogs;
        dialogs.files = {input.toStdString(), Path(QStringLiteral("rings.bna")).toStdString()};
        WriteFile(Path(QStringLiteral("rings.bna")), Rings);
        Form1 form(dialogs, CancellingPickers());

        form.Form1_Command1_Click();
        QCOMPARE(dialogs.messages, std::vector<std::string>{"Sorry, something went wrong."});
        QVERIFY2(!dialogs.causes.front().empty(), "the box has no cause behind it");
        QCOMPARE(form.list1().LineCount(), static_cast<std::size_t>(progressLines));
        QCOMPARE(form.list2().LineCount(), std::size_t{0});
        if (create) {
            QCOMPARE(ReadAll(input), content);
        }

        // The next run works as usual.
        form.Form1_Command1_Click();
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
    }

    void aFileCutWhileDrawingIsDrawnAsTheRunReadIt()
    {
        // Large polygons side by side; the file is cut in half once the
        // drawing has begun. The drawing draws what the analysis read, so the
        // whole map comes out and nothing fails.
        QByteArray data;
        constexpr int Polygons = 40;
        constexpr int Points = 15000;
        for (int p = 0; p < Polygons; ++p) {
            data += "\"P" + QByteArray::number(p) + "\",\"x\"," + QByteArray::number(Points + 1) + "\r\n";
            for (int k = 0; k <= Points; ++k) {
                const double a = 6.283185307179586 * (k % Points) / Points;
                data += QByteArray::number(p * 3 + std::cos(a), 'f', 6) + "," + QByteArray::number(std::sin(a), 'f', 6) +
                        "\r\n";
            }
        }
        const QString input = Path(QStringLiteral("cutwhiledrawing.bna"));
        WriteFile(input, data);

        ScriptedDialogs dialogs;
        dialogs.files.push_back(input.toStdString());
        test::CuttingForm form(dialogs, CancellingPickers());
        form.at = "Read polygon P0 with 15001 points for drawing.";
        form.path = input;
        form.keep = data.size() / 2;

        form.Form1_Command1_Click();

        QVERIFY(dialogs.messages.empty());
        QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
        QImage map;
        QVERIFY(map.load(Path(QStringLiteral("cutwhiledrawingMap.bmp")), "BMP"));
        const CanvasTransform t(form.mapDrawing().mapExtent(), ComputeMapScale(form.mapDrawing().mapExtent()));
        const auto at = [&](double lon, double lat) {
            return ColourNear(map, ImageCanvas::PixelX(t.X(lon)), ImageCanvas::PixelY(t.Y(lat)), qRgb(255, 0, 0));
        };
        QVERIFY(at(1.0, 0.0));                    // the first polygon's outline
        QVERIFY(at((Polygons - 1) * 3 + 1.0, 0.0));   // and the last one
    }

    void backcolorAppliesAtOnceAndCancelKeepsIt()
    {
        ScriptedDialogs dialogs;
        dialogs.colours = {Rgb(0, 128, 0), std::nullopt};
        Form1 form(dialogs, CancellingPickers());
        form.Form1_mnuBackcolor_Click();
        QCOMPARE(form.picture().BackColor(), Rgb(0, 128, 0));
        QCOMPARE(form.picture().image().pixel(10, 10) & 0xFFFFFFU, qRgb(0, 128, 0) & 0xFFFFFFU);
        form.Form1_mnuBackcolor_Click();
        QCOMPARE(form.picture().BackColor(), Rgb(0, 128, 0));
        QCOMPARE(form.CD1().Color(), Rgb(0, 128, 0));
    }

    void eachMenuEntryShowsItsOneWindow()
    {
        ScriptedDialogs dialogs;
        Form1 form(dialogs, CancellingPickers());
        form.show();
        const auto twice = [&](const char* entry) {
            auto* action = form.findChild<QAction*>(QString::fromLatin1(entry));
            QVERIFY(action != nullptr);
            action->trigger();
            action->trigger();
        };
        twice("mnuAbout");
        twice("mnuFont");
        twice("mnuLines");
        twice("mnuCentroids");
        const std::vector<FormWindow*> windows = {form.form2(), form.form3(), form.form4(), form.form5()};
        for (FormWindow* w : windows) {
            QVERIFY(w != nullptr && w->window() != nullptr && w->window()->isVisible());
        }
        QCOMPARE(form.form4()->window()->windowTitle(), QStringLiteral("LIne Characteristics"));
        // The About window found the zarn.txt that the build puts beside the program.
        auto* about = form.form2()->window()->findChild<QListWidget*>(QStringLiteral("List1"));
        QVERIFY(about != nullptr && about->count() > 1);
        QVERIFY(!about->item(0)->text().contains(QStringLiteral("not found")));
        // With the version, and wide enough for its longest line.
        QCOMPARE(about->item(1)->text(), QStringLiteral("Version " ZARN_VERSION ", by the ZARN developers"));
        QVERIFY(about->viewport()->width() >= about->sizeHintForColumn(0));
        const QSize before = about->size();
        form.form2()->window()->resize(form.form2()->window()->size() + QSize(100, 80));
        QCOMPARE(about->size(), before + QSize(100, 80));
    }

#ifdef ZARN_HAVE_GEODESIC
    void ellipsoidEntryHoldsForTheRunsAfterIt()
    {
        const QString input = Path(QStringLiteral("ell.bna"));
        WriteFile(input, Rings);
        ScriptedDialogs dialogs;
        dialogs.files = {input.toStdString(), input.toStdString()};
        Form1 form(dialogs, CancellingPickers());
        form.show();
        auto* entry = form.findChild<QAction*>(QStringLiteral("mnuEllipsoid"));
        QVERIFY(entry != nullptr && entry->isCheckable() && !entry->isChecked());
        const QList<QAction*> settings = form.findChild<QMenu*>(QStringLiteral("mnuSettings"))->actions();
        const auto at = settings.indexOf(entry);
        QVERIFY(at > 0 && settings[at - 1]->isSeparator());
        auto* button = form.findChild<QPushButton*>(QStringLiteral("Command1"));

        entry->trigger();
        QTest::mouseClick(button, Qt::LeftButton);
        std::vector<std::string> progress = Lines(form.list1());
        const auto area = std::find(progress.begin(), progress.end(), "Area (sq km): 12363.829");
        QVERIFY(area != progress.end());
        QCOMPARE(area[1], std::string("Area on the WGS84 ellipsoid (sq km): 12308.778"));
        QCOMPARE(Lines(form.list2()).back(), std::string("\tEllipsoid areas: \tellGeodesic.csv"));
        QVERIFY(ReadAll(Path(QStringLiteral("ellGeodesic.csv"))).startsWith("name,second,points,"));
        QCOMPARE(ReadAll(Path(QStringLiteral("ellArea.csv"))),
                 QByteArray("\"First\", \"Second\", 12363.829\r\n\"Box\", \"B\", 15729.324\r\n"
                            "\"Tri\", \"T\", 24724.835\r\n"));

        entry->trigger();
        QTest::mouseClick(button, Qt::LeftButton);
        progress = Lines(form.list1());
        QVERIFY(std::none_of(progress.begin(), progress.end(),
                             [](const std::string& line) { return line.find("WGS84") != std::string::npos; }));
    }
#endif

    void namesAreShownAsUtf8OrWindows1252()
    {
        LineListModel model;
        model.Append("Read polygon J\xc3\xbc" "bek with 5 points.");
        model.Append("Read polygon J\xfc" "bek with 5 points.");
        model.Append("Euro \x80 sign");
        model.Publish();
        QCOMPARE(model.data(model.index(0)).toString(), QStringLiteral(u"Read polygon Jübek with 5 points."));
        QCOMPARE(model.data(model.index(1)).toString(), QStringLiteral(u"Read polygon Jübek with 5 points."));
        QCOMPARE(model.data(model.index(2)).toString(), QStringLiteral(u"Euro € sign"));
    }

    // Lines across chunks: empty ones, one larger than a chunk, and each
    // read back as appended, the longest found.
    void linesComeBackAcrossChunks()
    {
        LineListModel model;
        std::vector<std::string> lines;
        std::mt19937 random(28);
        for (int i = 0; i < 6000; ++i) {
            const std::size_t size = i == 2500 ? (std::size_t{3} << 19) : random() % 700;
            lines.emplace_back(size, static_cast<char>('a' + i % 26));
            model.Append(lines.back());
            if (i % 1000 == 0) {
                model.Publish();
            }
        }
        model.Publish();
        QCOMPARE(model.LineCount(), lines.size());
        QCOMPARE(model.LongestRow(), 2500);
        std::size_t text = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            QVERIFY(model.Line(i) == lines[i]);
            text += lines[i].size();
        }
        QCOMPARE(model.TextBytes(), text);
        QVERIFY(model.OverheadBytes() < text / 2);
    }

    // The tail shows the last lines however the lines and the rows asked for
    // change between two looks: lines added within the rows, beyond them,
    // fewer rows, more rows, and the lines cleared.
    void aTailShowsTheLastLines()
    {
        struct Step {
            int add;
            int rows;
        };
        LineListModel lines;
        LineListTail tail(lines);
        int added = 0;
        for (const Step step : {Step{3, 5}, Step{1, 5}, Step{4, 5}, Step{7, 5}, Step{0, 3}, Step{2, 8}, Step{0, 100},
                                Step{-1, 4}, Step{6, 4}}) {
            if (step.add < 0) {
                lines.Clear();
                added = 0;
            }
            for (int i = 0; i < step.add; ++i) {
                lines.Append("line " + std::to_string(added++));
            }
            lines.Publish();
            tail.Follow(step.rows);
            const int shown = std::min(step.rows, added);
            QCOMPARE(tail.rowCount(), shown);
            for (int row = 0; row < shown; ++row) {
                QCOMPARE(tail.data(tail.index(row)).toString(),
                         QStringLiteral("line %1").arg(added - shown + row));
            }
        }
    }

    // While a run adds lines, the progress list holds only the last of them
    // (LineListTail), so as not to lay out every line again at each repaint:
    // scrolled to the bottom, as many as the list says give the picture of
    // all the lines, scroll bars included.
    void theProgressListsLastLinesLookAsAllItsLines_data()
    {
        QTest::addColumn<QSize>("grow");
        QTest::newRow("the window as it opens") << QSize(0, 0);
        QTest::newRow("a taller and wider window") << QSize(200, 160);
    }
    void theProgressListsLastLinesLookAsAllItsLines()
    {
        QFETCH(QSize, grow);
        QByteArray rings;
        for (int i = 0; i < 6000; ++i) {
            const QByteArray x = QByteArray::number(i % 90);
            rings += "\"Ring " + QByteArray::number(i) + "\",\"R\",4\r\n" + x + ",0\r\n" + x + ".5,0\r\n" + x +
                     ",0.5\r\n" + x + ",0\r\n";
        }
        const QString input = Path(QStringLiteral("many.bna"));
        WriteFile(input, rings);
        ScriptedDialogs dialogs;
        dialogs.files.push_back(input.toStdString());
        Form1 form(dialogs, CancellingPickers());
        form.resize(form.size() + grow);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.Form1_Command1_Click();

        auto* list = dynamic_cast<FocusMarkedList*>(form.findChild<QListView*>(QStringLiteral("List1")));
        QVERIFY(list != nullptr);
        const int rows = list->TailRows();
        QVERIFY(rows < form.list1().rowCount());
        const QImage all = list->grab().toImage();
        LineListTail tail(form.list1());
        tail.Follow(rows);
        list->ShowModel(&tail);
        list->scrollToBottom();
        QCOMPARE(tail.rowCount(), rows);
        QCOMPARE(tail.data(tail.index(rows - 1)), form.list1().data(form.list1().index(form.list1().rowCount() - 1)));
        QCOMPARE(list->grab().toImage(), all);
        list->ShowModel(&form.list1());
    }

    void batchAndWindowSaveTheSameBitmap()
    {
        QTemporaryDir other;
        const QString windowInput = Path(QStringLiteral("same.bna"));
        const QString batchInput = other.filePath(QStringLiteral("same.bna"));
        QFile examples(QStringLiteral(ZARN_EXAMPLE));
        QVERIFY(examples.open(QIODevice::ReadOnly));
        const QByteArray content = examples.readAll();
        WriteFile(windowInput, content);
        WriteFile(batchInput, content);

        ScriptedDialogs dialogs;
        dialogs.files.push_back(windowInput.toStdString());
        Form1 form(dialogs, CancellingPickers());
        form.Form1_Command1_Click();
        std::FILE* sink = std::tmpfile();
        QCOMPARE(RunBatchCommand({batchInput.toStdString()}, sink, sink), 0);
        std::fclose(sink);

        const QByteArray fromWindow = ReadAll(Path(QStringLiteral("sameMap.bmp")));
        QVERIFY(!fromWindow.isEmpty());
        QVERIFY(fromWindow == ReadAll(other.filePath(QStringLiteral("sameMap.bmp"))));
        QCOMPARE(ReadAll(Path(QStringLiteral("sameArea.csv"))), ReadAll(other.filePath(QStringLiteral("sameArea.csv"))));
    }

    void exportDialogGivesItsTicks()
    {
        ExportDialog dialog("Export", "Also write", {"GeoPackage (.gpkg)", "GeoJSON (.geojson)"}, {false, true});
        auto* first = dialog.findChild<QCheckBox*>(QStringLiteral("chkTick0"));
        QVERIFY(first != nullptr);
        QCOMPARE(first->text(), QStringLiteral("GeoPackage (.gpkg)"));
        QTest::mouseClick(first, Qt::LeftButton);
        QCOMPARE(dialog.Ticks(), (std::vector<bool>{true, true}));
    }

#ifdef ZARN_HAVE_EXPORT
    void exportEndsTheSettingsMenuAndEveryRunWritesTheTickedFormats()
    {
        const QString input = Path(QStringLiteral("exported.bna"));
        WriteFile(input, Rings);
        ScriptedDialogs dialogs;
        const std::vector<bool> gpkgAndShp{true, false, true, false, false};
        dialogs.ticks = {gpkgAndShp, std::nullopt};
        dialogs.files.push_back(input.toStdString());
        Form1 form(dialogs, CancellingPickers());
        QAction* last = form.findChild<QMenu*>(QStringLiteral("mnuSettings"))->actions().back();
        QCOMPARE(last->objectName(), QStringLiteral("mnuExport"));
        QCOMPARE(last->text(), QStringLiteral("E&xport\u2026"));

        last->trigger();
        last->trigger();  // Cancel keeps the ticks
        QCOMPARE(dialogs.ticksShown, (std::vector<std::vector<bool>>{std::vector<bool>(5, false), gpkgAndShp}));
        // What the files are, where they go and how many each format writes.
        for (const char* fact : {"EPSG:4326", "beside the input", "GeoPackage writes one file",
                                 "GeoJSON, Shapefile, FlatGeobuf and KML write one file per layer", "--geodesic"}) {
            QVERIFY2(dialogs.ticksText.find(fact) != std::string::npos, fact);
        }
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);

        QVERIFY(dialogs.messages.empty());
        QVERIFY(QFile::exists(Path(QStringLiteral("exported.gpkg"))));
        QVERIFY(QFile::exists(Path(QStringLiteral("exportedPolygons.shp"))));
        QVERIFY(!QFile::exists(Path(QStringLiteral("exportedPolygons.geojson"))));
        QCOMPARE(form.list2().Line(form.list2().LineCount() - 1), std::string("\tShapefile: \texportedCentroids.shp"));
    }

    // An export that fails once the classic files and the map are written
    // (its name taken by a folder) is a warning that names it, its cause
    // behind "Show Details…", with the summary shown at its line.
    void anExportThatFailsAfterAGoodRunIsAWarning()
    {
        QTemporaryDir folder;
        const QString input = folder.filePath(QStringLiteral("warn.bna"));
        WriteFile(input, Rings);
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("warn.gpkg")));
        ScriptedDialogs dialogs;
        dialogs.ticks = {std::vector<bool>{true, false, false, false, false}};
        dialogs.files.push_back(input.toStdString());
        Form1 form(dialogs, CancellingPickers());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.findChild<QAction*>(QStringLiteral("mnuExport"))->trigger();

        form.Form1_Command1_Click();

        QVERIFY(dialogs.messages.empty());
        QCOMPARE(dialogs.warnings,
                 std::vector<std::string>{"The centroid and area files and the map are written, but not: GeoPackage."});
        QVERIFY2(dialogs.warningCauses.front().starts_with("GeoPackage: not written: "), dialogs.warningCauses.front().c_str());
        for (const char* name : {"warnCentroid.bna", "warnArea.csv", "warnMap.bmp"}) {
            QVERIFY2(QFileInfo(folder.filePath(QString::fromLatin1(name))).size() > 0, name);
        }
        const std::vector<std::string> summary = Lines(form.list2());
        QCOMPARE(summary.size(), std::size_t{8});
        QVERIFY(summary.back().starts_with("\tGeoPackage: \tnot written: "));
        auto* list2 = form.findChild<QListView*>(QStringLiteral("List2"));
        QCOMPARE(list2->currentIndex().row(), 7);
        QVERIFY(list2->viewport()->rect().contains(list2->visualRect(list2->currentIndex()).topLeft()));
    }
#endif
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
