// The window after a drawing that fails half-way: the drawing's own message,
// complete result files and summary, the partial map saved as shown, and a
// next run through the button that works as usual.

#include "cuttingform.h"
#include "dialogbackend.h"
#include "form1.h"
#include "form4.h"
#include "linelistmodel.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <deque>

using namespace zarn;

namespace {

class ScriptedDialogs : public DialogBackend {
public:
    std::deque<std::string> files;
    std::vector<std::string> messages;

    std::optional<std::string> OpenFile(const std::string&, const std::string&, const std::string&) override
    {
        if (files.empty()) {
            return std::nullopt;
        }
        std::string f = files.front();
        files.pop_front();
        return f;
    }
    std::optional<Colour> PickColor(Colour) override { return std::nullopt; }
    void Critical(const std::string& text) override { messages.push_back(text); }
};

// The colour picker of the line dialog: every pick is red, the outline
// colour the checks below look for.
class RedPicker : public ColorDialogControl {
public:
    void ShowColor() override { colour_ = Rgb(255, 0, 0); }
    Colour Color() const override { return colour_; }

private:
    Colour colour_ = 0;
};

// Settings, Lines: "Line Color", the thickness typed over the entry, OK.
void SetLineWidthInTheDialog(Form1& form, const QString& width)
{
    form.findChild<QAction*>(QStringLiteral("mnuLines"))->trigger();
    QWidget* dialog = form.form4()->window();
    QVERIFY(dialog != nullptr && dialog->isVisible());
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    auto* entry = dialog->findChild<QLineEdit*>(QStringLiteral("Text1"));
    QVERIFY(entry != nullptr);
    entry->selectAll();
    QTest::keyClicks(entry, width);
    QCOMPARE(entry->text(), width);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool HasColour(const QImage& image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFFU) == (colour & 0xFFFFFFU)) {
                return true;
            }
        }
    }
    return false;
}

// Rings of `points` points side by side, each a circle of radius one degree.
QByteArray Rings(int rings, int points)
{
    QByteArray data;
    for (int p = 0; p < rings; ++p) {
        data += "\"P" + QByteArray::number(p) + "\",\"x\"," + QByteArray::number(points + 1) + "\r\n";
        for (int k = 0; k <= points; ++k) {
            const double a = 6.283185307179586 * (k % points) / points;
            data += QByteArray::number(p * 3 + std::cos(a), 'f', 6) + "," +
                    QByteArray::number(std::sin(a), 'f', 6) + "\r\n";
        }
    }
    return data;
}

}  // namespace

class DrawingFailureTest : public QObject {
    Q_OBJECT

private slots:
    void partialMapIsSavedAndTheNextRunWorks_data()
    {
        QTest::addColumn<QString>("lineWidth");  // typed into the line dialog; empty: left alone
        QTest::addColumn<bool>("cutWhileDrawing");
        QTest::addColumn<int>("drawingLinesBeforeFault");
        QTest::newRow("a pen width of 0 from the line dialog") << "0" << false << 1;
        QTest::newRow("a pen width beyond 16 bits from the line dialog") << "40000" << false << 1;
        // The drawing draws what the analysis read: a file cut once the
        // drawing has begun no longer ends it.
        QTest::newRow("a file cut while drawing") << "" << true << -1;
    }

    void partialMapIsSavedAndTheNextRunWorks()
    {
        QFETCH(QString, lineWidth);
        QFETCH(bool, cutWhileDrawing);
        QFETCH(int, drawingLinesBeforeFault);
        constexpr int RingCount = 40;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString input = dir.filePath(QStringLiteral("rings.bna"));
        const QByteArray content = Rings(RingCount, 15000);
        {
            QFile f(input);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        ScriptedDialogs dialogs;
        dialogs.files = {input.toStdString(), input.toStdString()};
        test::CuttingForm form(dialogs, [] { return std::make_unique<RedPicker>(); });
        if (!lineWidth.isEmpty()) {
            SetLineWidthInTheDialog(form, lineWidth);
            if (QTest::currentTestFailed()) {
                return;
            }
            QCOMPARE(form.settings().lineWidth, lineWidth.toInt());
        }
        if (cutWhileDrawing) {
            form.path = input;
            form.keep = content.size() * 3 / 4;
            form.at = "Read polygon P1 with 15001 points for drawing.";
        }
        auto* button = form.findChild<QPushButton*>(QStringLiteral("Command1"));
        QVERIFY(button != nullptr);

        QTest::mouseClick(button, Qt::LeftButton);

        if (cutWhileDrawing) {
            QVERIFY(dialogs.messages.empty());
            QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
            QCOMPARE(form.list1().LineCount(), std::size_t{1 + 4 * RingCount});
            return;
        }
        QCOMPARE(dialogs.messages, std::vector<std::string>{"Sorry, could not draw without problems."});
        QCOMPARE(form.lastOutcome(), RunOutcome::DrawingFailed);
        // Three analysis lines per ring after the Open line, then the
        // drawing's lines up to the faulty record.
        const std::size_t analysisLines = 1 + 3 * RingCount;
        if (drawingLinesBeforeFault >= 0) {
            QCOMPARE(form.list1().LineCount(), analysisLines + drawingLinesBeforeFault);
        } else {
            QVERIFY(form.list1().LineCount() > analysisLines + 1);
            QVERIFY(form.list1().LineCount() <= analysisLines + RingCount);
        }
        const CanvasTransform t(form.mapDrawing().mapExtent(), ComputeMapScale(form.mapDrawing().mapExtent()));
        const auto outlineAt = [&](const QImage& map, double lon) {
            const int x = static_cast<int>(ImageCanvas::PixelX(t.X(lon)));
            const int y = static_cast<int>(ImageCanvas::PixelY(t.Y(0.0)));
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (map.valid(x + dx, y + dy) && (map.pixel(x + dx, y + dy) & 0xFFFFFFU) == 0xFF0000U) {
                        return true;
                    }
                }
            }
            return false;
        };
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
        QCOMPARE(std::string(form.list2().Line(6)), std::string("\tMap: \t\tringsMap.bmp"));
        QCOMPARE(ReadAll(dir.filePath(QStringLiteral("ringsArea.csv"))).count("\r\n"), RingCount);
        QCOMPARE(ReadAll(dir.filePath(QStringLiteral("ringsCentroid.bna"))).count("\r\n"), 2 * RingCount);
        if (!cutWhileDrawing) {
            QCOMPARE(ReadAll(input), content);
        }
        QImage partial;
        QVERIFY(partial.load(dir.filePath(QStringLiteral("ringsMap.bmp")), "BMP"));
        QCOMPARE(partial, form.picture().image().convertToFormat(partial.format()));
        // Outlines are red: the first ring is on the map only when the fault
        // came after it, the last one never.
        QCOMPARE(HasColour(partial, qRgb(255, 0, 0)), cutWhileDrawing);
        QCOMPARE(outlineAt(partial, 1.0), cutWhileDrawing);
        QVERIFY(!outlineAt(partial, (RingCount - 1) * 3 + 1.0));

        // As the user would: put things right and press the button again.
        if (!lineWidth.isEmpty()) {
            SetLineWidthInTheDialog(form, QStringLiteral("2"));
            if (QTest::currentTestFailed()) {
                return;
            }
        }
        if (cutWhileDrawing) {
            QFile f(input);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QTest::mouseClick(button, Qt::LeftButton);

        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(form.lastOutcome(), RunOutcome::Completed);
        QCOMPARE(form.list1().LineCount(), std::size_t{1 + 4 * RingCount});
        QCOMPARE(std::string(form.list1().Line(0)), " Open " + input.toStdString());
        QCOMPARE(form.list2().LineCount(), std::size_t{7});
        QImage full;
        QVERIFY(full.load(dir.filePath(QStringLiteral("ringsMap.bmp")), "BMP"));
        QVERIFY(outlineAt(full, 1.0));
        QVERIFY(outlineAt(full, (RingCount - 1) * 3 + 1.0));
        QCOMPARE(full, form.picture().image().convertToFormat(full.format()));
        QCOMPARE(ReadAll(input), content);
    }
};

QTEST_MAIN(DrawingFailureTest)
#include "drawingfailure_test.moc"
