// The dialogs' settings as the next analysis run draws them: a real run over
// a small BNA file, its map bitmap read back and a few pixels checked.
#include "analysisrun.h"
#include "displaysettings.h"
#include "form3.h"
#include "form4.h"
#include "form5.h"
#include "imagecanvas.h"
#include "mapdrawing.h"
#include "settingstesting.h"
#include "workspace.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

using namespace zarn;
using namespace zarn::testing;

namespace {

// One square from 0 to 10 degrees on both axes: padded by 1 %, the frame
// shows it from canvas 0.98 to 99.02, so its left edge runs down pixel
// column 5 and its centroid (5, 5) lands on pixel (272, 272).
constexpr const char* SquareBna =
    "\"Sq\",\"one\",5\r\n0,0\r\n10,0\r\n10,10\r\n0,10\r\n0,0\r\n";
constexpr int CentrePixel = 272;

class TestHost : public RunHost {
public:
    explicit TestHost(QString path) : path_(std::move(path)) {}

    std::string FileName() const override { return path_.toStdString(); }
    std::string FileTitle() const override { return "square.bna"; }
    void AppendProgress(std::string_view) override {}
    void AppendSummary(std::string_view) override {}
    void SetListsBold() override {}
    void RepaintSummary() override {}
    void ShowCritical(std::string_view message) override { messages.append(QString::fromStdString(std::string(message))); }

    QStringList messages;

private:
    QString path_;
};

QRgb ToRgb(Colour c)
{
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// How many pixels of `rect` have the colour.
int Count(const QImage& image, const QRect& rect, Colour colour)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            n += image.pixel(x, y) == ToRgb(colour) ? 1 : 0;
        }
    }
    return n;
}

// The program as far as a run and the settings dialogs go.
struct Program {
    std::unique_ptr<Workspace> ws = std::make_unique<Workspace>();
    ImageCanvas picture1;
    DisplaySettings settings;
    MapDrawing mapDrawing{*ws, picture1, settings};
    std::shared_ptr<ColorScript> colors = std::make_shared<ColorScript>();
    ScriptedColorDialog CD1{colors};
    Form4 form4{settings, ScriptedFactory(colors)};
    Form3 form3{settings, picture1, CD1};
    Form5 form5{settings, picture1, ScriptedFactory(colors)};
    QTemporaryDir dir;

    Program() { ApplyStartupDefaults(settings, picture1); }

    // Clears the canvas, runs the analysis and reads the saved map back.
    QImage Run()
    {
        const QString input = dir.filePath(QStringLiteral("square.bna"));
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(SquareBna) < 0) {
            return {};
        }
        file.close();
        TestHost host(input);
        picture1.Cls();
        if (ProcessBnaFile(*ws, &mapDrawing, host) != RunOutcome::Completed || !host.messages.isEmpty()) {
            return {};
        }
        return QImage(dir.filePath(QStringLiteral("squareMap.bmp"))).convertToFormat(QImage::Format_RGB32);
    }
};

}  // namespace

class NextRunTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(DialogFontFound(), "DejaVu Sans is missing: install fonts-dejavu-core"); }

    void outlinesTakeTheLineSettings_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<Colour>("lineColor");
        QTest::addColumn<int>("width");
        QTest::newRow("before the dialog the outlines are red and 2 pixels wide") << false << Rgb(255, 0, 0) << 2;
        QTest::newRow("a green pick and a width of 5 draw green outlines 5 pixels wide") << true << Green << 5;
    }

    void outlinesTakeTheLineSettings()
    {
        QFETCH(bool, confirm);
        QFETCH(Colour, lineColor);
        QFETCH(int, width);
        Program p;
        if (confirm) {
            QWidget* window = Open(p.form4);
            p.colors->Accept(Green);
            Click(window, "Command1");
            Type(Entry(window), QStringLiteral("5"));
            Click(window, "Command3");
        }

        const QImage map = p.Run();
        QVERIFY(!map.isNull());
        // Across the left edge, half way up: as many pixels as the pen is wide.
        QCOMPARE(Count(map, QRect(0, CentrePixel, 20, 1), lineColor), width);
    }

    void markersTakeTheCentroidSettings_data()
    {
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<QRgb>("inside");
        QTest::newRow("Filled paints the circle's inside in the fill colour") << false << ToRgb(Green);
        QTest::newRow("Transparent leaves the circle hollow") << true << ToRgb(ImageCanvas::InitialBackColor);
    }

    void markersTakeTheCentroidSettings()
    {
        QFETCH(bool, transparent);
        QFETCH(QRgb, inside);
        Program p;
        QWidget* window = Open(p.form5);
        p.colors->Accept(Yellow);
        Click(window, "Command1");
        p.colors->Accept(Green);
        Click(window, "Command4");
        Click(window, transparent ? "Option1" : "Option2");
        Type(Entry(window), QStringLiteral("40"));
        Click(window, "Command3");

        const QImage map = p.Run();
        QVERIFY(!map.isNull());
        // Size 40: a radius of 8 canvas units, 43.6 pixels.
        QCOMPARE(map.pixel(CentrePixel - 25, CentrePixel), inside);
        QVERIFY2(Count(map, QRect(CentrePixel - 48, CentrePixel, 10, 1), Yellow) > 0, "the outline is yellow");
    }

    void labelsFollowShowText_data()
    {
        QTest::addColumn<bool>("showText");
        QTest::addColumn<bool>("printed");
        QTest::newRow("Show Text checked prints the name in the picked colour") << true << true;
        QTest::newRow("Show Text unchecked prints no name") << false << false;
    }

    void labelsFollowShowText()
    {
        QFETCH(bool, showText);
        QFETCH(bool, printed);
        Program p;
        QWidget* window = Open(p.form3);
        p.colors->Accept(Magenta);
        Click(window, "Command3");
        Find(window, "Check3")->setChecked(showText);
        Type(Entry(window), QStringLiteral("20"));
        Click(window, "Command2");

        const QImage map = p.Run();
        QVERIFY(!map.isNull());
        // The label's top left corner is at the lower right of the marker's square.
        const QRect label(CentrePixel + 4, CentrePixel + 4, 60, 30);
        QCOMPARE(Count(map, label, Magenta) > 0, printed);
    }

    void confirmingLeavesTheShownMapAsDrawn()
    {
        Program p;
        const QImage drawn = p.Run();
        QVERIFY(!drawn.isNull());
        const QImage before = p.picture1.image().copy();

        QWidget* line = Open(p.form4);
        p.colors->Accept(Green);
        Click(line, "Command1");
        Click(line, "Command3");
        QWidget* font = Open(p.form3);
        Find(font, "Check3")->setChecked(false);
        Click(font, "Command2");
        QWidget* centroid = Open(p.form5);
        Click(centroid, "Option1");
        Click(centroid, "Command3");

        QVERIFY(p.picture1.image() == before);
        QVERIFY(p.Run() != drawn);
    }
};

QTEST_MAIN(NextRunTest)
#include "nextrun_test.moc"
