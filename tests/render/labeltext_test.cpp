// Labels drawn from cached glyphs against QPainter::drawText on the map's
// image: the same pixels for the names a map holds, at fractional corners,
// across the image's edges and through font changes, and QPainter itself for
// text that needs shaping.

#include "displaysettings.h"
#include "imagecanvas.h"
#include "labeltext.h"
#include "runerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <csignal>

#include <vector>

using namespace zarn;

namespace {

constexpr int MapPixels = 545;

struct Label {
    QString text;
    QPointF corner;
};

// The map's label font, as the canvas sets it up.
QFont LabelFont(double points, bool bold, bool italic)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QImage MapImage()
{
    QImage image(MapPixels, MapPixels, QImage::Format_RGB32);
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    image.fill(Qt::white);
    return image;
}

int DifferentPixels(const QImage& a, const QImage& b)
{
    int different = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            different += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return different;
}

int InkedPixels(const QImage& image)
{
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            inked += image.pixel(x, y) != qRgb(255, 255, 255) ? 1 : 0;
        }
    }
    return inked;
}

// The same labels drawn by QPainter into one image and by LabelText into
// another, each in the font and pen colour `setUp` gives the painter; the
// labels LabelText leaves to QPainter are drawn with a painter set up alike.
struct Drawn {
    QImage byPainter = MapImage();
    QImage byLabels = MapImage();
    int fromMasks = 0;
};

template <typename SetUp>
Drawn DrawBoth(const std::vector<Label>& labels, SetUp setUp)
{
    Drawn drawn;
    LabelText labelText;
    QPainter reference(&drawn.byPainter);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        setUp(reference, i);
        const Label& label = labels[i];
        const QRectF layout(label.corner, QSizeF(LabelText::LayoutReach, LabelText::LayoutReach));
        reference.drawText(layout, LabelText::LayoutFlags, label.text);
        if (labelText.Draw(drawn.byLabels, reference.font(), reference.pen().color(), label.corner.x(),
                           label.corner.y(), label.text)) {
            ++drawn.fromMasks;
        } else {
            QPainter painter(&drawn.byLabels);
            setUp(painter, i);
            painter.drawText(layout, LabelText::LayoutFlags, label.text);
        }
    }
    return drawn;
}

Drawn DrawBoth(const std::vector<Label>& labels, const QFont& font)
{
    return DrawBoth(labels, [&](QPainter& painter, std::size_t) {
        painter.setFont(font);
        painter.setPen(QColor(160, 20, 40));
    });
}

// Names of the kinds a map holds, each at its own fractions of a pixel, one
// below the other.
std::vector<Label> TypicalLabels()
{
    const QStringList names = {
        QStringLiteral("Polygon 12345"),
        QStringLiteral("Île-de-France 7"),
        QStringLiteral("Nordfriesland, Kreis"),
        QStringLiteral("AVATAR Tower, Today"),
        QStringLiteral("Pfaffenhofen a.d. Ilm"),
        QStringLiteral("Sheffield office, fjord"),
        QStringLiteral("L'Aquila (AQ) \"Yy\""),
        QStringLiteral("Zürich Genève Łódź Ærø"),
        QStringLiteral("Санкт-Петербург"),
        QStringLiteral("Θεσσαλονίκη 2"),
        QStringLiteral("Côte d’Ivoire – 1/2"),
        QStringLiteral("  spaced  out  "),
    };
    std::vector<Label> labels;
    for (int i = 0; i < 30; ++i) {
        labels.push_back({names[i % names.size()], QPointF(3.0 + (i * 37.31) - 310.0 * (i / 9), 2.0 + i * 17.83)});
    }
    return labels;
}

}  // namespace

class LabelTextTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")),
                 "the label font DejaVu Sans (fonts-dejavu-core) is not installed");
    }

    void typicalNamesMatchPainter_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::newRow("the default 8.25 pt font") << LabelFont(8.25, false, false);
        QTest::newRow("bold, the start-up font") << LabelFont(8.25, true, false);
        QTest::newRow("italic") << LabelFont(8.25, false, true);
        QTest::newRow("14 pt bold italic") << LabelFont(14.0, true, true);
    }

    void typicalNamesMatchPainter()
    {
        QFETCH(QFont, font);
        const std::vector<Label> labels = TypicalLabels();
        const Drawn drawn = DrawBoth(labels, font);
        QCOMPARE(drawn.fromMasks, static_cast<int>(labels.size()));
        QVERIFY(InkedPixels(drawn.byPainter) > 1000);
        QCOMPARE(DifferentPixels(drawn.byLabels, drawn.byPainter), 0);
    }

    void labelsAcrossTheEdgesAreClipped_data()
    {
        QTest::addColumn<QPointF>("corner");
        QTest::addColumn<bool>("visible");
        QTest::newRow("starting left of the image") << QPointF(-30.6, 100.2) << true;
        QTest::newRow("starting above the image") << QPointF(40.5, -6.3) << true;
        QTest::newRow("running out on the right") << QPointF(500.3, 200.7) << true;
        QTest::newRow("running out at the bottom") << QPointF(100.1, 538.6) << true;
        QTest::newRow("over the top-left corner") << QPointF(-20.4, -7.9) << true;
        QTest::newRow("wholly left of the image") << QPointF(-300.0, 50.0) << false;
        QTest::newRow("wholly below the image") << QPointF(100.0, 560.0) << false;
    }

    void labelsAcrossTheEdgesAreClipped()
    {
        QFETCH(QPointF, corner);
        QFETCH(bool, visible);
        const Drawn drawn = DrawBoth({{QStringLiteral("Nordfriesland, Kreis"), corner}}, LabelFont(8.25, true, false));
        QCOMPARE(drawn.fromMasks, 1);
        QCOMPARE(InkedPixels(drawn.byLabels) > 0, visible);
        QCOMPARE(DifferentPixels(drawn.byLabels, drawn.byPainter), 0);
    }

    void fontAndColourChangesAreFollowed()
    {
        const QFont fonts[] = {LabelFont(8.25, false, false), LabelFont(8.25, true, false),
                               LabelFont(14.0, false, false), LabelFont(8.25, false, false)};
        const QColor colours[] = {Qt::black, Qt::blue, QColor(0, 128, 0), Qt::red};
        std::vector<Label> labels;
        for (int i = 0; i < 4; ++i) {
            labels.push_back({QStringLiteral("Polygon 4711"), QPointF(10.25, 10.5 + 30.0 * i)});
        }
        const Drawn drawn = DrawBoth(labels, [&](QPainter& painter, std::size_t i) {
            painter.setFont(fonts[i]);
            painter.setPen(colours[i]);
        });
        QCOMPARE(drawn.fromMasks, 4);
        QCOMPARE(DifferentPixels(drawn.byLabels, drawn.byPainter), 0);
    }

    void textNeedingShapingIsLeftToPainter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Arabic") << QStringLiteral("مدينة الكويت");
        QTest::newRow("Latin followed by Hebrew") << QStringLiteral("Polygon 5 תל אביב");
        QTest::newRow("a combining acute accent") << QStringLiteral("Cafe\u0301 du Port");
        QTest::newRow("a tab") << QStringLiteral("Nord\tSüd");
        QTest::newRow("a line break") << QStringLiteral("Nord\nSüd");
        QTest::newRow("a control character") << QStringLiteral("A\u0001B");
        QTest::newRow("a soft hyphen") << QStringLiteral("Donau\u00ADdampf");
        QTest::newRow("characters the font lacks") << QStringLiteral("北京市");
        QTest::newRow("a surrogate pair") << QStringLiteral("Park \U0001F332");
    }

    void textNeedingShapingIsLeftToPainter()
    {
        QFETCH(QString, text);
        const Drawn drawn = DrawBoth({{text, QPointF(20.7, 30.2)}}, LabelFont(8.25, true, false));
        QCOMPARE(drawn.fromMasks, 0);
        QCOMPARE(DifferentPixels(drawn.byLabels, drawn.byPainter), 0);
    }

    void imagesUnderAnActivePainterAreLeftToPainter()
    {
        QImage image = MapImage();
        const QImage blank = image;
        LabelText labelText;
        QPainter painter(&image);
        QVERIFY(!labelText.Draw(image, LabelFont(8.25, false, false), Qt::black, 5.5, 5.5,
                                QStringLiteral("Polygon 1")));
        painter.end();
        QCOMPARE(image, blank);
    }

    // The map canvas as a run sets it up draws typical names from the masks,
    // with QPainter's pixels: a font or Qt update that sent them all to
    // drawText would make every map many times slower.
    void canvasDrawsTypicalNamesFromTheMasks()
    {
        ImageCanvas canvas;
        DisplaySettings settings;
        ApplyStartupDefaults(settings, canvas);
        canvas.SetForeColor(Rgb(160, 20, 40));
        QImage reference = canvas.image().copy();
        QPainter painter(&reference);
        painter.setFont(LabelFont(canvas.FontSize(), canvas.FontBold(), canvas.FontItalic()));
        painter.setPen(QColor(160, 20, 40));
        for (const Label& label : TypicalLabels()) {
            const auto x = static_cast<float>(label.corner.x() * Canvas::FrameSize / ImageCanvas::SizePixels);
            const auto y = static_cast<float>(Canvas::FrameSize - label.corner.y() * Canvas::FrameSize / ImageCanvas::SizePixels);
            canvas.SetCurrentX(x);
            canvas.SetCurrentY(y);
            canvas.Print(label.text.toStdString());
            painter.drawText(QRectF(ImageCanvas::PixelX(x), ImageCanvas::PixelY(y), LabelText::LayoutReach,
                                    LabelText::LayoutReach),
                             LabelText::LayoutFlags, label.text);
        }
        painter.end();
        QCOMPARE(canvas.LabelsLeftToPainter(), std::uint64_t{0});
        QCOMPARE(DifferentPixels(canvas.image(), reference), 0);
    }

    // A canvas that goes with its painter active (a wide pen, a label left to
    // QPainter, nothing saved) ends the painter before the image goes.
    void canvasGoesWithoutSavingWhilePainting()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("paint device|QPainter")));
        {
            ImageCanvas canvas;
            canvas.SetDrawWidth(40);
            canvas.Line(10.0F, 10.0F, 90.0F, 90.0F);
            canvas.SetCurrentX(50.0F);
            canvas.SetCurrentY(50.0F);
            canvas.Print("\xD9\x85\xD8\xAF\xD9\x8A\xD9\x86\xD8\xA9");  // Arabic: drawn by QPainter
            QCOMPARE(canvas.LabelsLeftToPainter(), std::uint64_t{1});
        }
        ImageCanvas canvas;
        QVERIFY_THROWS_EXCEPTION(RunError, canvas.SavePicture("/dev/full"));
    }

    // A map that cannot be saved whole (here a file size limit, as a full
    // disk would) leaves the earlier map byte for byte and no other file;
    // one that can replaces it, through a link to it too.
    void mapReplacesTheEarlierOneOnlyWhenComplete()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString earlier = dir.filePath(QStringLiteral("earlierMap.bmp"));
        QFile file(earlier);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier") == 7);
        file.close();
        QVERIFY(QFile::link(earlier, dir.filePath(QStringLiteral("inMap.bmp"))));
        ImageCanvas canvas;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit limited = before;
        limited.rlim_cur = 64 * 1024;  // the map is 545 x 545 x 3 bytes
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        bool failed = false;
        try {
            canvas.SavePicture(dir.filePath(QStringLiteral("inMap.bmp")).toStdString());
        } catch (const RunError&) {
            failed = true;
        }
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(failed);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("earlier"));
        file.close();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 2);

        canvas.SavePicture(dir.filePath(QStringLiteral("inMap.bmp")).toStdString());
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("inMap.bmp"))).isSymLink());
        QVERIFY(QFileInfo(earlier).size() > 545 * 545 * 3);
    }
};

QTEST_MAIN(LabelTextTest)
#include "labeltext_test.moc"
