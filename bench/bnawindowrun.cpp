// bna-window-run: one run through the main window, as a person starts it
// with "Select input bna", but with the modal dialogs scripted: the open-file
// dialog returns the given file and the message boxes close at once. The
// window is shown on the platform Qt is given (offscreen unless
// QT_QPA_PLATFORM says otherwise), so the repaints during the run and the
// filling of both lists cost what they cost on a screen.
//
// Prints one line about the run afterwards:
//   outcome=completed progress_lines=N progress_text_bytes=T
//   progress_overhead_bytes=O summary_lines=M messages=K run_ms=R
//   list_paints=P list_max_gap_ms=G indicator_paints=Q indicator_max_gap_ms=H
// where O is what the progress list holds beyond the text of its lines, and
// G and H are the longest stretches of the run without a paint of the
// progress list, and of the progress indicator (the status bar or a progress
// bar), counted from the start to the end of the run.

#include "dialogbackend.h"
#include "form1.h"
#include "linelistmodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace zarn::bench {

namespace {

class ScriptedDialogs : public DialogBackend {
public:
    explicit ScriptedDialogs(std::string path) : path_(std::move(path)) {}

    std::optional<std::string> OpenFile(const std::string& /*title*/, const std::string& /*filter*/,
                                        const std::string& /*previous*/) override
    {
        return path_;
    }
    std::optional<Colour> PickColor(Colour /*initial*/) override { return std::nullopt; }
    void Critical(const std::string& /*text*/) override { ++messages_; }

    int messages() const { return messages_; }

private:
    std::string path_;
    int messages_ = 0;
};

// Paints of one widget group during the run.
struct PaintTrack {
    int paints = 0;
    qint64 last = 0;
    qint64 maxGap = 0;

    void Note(qint64 now)
    {
        maxGap = std::max(maxGap, now - last);
        last = now;
        ++paints;
    }
};

// Sees every event of the program and notes when the progress list and the
// progress indicator are painted while the run holds the thread.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* listViewport, QMainWindow* window) : listViewport_(listViewport), window_(window) {}

    void Start() { clock_.start(); }
    void Stop()
    {
        runMs_ = clock_.elapsed();
        list_.Note(runMs_);
        indicator_.Note(runMs_);
        clock_.invalidate();
    }

    const PaintTrack& list() const { return list_; }
    const PaintTrack& indicator() const { return indicator_; }
    qint64 runMs() const { return runMs_; }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !clock_.isValid() || !watched->isWidgetType()) {
            return false;
        }
        auto* widget = static_cast<QWidget*>(watched);
        if (widget == listViewport_) {
            list_.Note(clock_.elapsed());
        } else if (window_->statusBar()->isAncestorOf(widget) || qobject_cast<QProgressBar*>(widget) != nullptr) {
            indicator_.Note(clock_.elapsed());
        }
        return false;
    }

private:
    QWidget* listViewport_;
    QMainWindow* window_;
    QElapsedTimer clock_;
    PaintTrack list_;
    PaintTrack indicator_;
    qint64 runMs_ = 0;
};

const char* OutcomeText(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed:
        return "completed";
    case RunOutcome::DrawingFailed:
        return "drawing-failed";
    case RunOutcome::Stopped:
        return "stopped";
    case RunOutcome::Failed:
        break;
    }
    return "failed";
}

int Main(int argc, char* argv[])
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        std::fputs("Usage: bna-window-run FILE.bna\n", stderr);
        return 2;
    }
    const std::string path = std::filesystem::absolute(args[1].toStdString()).string();

    ScriptedDialogs dialogs(path);
    Form1 form1(dialogs, {});
    form1.show();
    QApplication::processEvents();

    auto* list = form1.findChild<QListView*>(QStringLiteral("List1"));
    if (list == nullptr) {
        std::fputs("bna-window-run: the window has no progress list List1\n", stderr);
        return 1;
    }
    PaintWatch watch(list->viewport(), &form1);
    QApplication::instance()->installEventFilter(&watch);
    watch.Start();
    form1.Form1_Command1_Click();
    watch.Stop();
    QApplication::processEvents();

    const LineListModel& progress = form1.list1();
    const std::size_t textBytes = progress.TextBytes();
    std::printf("outcome=%s progress_lines=%zu progress_text_bytes=%zu progress_overhead_bytes=%zu "
                "summary_lines=%zu messages=%d run_ms=%lld list_paints=%d list_max_gap_ms=%lld "
                "indicator_paints=%d indicator_max_gap_ms=%lld\n",
                OutcomeText(form1.lastOutcome()), progress.LineCount(), textBytes, progress.OverheadBytes(),
                form1.list2().LineCount(), dialogs.messages(), static_cast<long long>(watch.runMs()),
                watch.list().paints, static_cast<long long>(watch.list().maxGap), watch.indicator().paints,
                static_cast<long long>(watch.indicator().maxGap));
    return form1.lastOutcome() == RunOutcome::Failed ? 1 : 0;
}

}  // namespace

}  // namespace zarn::bench

int main(int argc, char* argv[])
{
    return zarn::bench::Main(argc, argv);
}
