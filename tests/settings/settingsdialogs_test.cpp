#include "displaysettings.h"
#include "form3.h"
#include "form4.h"
#include "form5.h"
#include "imagecanvas.h"
#include "qtcolordialogcontrol.h"
#include "settingstesting.h"

#include <QClipboard>
#include <QColorDialog>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QTestEventList>

using namespace zarn;
using namespace zarn::testing;

namespace {

QString Name(Colour colour)
{
    switch (colour) {
    case 0: return QStringLiteral("black");
    case Green: return QStringLiteral("green");
    case Yellow: return QStringLiteral("yellow");
    case Magenta: return QStringLiteral("magenta");
    case Blue: return QStringLiteral("blue");
    case Rgb(255, 0, 0): return QStringLiteral("red");
    default: return QString::number(colour, 16);
    }
}

QString Describe(const DisplaySettings& s)
{
    return QStringLiteral("font %1, line %2 width %3, fill %4, border %5, size %6, showText %7")
        .arg(Name(s.fontColor), Name(s.lineColor))
        .arg(s.lineWidth)
        .arg(Name(s.centroidFillColor), Name(s.centroidBorderColor))
        .arg(s.centroidSize)
        .arg(s.showText);
}

QString Describe(const Canvas& c)
{
    return QStringLiteral("bold %1, italic %2, size %3, fill style %4")
        .arg(c.FontBold())
        .arg(c.FontItalic())
        .arg(c.FontSize())
        .arg(c.FillStyle());
}

// The canvas of the font and centroid dialogs. It notes each property that
// OK sets, with the settings as they stand at that moment, so that the order
// of OK's steps shows.
class SpyCanvas : public ImageCanvas {
public:
    explicit SpyCanvas(const DisplaySettings& settings) : settings_(settings) {}

    QStringList log;

    void SetFontBold(bool bold) override { Note("bold", bold), ImageCanvas::SetFontBold(bold); }
    void SetFontItalic(bool italic) override { Note("italic", italic), ImageCanvas::SetFontItalic(italic); }
    void SetFontSize(float points) override { Note("size", points), ImageCanvas::SetFontSize(points); }
    void SetFillStyle(std::int16_t style) override { Note("fill style", style), ImageCanvas::SetFillStyle(style); }

private:
    void Note(const char* property, double value)
    {
        log << QStringLiteral("%1 %2 | showText %3, font %4, fill %5, border %6, size %7")
                   .arg(QLatin1String(property))
                   .arg(value)
                   .arg(settings_.showText)
                   .arg(Name(settings_.fontColor), Name(settings_.centroidFillColor),
                        Name(settings_.centroidBorderColor))
                   .arg(settings_.centroidSize);
    }

    const DisplaySettings& settings_;
};

// The program's state as the three dialogs see it, with every colour picker
// answered from one script.
struct Dialogs {
    DisplaySettings settings;
    SpyCanvas picture1{settings};
    std::shared_ptr<ColorScript> colors = std::make_shared<ColorScript>();
    ScriptedColorDialog CD1{colors};
    Form4 form4{settings, ScriptedFactory(colors)};
    Form3 form3{settings, picture1, CD1};
    Form5 form5{settings, picture1, ScriptedFactory(colors)};

    Dialogs()
    {
        ApplyStartupDefaults(settings, picture1);
        picture1.log.clear();
    }

    FormWindow& Get(const QString& name)
    {
        return name == QLatin1String("Form4") ? static_cast<FormWindow&>(form4)
               : name == QLatin1String("Form3") ? static_cast<FormWindow&>(form3)
                                                : form5;
    }

    // The user's picks, in order: "green", "cancel", or in the centroid dialog
    // "fill green", "border yellow", "fill cancel". `button` is the colour
    // button of the line and font dialogs.
    void Pick(QWidget* window, const QStringList& picks, const char* button = nullptr)
    {
        for (QString pick : picks) {
            const char* name = button;
            if (pick.startsWith(QLatin1String("fill "))) {
                name = "Command4";
            } else if (pick.startsWith(QLatin1String("border "))) {
                name = "Command1";
            }
            pick = pick.section(QLatin1Char(' '), -1);
            if (pick == QLatin1String("cancel")) {
                colors->Cancel();
            } else {
                colors->Accept(pick == QLatin1String("green") ? Green : Yellow);
            }
            Click(window, name);
        }
    }
};

// An entry as the user pastes it: no key passes the key filter. A null text
// leaves the entry as it is.
void Paste(QLineEdit* entry, const QString& text)
{
    if (!text.isNull()) {
        entry->selectAll();
        entry->insert(text);
    }
}

// Answers Qt's colour picker when it shows, as the person would: picks
// `colour` and accepts, or cancels when it is invalid. Notes the colour the
// picker opened on.
class PickerAnswer : public QObject {
public:
    explicit PickerAnswer(QColor colour) : colour_(colour) { qApp->installEventFilter(this); }

    QColor openedOn;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* picker = qobject_cast<QColorDialog*>(watched);
        if (picker != nullptr && event->type() == QEvent::Show) {
            openedOn = picker->currentColor();
            picker->setCurrentColor(colour_);
            QMetaObject::invokeMethod(picker, colour_.isValid() ? &QDialog::accept : &QDialog::reject,
                                      Qt::QueuedConnection);
        }
        return false;
    }

private:
    QColor colour_;
};

const char* const AllDialogs[] = {"Form4", "Form3", "Form5"};

QString InitialText(const QString& dialog)
{
    return dialog == QLatin1String("Form3") ? QStringLiteral("10") : QStringLiteral("1");
}

QTestEventList Keys(const QString& text, std::initializer_list<Qt::Key> then = {}, const QString& after = {})
{
    QTestEventList keys;
    keys.addKeyClicks(text);
    for (const Qt::Key key : then) {
        keys.addKeyClick(key);
    }
    keys.addKeyClicks(after);
    return keys;
}

}  // namespace

class SettingsDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(DialogFontFound(), "DejaVu Sans is missing: install fonts-dejavu-core"); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void typedKeys_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QTestEventList>("keys");
        QTest::addColumn<QString>("expected");

        for (const char* dialog : AllDialogs) {
            QTest::addRow("%s: a letter, a sign, a point and a blank are refused", dialog)
                << dialog << Keys("a-. ,+eE") << InitialText(dialog);
            QTest::addRow("%s: a digit replaces the selected entry", dialog) << dialog << Keys("7") << "7";
        }
        QTest::newRow("digits append one after the other") << "Form4" << Keys("742") << "742";
        QTest::newRow("Backspace deletes the digit before the cursor")
            << "Form4" << Keys("74", {Qt::Key_Backspace}) << "7";
        QTest::newRow("a refused key keeps the selection, so the next digit replaces it")
            << "Form3" << Keys("x5") << "5";
        QTest::newRow("Delete and the arrow keys still edit")
            << "Form5" << Keys("789", {Qt::Key_Left, Qt::Key_Left, Qt::Key_Delete}) << "79";
        QTest::newRow("Home moves the cursor without typing") << "Form4" << Keys("12", {Qt::Key_Home}, "3") << "312";
        // (The key that types a digit of another script is sent by hand below.)
        QTest::newRow("a digit of another script is refused") << "Form4" << QTestEventList() << "1";

        QTestEventList paste;
        paste.addKeyClick(Qt::Key_V, Qt::ControlModifier);
        QTest::newRow("text pasted with Ctrl+V is not filtered") << "Form3" << paste << "-2,5x";
        QTestEventList selectAll = Keys("12");
        selectAll.addKeyClick(Qt::Key_A, Qt::ControlModifier);
        selectAll.addKeyClicks(QStringLiteral("9"));
        QTest::newRow("Ctrl+A selects the entry and a digit replaces it") << "Form5" << selectAll << "9";
    }

    void typedKeys()
    {
        QFETCH(QString, dialog);
        QFETCH(QTestEventList, keys);
        QFETCH(QString, expected);
        QGuiApplication::clipboard()->setText(QStringLiteral("-2,5x"));
        Dialogs d;
        QLineEdit* entry = Entry(Open(d.Get(dialog)));
        entry->setFocus(Qt::OtherFocusReason);

        keys.simulate(entry);
        if (keys.isEmpty()) {
            QTest::sendKeyEvent(QTest::Click, entry, Qt::Key_unknown, QStringLiteral("\u0663"), Qt::NoModifier);
        }
        QCOMPARE(entry->text(), expected);
    }

    void inputMethodText_data()
    {
        QTest::addColumn<QString>("commit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a letter composed through an input method is refused") << "x" << "1";
        QTest::newRow("digits composed through an input method get through") << "42" << "42";
    }

    void inputMethodText()
    {
        QFETCH(QString, commit);
        QFETCH(QString, expected);
        Dialogs d;
        QLineEdit* entry = Entry(Open(d.form4));
        QInputMethodEvent event;
        event.setCommitString(commit);
        QApplication::sendEvent(entry, &event);
        QCOMPARE(entry->text(), expected);
    }

    void enterMovesFocus_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("next");
        QTest::newRow("line dialog: Enter moves on to Line Color") << "Form4" << int(Qt::Key_Return) << "Command1";
        QTest::newRow("font dialog: Enter moves on to Bold") << "Form3" << int(Qt::Key_Return) << "Check1";
        QTest::newRow("centroid dialog: Enter moves on to Border Color")
            << "Form5" << int(Qt::Key_Return) << "Command1";
        QTest::newRow("line dialog: the keypad's Enter does the same") << "Form4" << int(Qt::Key_Enter) << "Command1";
    }

    void enterMovesFocus()
    {
        QFETCH(QString, dialog);
        QFETCH(int, key);
        QFETCH(QString, next);
        Dialogs d;
        QWidget* window = Open(d.Get(dialog));
        QLineEdit* entry = Entry(window);
        entry->setFocus(Qt::OtherFocusReason);
        const QString before = Describe(d.settings);

        QTest::keyClick(entry, Qt::Key(key));
        QCOMPARE(QApplication::focusWidget(), entry);  // moved only after the key is handled
        QCoreApplication::sendPostedEvents();

        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(window, next.toLatin1().constData()));
        QCOMPARE(entry->text(), InitialText(dialog));
        QVERIFY2(window->isVisible(), "Enter must not trigger OK or Cancel");
        QCOMPARE(Describe(d.settings), before);
    }

    // Keys no control takes are the dialog's: Esc cancels, Enter gives OK,
    // or clicks the button that has the focus.
    void dialogKeys_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("stores");
        QTest::newRow("line dialog, Escape in the entry") << "Form4" << "Text1" << int(Qt::Key_Escape) << false;
        QTest::newRow("font dialog, Escape on OK") << "Form3" << "Command2" << int(Qt::Key_Escape) << false;
        QTest::newRow("centroid dialog, Escape on Cancel") << "Form5" << "Command2" << int(Qt::Key_Escape) << false;
        QTest::newRow("font dialog, Enter on Bold") << "Form3" << "Check1" << int(Qt::Key_Return) << true;
        QTest::newRow("line dialog, Enter on Cancel") << "Form4" << "Command2" << int(Qt::Key_Enter) << false;
        QTest::newRow("centroid dialog, Enter on OK") << "Form5" << "Command3" << int(Qt::Key_Return) << true;
    }

    void dialogKeys()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, stores);
        Dialogs d;
        QWidget* window = Open(d.Get(dialog));
        Type(Entry(window), QStringLiteral("7"));
        QWidget* control = Find<QWidget>(window, focus.toLatin1().constData());
        control->setFocus(Qt::OtherFocusReason);
        const QString before = Describe(d.settings) + Describe(d.picture1);

        QTest::keyClick(control, Qt::Key(key));
        QCoreApplication::sendPostedEvents();

        QVERIFY(!window->isVisible());
        QCOMPARE(Describe(d.settings) + Describe(d.picture1) != before, stores);
    }

    void focusSelectsWholeEntry_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("how");
        for (const char* dialog : AllDialogs) {
            QTest::addRow("%s: Tab into the entry selects it", dialog) << dialog << "tab";
            QTest::addRow("%s: Shift+Tab back into the entry selects it", dialog) << dialog << "backtab";
            QTest::addRow("%s: a mouse click into the entry selects it", dialog) << dialog << "click";
        }
        QTest::newRow("line dialog: showing it puts the focus into the selected entry") << "Form4" << "show";
        QTest::newRow("font dialog: showing it puts the focus into the selected entry") << "Form3" << "show";
    }

    void focusSelectsWholeEntry()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, how);
        Dialogs d;
        QLineEdit* entry = Entry(Open(d.Get(dialog)));
        if (how != QLatin1String("show")) {
            entry->setFocus(Qt::OtherFocusReason);
            QTest::keyClicks(entry, QStringLiteral("1234"));
            QTest::keyClick(entry, how == QLatin1String("backtab") ? Qt::Key_Tab : Qt::Key_Backtab);
            QVERIFY(QApplication::focusWidget() != entry);
            if (how == QLatin1String("click")) {
                QTest::mouseClick(entry, Qt::LeftButton, {}, QPoint(entry->width() - 4, entry->height() / 2));
            } else {
                QTest::keyClick(QApplication::focusWidget(), how == QLatin1String("tab") ? Qt::Key_Tab : Qt::Key_Backtab);
            }
        }

        QCOMPARE(QApplication::focusWidget(), entry);
        QCOMPARE(entry->selectedText(), entry->text());
        QTest::keyClicks(entry, QStringLiteral("3"));
        QCOMPARE(entry->text(), QStringLiteral("3"));
    }

    void lineOk_data()
    {
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<Colour>("lineColor");
        QTest::addColumn<int>("lineWidth");
        const QStringList none;
        QTest::newRow("OK at once stores width 1 and the picker's black") << none << QString() << 0 << 1;
        QTest::newRow("a green pick and a width of 3 are stored") << QStringList{"green"} << "3" << Green << 3;
        QTest::newRow("a cancelled second pick keeps green") << QStringList{"green", "cancel"} << QString() << Green << 1;
        QTest::newRow("an empty entry stores only the colour") << none << "" << 0 << 2;
        QTest::newRow("a half rounds down to the even width") << none << "2.5" << 0 << 2;
        QTest::newRow("a half rounds up to the even width") << none << "3.5" << 0 << 4;
        QTest::newRow("a width beyond 32 bits leaves the width") << none << "2147483648" << 0 << 2;
        QTest::newRow("zero is stored as zero") << none << "0" << 0 << 0;
        QTest::newRow("pasted text that is not a number leaves the width") << none << "3px" << 0 << 2;
    }

    void lineOk()
    {
        QFETCH(QStringList, picks);
        QFETCH(QString, entry);
        QFETCH(Colour, lineColor);
        QFETCH(int, lineWidth);
        Dialogs d;
        QWidget* window = Open(d.form4);

        d.Pick(window, picks, "Command1");
        Paste(Entry(window), entry);
        Click(window, "Command3");

        QVERIFY(d.colors->Done());
        QCOMPARE(Name(d.settings.lineColor), Name(lineColor));
        QCOMPARE(d.settings.lineWidth, lineWidth);
        QVERIFY(!window->isVisible());
    }

    void fontOkStoresInOrder_data()
    {
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::addColumn<bool>("showText");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<double>("fontSize");
        QTest::addColumn<Colour>("fontColor");

        // Before OK the label colour is magenta and showText is on; the canvas
        // font is 8.25 points.
        const QString on = QStringLiteral(" | showText -1, font magenta, fill blue, border black, size 3");
        const QString off = QStringLiteral(" | showText 0, font magenta, fill blue, border black, size 3");
        const QStringList boldUpright{"bold 1" + on, "italic 0" + on};
        const QStringList green{"green"};
        QTest::newRow("OK at once sets bold, upright and 10 points, then stores black")
            << true << false << true << QString() << QStringList() << boldUpright + QStringList{"size 10" + on} << 10.0
            << 0;
        QTest::newRow("Bold, Italic and the size go to the canvas around storing showText")
            << false << true << false << "12" << green
            << QStringList{"bold 0" + on, "italic 1" + on, "size 12" + off} << 12.0 << Green;
        QTest::newRow("an empty entry sets no size and the colour is still stored")
            << true << false << true << "" << green << boldUpright << 8.25 << Green;
        QTest::newRow("a size of 0, which the canvas refuses, leaves the size")
            << true << false << true << "0" << green << boldUpright + QStringList{"size 0" + on} << 8.25 << Green;
        QTest::newRow("a size above the canvas's largest leaves the size")
            << true << false << true << "5000" << green << boldUpright + QStringList{"size 5000" + on} << 8.25
            << Green;
        QTest::newRow("a size beyond the float range never reaches the canvas")
            << true << false << true << "1e39" << QStringList() << boldUpright << 8.25 << 0;
        QTest::newRow("a pasted fraction sets a fractional size")
            << true << false << true << "12.5" << QStringList() << boldUpright + QStringList{"size 12.5" + on} << 12.5
            << 0;
        QTest::newRow("a cancelled pick leaves the label colour black")
            << true << false << true << QString() << QStringList{"cancel"} << boldUpright + QStringList{"size 10" + on}
            << 10.0 << 0;
    }

    void fontOkStoresInOrder()
    {
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        QFETCH(bool, showText);
        QFETCH(QString, entry);
        QFETCH(QStringList, picks);
        QFETCH(QStringList, log);
        QFETCH(double, fontSize);
        QFETCH(Colour, fontColor);
        Dialogs d;
        d.settings.fontColor = Magenta;
        QWidget* window = Open(d.form3);

        Find(window, "Check1")->setChecked(bold);
        Find(window, "Check2")->setChecked(italic);
        Find(window, "Check3")->setChecked(showText);
        Paste(Entry(window), entry);
        d.Pick(window, picks, "Command3");
        Click(window, "Command2");

        QCOMPARE(d.picture1.log, log);
        QCOMPARE(d.picture1.FontBold(), bold);
        QCOMPARE(d.picture1.FontItalic(), italic);
        QCOMPARE(d.picture1.FontSize(), float(fontSize));
        QCOMPARE(d.settings.showText, showText ? FlagTrue : FlagFalse);
        QCOMPARE(Name(d.settings.fontColor), Name(fontColor));
        QVERIFY(!window->isVisible());
    }

    void centroidOkStoresInOrder_data()
    {
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("centroidSize");

        // Before OK the border is magenta, the fill blue and the size 3.
        const QStringList none;
        const auto log = [](int style, const char* fill, const char* border, int size) {
            return QStringLiteral("fill style %1 | showText -1, font black, fill %2, border %3, size %4")
                .arg(style)
                .arg(QLatin1String(fill), QLatin1String(border))
                .arg(size);
        };
        QTest::newRow("OK at once stores black, black and size 1, then the solid fill style")
            << none << false << QString() << log(0, "black", "black", 1) << 1;
        QTest::newRow("a green fill and a yellow border are stored apart")
            << QStringList{"fill green", "border yellow"} << false << QString() << log(0, "green", "yellow", 1) << 1;
        QTest::newRow("a cancelled fill pick keeps the earlier fill pick")
            << QStringList{"fill green", "fill cancel"} << false << QString() << log(0, "green", "black", 1) << 1;
        QTest::newRow("Transparent sets the transparent fill style and the fill colour is still stored")
            << QStringList{"fill green"} << true << QString() << log(1, "green", "black", 1) << 1;
        QTest::newRow("an empty entry keeps the size") << none << false << "" << log(0, "black", "black", 3) << 3;
        QTest::newRow("a size beyond 16 bits keeps the size")
            << none << false << "32768" << log(0, "black", "black", 3) << 3;
        QTest::newRow("the largest 16-bit size is stored")
            << none << false << "32767" << log(0, "black", "black", 32767) << 32767;
        QTest::newRow("a half rounds to the even size") << none << false << "2.5" << log(0, "black", "black", 2) << 2;
        QTest::newRow("zero is stored as zero") << none << false << "0" << log(0, "black", "black", 0) << 0;
    }

    void centroidOkStoresInOrder()
    {
        QFETCH(QStringList, picks);
        QFETCH(bool, transparent);
        QFETCH(QString, entry);
        QFETCH(QString, log);
        QFETCH(int, centroidSize);
        Dialogs d;
        d.settings.centroidBorderColor = Magenta;
        QWidget* window = Open(d.form5);

        d.Pick(window, picks);
        Click(window, transparent ? "Option1" : "Option2");
        Paste(Entry(window), entry);
        Click(window, "Command3");

        QCOMPARE(d.picture1.log, QStringList{log});
        QCOMPARE(d.settings.centroidSize, centroidSize);
        QVERIFY(!window->isVisible());
    }

    // After Cancel the dialog is hidden with everything the user left in it,
    // and nothing is stored until a later OK. Closing it through its frame
    // discards the controls and its picker; the next show starts afresh.
    void lineCancelOrClose_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<Colour>("lineColor");
        QTest::newRow("Cancel keeps the entry and the green pick for the next OK") << false << "3" << Green;
        QTest::newRow("closing starts again from 1 and a black picker") << true << "1" << 0;
    }

    void lineCancelOrClose()
    {
        QFETCH(bool, close);
        QFETCH(QString, entry);
        QFETCH(Colour, lineColor);
        Dialogs d;
        QWidget* window = Open(d.form4);
        const QString before = Describe(d.settings);
        Type(Entry(window), QStringLiteral("3"));
        d.Pick(window, {"green"}, "Command1");

        close ? void(window->close()) : Click(window, "Command2");
        QCOMPARE(Describe(d.settings), before);
        QCOMPARE(d.form4.window() == window, !close);
        QVERIFY(!window->isVisible() || close);

        window = Open(d.form4);
        QCOMPARE(Entry(window)->text(), entry);
        Click(window, "Command3");
        QCOMPARE(Name(d.settings.lineColor), Name(lineColor));
        QCOMPARE(d.settings.lineWidth, entry.toInt());
    }

    void fontCancelOrClose_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("Cancel keeps the entry and the check boxes for the next OK") << false << "14" << false << true;
        QTest::newRow("closing starts again from 10, bold and upright") << true << "10" << true << false;
    }

    void fontCancelOrClose()
    {
        QFETCH(bool, close);
        QFETCH(QString, entry);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        Dialogs d;
        QWidget* window = Open(d.form3);
        const QString before = Describe(d.settings) + Describe(d.picture1);
        Type(Entry(window), QStringLiteral("14"));
        Click(window, "Check1");
        Click(window, "Check2");
        Click(window, "Check3");
        d.Pick(window, {"green"}, "Command3");

        close ? void(window->close()) : Click(window, "Command1");
        QCOMPARE(Describe(d.settings) + Describe(d.picture1), before);
        QCOMPARE(d.form3.window() == window, !close);

        d.settings.showText = FlagFalse;  // Show Text comes from showText at every showing
        window = Open(d.form3);
        QCOMPARE(Entry(window)->text(), entry);
        QCOMPARE(Find(window, "Check1")->isChecked(), bold);
        QCOMPARE(Find(window, "Check2")->isChecked(), italic);
        QVERIFY(!Find(window, "Check3")->isChecked());
        Click(window, "Command2");
        QCOMPARE(Describe(d.picture1), QStringLiteral("bold %1, italic %2, size %3, fill style 0")
                                           .arg(bold).arg(italic).arg(entry));
        QCOMPARE(Name(d.settings.fontColor), Name(Green));  // the pick belongs to the dialog, not its window
    }

    void centroidCancelOrClose_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("transparent");
        QTest::newRow("Cancel keeps the entry and Transparent for the next OK") << false << "5" << true;
        QTest::newRow("closing starts again from 1 and Filled, and keeps the picks") << true << "1" << false;
    }

    void centroidCancelOrClose()
    {
        QFETCH(bool, close);
        QFETCH(QString, entry);
        QFETCH(bool, transparent);
        Dialogs d;
        QWidget* window = Open(d.form5);
        const QString before = Describe(d.settings) + Describe(d.picture1);
        Click(window, "Option1");
        Type(Entry(window), QStringLiteral("5"));
        d.Pick(window, {"border yellow", "fill green"});

        close ? void(window->close()) : Click(window, "Command2");
        QCOMPARE(Describe(d.settings) + Describe(d.picture1), before);
        QCOMPARE(d.form5.window() == window, !close);

        window = Open(d.form5);
        QCOMPARE(Find(window, "Option1")->isChecked(), transparent);
        QCOMPARE(Find(window, "Option2")->isChecked(), !transparent);
        QCOMPARE(Entry(window)->text(), entry);
        Click(window, "Command3");
        QCOMPARE(Describe(d.settings), QStringLiteral("font black, line red width 2, fill green, border yellow, "
                                                      "size %1, showText -1").arg(entry));
        QCOMPARE(d.picture1.FillStyle(), transparent ? 1 : 0);
    }

    void showTextFollowsShowTextOnActivation_data()
    {
        QTest::addColumn<QStringList>("away");
        QTest::addColumn<bool>("reset");
        QTest::newRow("coming back from the main window sets Show Text from showText again")
            << QStringList{"main window"} << true;
        QTest::newRow("coming back from a modal colour picker keeps what the user set")
            << QStringList{"modal picker"} << false;
        QTest::newRow("coming back from another program keeps what the user set")
            << QStringList{"another program"} << false;
        QTest::newRow("coming back through the main window after another program sets it again")
            << QStringList{"another program", "main window"} << true;
    }

    void showTextFollowsShowTextOnActivation()
    {
        QFETCH(QStringList, away);
        QFETCH(bool, reset);
        Dialogs d;
        QWidget mainWindow;
        mainWindow.show();
        QWidget picker;
        picker.setWindowModality(Qt::ApplicationModal);
        QWidget* window = Open(d.form3);
        QVERIFY(Find(window, "Check3")->isChecked());
        Find(window, "Check3")->setChecked(false);

        for (const QString& where : away) {
            if (where == QLatin1String("main window")) {
                QApplication::setActiveWindow(&mainWindow);
            } else if (where == QLatin1String("modal picker")) {
                picker.show();
                QApplication::setActiveWindow(&picker);
                picker.hide();
            } else {
                QApplication::setActiveWindow(nullptr);
            }
        }
        QApplication::setActiveWindow(window);

        QCOMPARE(Find(window, "Check3")->isChecked(), reset);
    }

    void showTextStoredOffShowsUncheckedNextTime()
    {
        Dialogs d;
        QWidget* window = Open(d.form3);
        Find(window, "Check3")->setChecked(false);
        Click(window, "Command2");
        QCOMPARE(d.settings.showText, FlagFalse);

        QCOMPARE(Open(d.form3), window);
        QVERIFY(!Find(window, "Check3")->isChecked());
    }

    void fontColorIsThePickNotTheBackground_data()
    {
        QTest::addColumn<QStringList>("fontPicks");
        QTest::addColumn<Colour>("fontColor");
        QTest::newRow("a label colour picked before a background colour stays the label colour")
            << QStringList{"green"} << Green;
        QTest::newRow("without a label colour pick the labels stay black") << QStringList() << 0;
        QTest::newRow("a cancelled pick keeps the label colour picked before") << QStringList{"green", "cancel"} << Green;
    }

    void fontColorIsThePickNotTheBackground()
    {
        QFETCH(QStringList, fontPicks);
        QFETCH(Colour, fontColor);
        Dialogs d;
        QWidget* window = Open(d.form3);
        d.Pick(window, fontPicks, "Command3");

        // The main window's Backcolor entry picks blue through the same CD1.
        d.CD1.CancelError = true;
        d.colors->Accept(Blue);
        d.CD1.ShowColor();

        Click(window, "Command2");
        QCOMPARE(Name(d.settings.fontColor), Name(fontColor));
        QCOMPARE(d.form3.chosenFontColor(), fontColor);
    }

    void qtColorPickerKeepsTheAcceptedColour()
    {
        QtColorDialogControl control;
        QCOMPARE(control.Color(), 0);
        {
            PickerAnswer person(QColor(10, 20, 30));
            control.CancelError = true;
            control.ShowColor();
            QCOMPARE(person.openedOn, QColor(Qt::black));
        }
        QCOMPARE(control.Color(), Rgb(10, 20, 30));
        {
            PickerAnswer person{QColor()};
            QVERIFY_THROWS_EXCEPTION(DialogCancelled, control.ShowColor());
            QCOMPARE(person.openedOn, QColor(10, 20, 30));
        }
        {
            PickerAnswer person{QColor()};
            control.CancelError = false;
            control.ShowColor();
        }
        QCOMPARE(control.Color(), Rgb(10, 20, 30));
    }

    void secondShowKeepsOneWindow_data()
    {
        QTest::addColumn<QString>("dialog");
        for (const char* dialog : AllDialogs) {
            QTest::addRow("%s is shown once however often it is chosen", dialog) << dialog;
        }
    }

    void secondShowKeepsOneWindow()
    {
        QFETCH(QString, dialog);
        Dialogs d;
        FormWindow& form = d.Get(dialog);
        QWidget* window = Open(form);
        Type(Entry(window), QStringLiteral("7"));

        QCOMPARE(Open(form), window);
        int shown = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            shown += w->isVisible() && w->windowTitle() == window->windowTitle() ? 1 : 0;
        }
        QCOMPARE(shown, 1);
        QCOMPARE(Entry(window)->text(), QStringLiteral("7"));
    }
};

QTEST_MAIN(SettingsDialogsTest)
#include "settingsdialogs_test.moc"
