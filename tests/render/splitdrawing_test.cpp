// The map drawn in two halves on two threads against the same map drawn in
// order on one: the same pixels and the same progress lines, a failure in
// either half included.

#include "imagecanvas.h"
#include "mapdrawing.h"
#include "pointstore.h"
#include "recordingrun.h"
#include "recordstream.h"
#include "runerror.h"
#include "testfiles.h"

#include <QImage>
#include <QTest>

#include <chrono>
#include <cmath>
#include <new>
#include <string>
#include <thread>

using namespace zarn;

namespace {

// The image canvas, forking or not, that fails to print one name; a slow
// one takes a millisecond per name, its forks none.
class TestCanvas : public ImageCanvas {
public:
    TestCanvas(bool forks, std::string faultyName, int& forksMade, bool slow = false)
        : forks_(forks), faultyName_(std::move(faultyName)), forksMade_(forksMade), slow_(slow)
    {
    }

    std::unique_ptr<Canvas> Fork() const override
    {
        if (!forks_) {
            return nullptr;
        }
        auto fork = std::make_unique<TestCanvas>(true, faultyName_, forksMade_);
        PrepareFork(*fork);
        ++forksMade_;
        return fork;
    }
    void Print(std::string_view text) override
    {
        if (text == faultyName_) {
            throw RunError("cannot print " + faultyName_);
        }
        if (slow_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ImageCanvas::Print(text);
    }

private:
    bool forks_;
    std::string faultyName_;
    int& forksMade_;
    bool slow_;
};

// Rings crowded on top of one another with their names, every fifth name
// in Arabic letters, which go to QPainter::drawText.
std::string CrowdedRings(int rings)
{
    std::string data;
    for (int p = 0; p < rings; ++p) {
        const int points = 10 + (p * 7) % 50;
        data.append("\"").append(p % 5 == 4 ? "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7" : "Ring");
        data.append(std::to_string(p)).append("\",\"x\",").append(std::to_string(points + 1)).append("\r\n");
        const double r = 1.0 + (p % 9) * 0.7;
        for (int k = 0; k <= points; ++k) {
            const double a = 6.283185307179586 * (k % points) / points;
            data += std::to_string((p % 13) * 0.9 + r * std::cos(a)) + "," +
                    std::to_string((p % 11) * 0.8 + r * std::sin(a)) + "\r\n";
        }
    }
    return data;
}

struct Drawn {
    QImage map;
    probe::RecordingHost host;
    RunOutcome outcome;
};

void Draw(Drawn& out, bool split, const std::string& faultyName, int lineWidth, bool quiet, bool slow,
          int& forksMade)
{
    out.host.showsProgress = !quiet;
    Workspace ws;
    TestCanvas canvas(split, faultyName, forksMade, slow);
    DisplaySettings settings;
    ApplyStartupDefaults(settings, canvas);
    if (lineWidth != 0) {
        // Wide black pens and markers of 80 pixels: QPainter's outlines and
        // circles, in the colour closest to the fork's unwritten pixels.
        settings.lineWidth = lineWidth;
        settings.lineColor = Rgb(0, 0, 0);
        settings.fontColor = Rgb(0, 0, 0);
        settings.centroidSize = 73;
        canvas.SetFillStyle(0);
    }
    MapDrawing map(ws, canvas, settings);
    out.outcome = ProcessBnaFile(ws, &map, out.host);
    out.map = canvas.image().copy();
}

}  // namespace

class SplitDrawingTest : public QObject {
    Q_OBJECT

private slots:
    void splitDrawingMatchesOneThread_data()
    {
        QTest::addColumn<QString>("faultyName");
        QTest::addColumn<int>("lineWidth");
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<bool>("slowCaller");
        QTest::newRow("crowded rings and names") << "" << 0 << false << false;
        QTest::newRow("wide black pens and large markers") << "" << 20 << false << false;
        QTest::newRow("a failure in the first half") << "Ring12" << 0 << false << false;
        QTest::newRow("a failure in the second half") << "Ring181" << 0 << false << false;
        // Quiet, the second thread takes stretches of the caller's part, the
        // more the slower the caller.
        QTest::newRow("quiet: crowded rings and names") << "" << 0 << true << false;
        QTest::newRow("quiet: wide black pens and large markers") << "" << 20 << true << true;
        QTest::newRow("quiet: a failure in the caller's first stretch") << "Ring3" << 0 << true << true;
        QTest::newRow("quiet: a failure in a stretch taken over") << "Ring101" << 0 << true << true;
        QTest::newRow("quiet: a failure in the second thread's first part") << "Ring181" << 0 << true << true;
    }

    void splitDrawingMatchesOneThread()
    {
        QFETCH(QString, faultyName);
        QFETCH(int, lineWidth);
        QFETCH(bool, quiet);
        QFETCH(bool, slowCaller);
        test::TempFolder dir;
        const std::string input = dir.Write("crowd.bna", CrowdedRings(200));
        int forksMade = 0;
        Drawn inOrder{{}, {input, "crowd.bna"}, {}};
        Draw(inOrder, false, faultyName.toStdString(), lineWidth, quiet, false, forksMade);
        Drawn split{{}, {input, "crowd.bna"}, {}};
        Draw(split, true, faultyName.toStdString(), lineWidth, quiet, slowCaller, forksMade);

        QVERIFY(quiet ? forksMade >= 1 : forksMade == 1);
        QCOMPARE(split.outcome, faultyName.isEmpty() ? RunOutcome::Completed : RunOutcome::DrawingFailed);
        QCOMPARE(split.outcome, inOrder.outcome);
        QVERIFY(split.host.progress == inOrder.host.progress);
        QVERIFY(split.host.causes == inOrder.host.causes);
        QVERIFY(split.host.order == inOrder.host.order);
        QCOMPARE(split.map, inOrder.map);
        QVERIFY(split.map != QImage(split.map.size(), split.map.format()));
    }

    // A progress line of the second half that cannot be given out (the
    // window's list out of memory) ends the drawing as a failure, with the
    // second half's thread stopped, not the program.
    void lineFailingInTheSecondHalfEndsTheDrawing()
    {
        struct FullList : probe::RecordingHost {
            using RecordingHost::RecordingHost;
            void AppendProgress(std::string_view line) override
            {
                if (line.find("Ring181 ") != std::string_view::npos && line.find("for drawing") != std::string_view::npos) {
                    throw std::bad_alloc();
                }
                RecordingHost::AppendProgress(line);
            }
        };
        test::TempFolder dir;
        const std::string input = dir.Write("crowd.bna", CrowdedRings(200));
        int forksMade = 0;
        Workspace ws;
        TestCanvas canvas(true, "", forksMade);
        DisplaySettings settings;
        ApplyStartupDefaults(settings, canvas);
        MapDrawing map(ws, canvas, settings);
        FullList host(input, "crowd.bna");
        QCOMPARE(ProcessBnaFile(ws, &map, host), RunOutcome::DrawingFailed);
        QCOMPARE(forksMade, 1);
        QVERIFY(host.causes == std::vector<std::string>{"out of memory while drawing"});
    }

    // The second half's reader starts at a noted record, in memory or in
    // the temporary file, and gives back what was kept from there on, across
    // its read-ahead buffers (about 4.8 MB kept).
    void readersFromAMarkGiveBackTheRecordsFromThere()
    {
        constexpr std::size_t AllInMemory = std::size_t{64} << 20;
        for (const std::size_t bound : {std::size_t{0}, std::size_t{3} << 20, AllInMemory}) {
            PointStore store(bound);
            constexpr int Count = 3000;
            for (int k = 0; k < Count; ++k) {
                std::string name = "R";
                name += std::to_string(k);
                const std::vector<float> points(static_cast<std::size_t>(2 * (k % 400 + 1)), static_cast<float>(k));
                StreamRecord record;
                record.firstName = name;
                record.nPoints = k % 400 + 1;
                record.x = points.data();
                record.y = points.data() + record.nPoints;
                record.bytesRead = static_cast<std::uint64_t>(k) * 100;
                store.Add(record, nullptr);
            }
            store.Rewind();
            const PointStore::Mark mark = store.MarkNear(0.5);
            QVERIFY(mark.index > Count / 3 && mark.index < 2 * Count / 3);
            PointStore::Reader withPoints(store, mark, Count);
            PointStore::Reader namesOnly(store, mark, Count, false);
            for (std::size_t k = mark.index; k < Count; ++k) {
                const PointStore::Record* record = withPoints.Next();
                QVERIFY(record != nullptr);
                QCOMPARE(record->firstName.substr(0, 1), std::string_view("R"));
                QCOMPARE(std::string(record->firstName.substr(1)), std::to_string(k));
                QCOMPARE(record->nPoints, static_cast<std::int32_t>(k % 400 + 1));
                QCOMPARE(record->y[record->nPoints - 1], static_cast<float>(k));
                const PointStore::Record* name = namesOnly.Next();
                QVERIFY(name != nullptr && name->x == nullptr);
                QCOMPARE(name->bytesRead, std::uint64_t{k} * 100);
            }
            QVERIFY(withPoints.Next() == nullptr && !withPoints.Failed());
            QCOMPARE(store.Spooled(), bound < AllInMemory);
        }
    }
};

QTEST_MAIN(SplitDrawingTest)
#include "splitdrawing_test.moc"
