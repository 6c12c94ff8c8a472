// Labels drawn from cached glyphs against QPainter::drawText on the map's
// image: the same pixels for the names a map holds, at fractional corners,
// across the image's edges and through font changes, and QPainter itself for
// text that needs shaping.

#include "labeltext.h"

#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QTest>

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
// another, with painters set up alike by `setUp`.
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
    {
        QPainter reference(&drawn.byPainter);
        QPainter painter(&drawn.byLabels);
        for (std::size_t i = 0; i < labels.size(); ++i) {
            setUp(reference, i);
            setUp(painter, i);
            const Label& label = labels[i];
            reference.drawText(QRectF(label.corner, QSizeF(LabelText::LayoutReach, LabelText::LayoutReach)),
                               Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label.text);
            drawn.fromMasks +=
                labelText.Draw(drawn.byLabels, painter, label.corner.x(), label.corner.y(), label.text) ? 1 : 0;
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

    void transformedOrClippedPaintersAreLeftToPainter()
    {
        const Drawn drawn = DrawBoth({{QStringLiteral("Polygon 1"), QPointF(5.5, 5.5)},
                                      {QStringLiteral("Polygon 2"), QPointF(5.5, 25.5)}},
                                     [](QPainter& painter, std::size_t i) {
                                         painter.setFont(LabelFont(8.25, false, false));
                                         if (i == 0) {
                                             painter.translate(100.25, 100.75);
                                         } else {
                                             painter.resetTransform();
                                             painter.setClipRect(0, 0, 30, 40);
                                         }
                                     });
        QCOMPARE(drawn.fromMasks, 0);
        QCOMPARE(DifferentPixels(drawn.byLabels, drawn.byPainter), 0);
    }
};

QTEST_MAIN(LabelTextTest)
#include "labeltext_test.moc"
