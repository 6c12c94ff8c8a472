#pragma once

#include "analysisrun.h"
#include "commondialog.h"
#include "dialogbackend.h"
#include "displaysettings.h"
#include "exportdialog.h"
#include "imagecanvas.h"
#include "mapdrawing.h"
#include "screencanvas.h"
#include "workspace.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>
#include <vector>

class QAction;
class QLabel;
class QListView;
class QPushButton;

namespace zarn {

class FocusMarkedList;
class Form2;
class Form3;
class Form4;
class Form5;
class LineListModel;
class LineListTail;
class PictureBox;

// The main window: the button that starts a run, the progress list, the
// summary list, the map canvas and the menus. It owns the program-wide
// state (workspace, display settings, canvas, CD1) and hands a run to the
// analysis core, which reports back through the RunHost interface.
class Form1 : public QMainWindow, private RunHost {
public:
    // `colourPickers` makes the colour dialogs of the line and centroid
    // settings dialogs (each has its own).
    Form1(DialogBackend& dialogs, ColorDialogFactory colourPickers);
    ~Form1() override;

    // "Select input bna": clears the lists and the canvas, asks for a file
    // and runs the analysis on it.
    void Form1_Command1_Click();
    // Starts a run on `path` (local 8-bit encoding) as if it had been chosen
    // in the open-file dialog: a file named on the command line or dropped
    // on the window. Does nothing while a run goes on.
    void OpenInputFile(const std::string& path);
    void Form1_mnuBackcolor_Click();
    void Form1_mnuAbout_Click();
    void Form1_mnuFont_Click();
    void Form1_mnuLines_Click();
    void Form1_mnuCentroids_Click();
    // "Export…", where the build has the exports: the formats every run
    // exports to from now on.
    void Form1_mnuExport_Click();

    // The state a run and the settings dialogs work on.
    DisplaySettings& settings() { return settings_; }
    // The canvas whose picture is saved (545 x 545 pixels).
    ImageCanvas& picture() { return canvas_; }
    // The map at the screen's resolution where a pixel has several device
    // pixels, else null (the screen shows the saved picture).
    ScreenCanvas* screenPicture() { return screen_.get(); }
    CommonDialog& CD1() { return cd1_; }
    LineListModel& list1() { return *list1Model_; }
    LineListModel& list2() { return *list2Model_; }
    const MapDrawing& mapDrawing() const { return mapDrawing_; }
    RunOutcome lastOutcome() const { return lastOutcome_; }
    // Whether Esc or the status bar's Stop has asked the current run to end.
    bool stopRequested() const { return stopRequested_; }
    bool running() const { return running_; }
    // What every run does beyond the classic files and the map, as the
    // Settings menu has set it for the program's lifetime.
    const RunOptions& runOptions() const { return runOptions_; }

    // The secondary windows, once their menu entry has been chosen.
    Form2* form2() const { return form2_.get(); }
    Form3* form3() const { return form3_.get(); }
    Form4* form4() const { return form4_.get(); }
    Form5* form5() const { return form5_.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    // One local .bna file dragged over the window is taken, unless a run
    // goes on or a dialog holds the program; dropped, it starts a run.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // While a run holds the thread: drops clicks, keys, wheel turns,
    // shortcuts and mnemonics, and keeps a close request for the run's end.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // RunHost: how a run reports to this window.
    std::string FileName() const override;
    std::string FileTitle() const override;
    std::string DecimalSeparator() const override;
    void AppendProgress(std::string_view line) override;
    void AppendSummary(std::string_view line) override;
    void SetListsBold() override;
    void RepaintSummary() override;
    void ShowCritical(std::string_view message) override;
    void ReportCause(std::string_view cause) override;
    void Progress(std::uint64_t bytesRead, std::uint64_t fileSize) override;
    bool StopRequested() override;
    void Phase(RunPhase phase, std::string_view subject) override;

private:
    void Form1_Form_Load();
    // What the map is drawn on and the settings set: the saved canvas, and
    // the screen's where there is one.
    Canvas& Drawn() { return both_ ? static_cast<Canvas&>(*both_) : canvas_; }
    bool selectFile();
    void ClearResults();
    void RunChosenFile();
    bool ShowExportWarning();
    void BuildControls();
    void BuildMenus();
    void OpenMenus();
    void RepaintDuringRun();
    // Whether a repaint is due, the run having reached `position` in the
    // file; reads the clock only now and then.
    bool RepaintDue(std::uint64_t position);
    void PublishLists();
    // List1 with all its lines, or with the last of them while a run adds
    // lines (LineListTail), as many as make the same picture.
    void ShowAllProgress();
    void FollowProgress();
    void DropPendingInput();
    void RequestStop();
    bool IsStopInput(QObject* watched, QEvent* event) const;

    DialogBackend& dialogs_;
    ColorDialogFactory colourPickers_;
    std::unique_ptr<Workspace> ws_;
    DisplaySettings settings_;
    ImageCanvas canvas_;
    std::unique_ptr<ScreenCanvas> screen_;
    std::unique_ptr<TeeCanvas> both_;  // canvas_ and screen_, where there is a screen_
    MapDrawing mapDrawing_;
    CommonDialog cd1_;
    RunOutcome lastOutcome_ = RunOutcome::Completed;
    RunOptions runOptions_;
    ExportSetting exports_;

    QPushButton* Command1_ = nullptr;
    FocusMarkedList* List1_ = nullptr;
    FocusMarkedList* List2_ = nullptr;
    PictureBox* Picture1_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* stop_ = nullptr;  // in the status bar, shown only while a run goes on
    LineListModel* list1Model_ = nullptr;
    LineListModel* list2Model_ = nullptr;
    LineListTail* list1Tail_ = nullptr;

    // Repaints while a run holds the user-interface thread.
    QElapsedTimer sinceRepaint_;
    int callsSinceClock_ = 0;
    std::uint64_t clockPosition_ = 0;  // where the run was at the last reading of the clock
    RunPhase phase_ = RunPhase::Reading;
    QString phaseSubject_;
    bool running_ = false;
    bool closeRequested_ = false;
    bool stopRequested_ = false;
    // The cause the run reported for the message box that follows it.
    std::string cause_;

    std::unique_ptr<Form2> form2_;
    std::unique_ptr<Form3> form3_;
    std::unique_ptr<Form4> form4_;
    std::unique_ptr<Form5> form5_;
};

}  // namespace zarn
