#include "form1.h"

#include "exportdialog.h"
#include "filetext.h"
#include "focusmark.h"
#include "form2.h"
#include "form3.h"
#include "form4.h"
#include "form5.h"
#include "linelistmodel.h"
#include "picturebox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <optional>
#include <utility>

namespace zarn {

namespace {

// The client area as it has always been, the window's size at start where
// the screen has room.
constexpr int ClientWidth = 945;
constexpr int ClientHeight = 557;
constexpr qint64 RepaintIntervalMs = 200;
// Reading the clock at every record cost as much as the rest of what the
// window does for a small one: while reading and drawing, the clock is read
// once every so many calls, or after so many bytes of the file, so that a
// repaint comes late by a fraction of a millisecond on small records and by
// a few on large ones.
constexpr int CallsPerClockRead = 64;
constexpr std::uint64_t BytesPerClockRead = std::uint64_t{1} << 20;

const char* const Caption = "ZARN, a Center of Gravity programme for BNA files by the ZARN developers";
const char* const OpenTitle = "Open bna file.";
const char* const OpenFilter = "BNA (*.bna)| *.bna| All (*.*) | *.*";

FocusMarkedList* MakeList(QWidget* parent, LineListModel* model, const char* name)
{
    auto* list = new FocusMarkedList(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setModel(model);
    list->setUniformItemSizes(true);
    list->setLayoutMode(QListView::SinglePass);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setTextElideMode(Qt::ElideNone);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return list;
}

// Uniform item sizes, which millions of lines need, give every row the size
// of the first; a grid as wide as the longest line gives the list its true
// width, so that a horizontal scroll bar appears when a line is wider.
void FitContentsWidth(FocusMarkedList* list, const LineListModel& model)
{
    QSize grid;
    if (model.rowCount() > 0) {
        const QString longest = model.data(model.index(model.LongestRow()), Qt::DisplayRole).toString();
        const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
        grid = QSize(list->fontMetrics().horizontalAdvance(longest) + margin, list->RowHeight(model.index(0)));
    }
    if (list->gridSize() != grid) {
        list->setGridSize(grid);
    }
}

bool InActiveModalWindow(QObject* watched)
{
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
        return false;
    }
    if (const auto* widget = qobject_cast<QWidget*>(watched)) {
        return widget->window() == modal;
    }
    return watched == modal->windowHandle();
}

// The one local .bna file of a drag, if that is what it carries.
std::optional<QString> DraggedBna(const QMimeData* mime)
{
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        return std::nullopt;
    }
    QString path = urls.front().toLocalFile();
    if (!path.endsWith(QStringLiteral(".bna"), Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    return path;
}

// The summary lines of the further outputs that were not written, as
// "\t<caption>: \tnot written…".
std::vector<std::size_t> NotWrittenLines(const LineListModel& summary)
{
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < summary.LineCount(); ++i) {
        if (summary.Line(i).find(": \tnot written") != std::string_view::npos) {
            rows.push_back(i);
        }
    }
    return rows;
}

}  // namespace

Form1::Form1(DialogBackend& dialogs, ColorDialogFactory colourPickers)
    : dialogs_(dialogs),
      colourPickers_(std::move(colourPickers)),
      ws_(std::make_unique<Workspace>()),
      screen_(qApp->devicePixelRatio() > 1.0 ? std::make_unique<ScreenCanvas>(qApp->devicePixelRatio()) : nullptr),
      both_(screen_ ? std::make_unique<TeeCanvas>(canvas_, *screen_) : nullptr),
      mapDrawing_(*ws_, Drawn(), settings_),
      cd1_(dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(Caption));
    setAcceptDrops(true);
    BuildControls();
    BuildMenus();
    Form1_Form_Load();
    QSize size(ClientWidth, ClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Room left for the frame the window system adds.
        const QRect room = screen->availableGeometry().adjusted(0, 0, -16, -48);
        if (size.width() > room.width() || size.height() > room.height()) {
            size = size.boundedTo(room.size());
            move(room.topLeft());
        }
    }
    resize(size);
    Command1_->setFocus();
}

Form1::~Form1() = default;

void Form1::BuildControls()
{
    // The controls keep the places and sizes they have always had in a client
    // area of 945 x 557; a larger window gives the lists the room (List1 the
    // larger share), and the canvas keeps its size beside them. Where the
    // window is smaller (a small screen at a large scale factor), the client
    // area scrolls, and the menus and the status bar with Stop stay in view.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("clientArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* client = new QWidget(scroll);
    scroll->setWidget(client);
    setCentralWidget(scroll);

    Command1_ = new FocusMarkedButton(QStringLiteral("Select &input bna"), client);
    Command1_->setObjectName(QStringLiteral("Command1"));
    QFont buttonFont(QStringLiteral("Sans Serif"));
    buttonFont.setStyleHint(QFont::SansSerif);
    buttonFont.setPointSize(12);
    buttonFont.setBold(true);
    Command1_->setFont(buttonFont);
    Command1_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    Command1_->setFixedHeight(41);
    Command1_->setMaximumWidth(377);
    connect(Command1_, &QPushButton::clicked, this, &Form1::Form1_Command1_Click);
    auto* open = new QAction(this);
    open->setShortcut(QKeySequence::Open);
    addAction(open);
    connect(open, &QAction::triggered, Command1_, &QPushButton::click);

    list1Model_ = new LineListModel(this);
    list1Tail_ = new LineListTail(*list1Model_, this);
    List1_ = MakeList(client, list1Model_, "List1");

    Picture1_ = new PictureBox(canvas_, screen_.get(), client);
    Picture1_->setObjectName(QStringLiteral("Picture1"));
    Picture1_->setFixedSize(ImageCanvas::SizePixels, ImageCanvas::SizePixels);

    list2Model_ = new LineListModel(this);
    List2_ = MakeList(client, list2Model_, "List2");

    auto* lists = new QVBoxLayout;
    lists->setSpacing(0);
    lists->addWidget(Command1_);
    lists->addSpacing(15);
    lists->addWidget(List1_, 342);
    lists->addSpacing(18);
    lists->addWidget(List2_, 121);
    lists->addSpacing(8);
    auto* columns = new QHBoxLayout(client);
    columns->setContentsMargins(8, 8, 8, 4);
    columns->setSpacing(7);
    columns->addLayout(lists, 1);
    columns->addWidget(Picture1_, 0, Qt::AlignTop);
    for (FocusMarkedList* list : {List1_, List2_}) {
        list->setMinimumSize(200, 60);
        list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    }

    Picture1_->setFocusPolicy(Qt::TabFocus);
    setTabOrder(Command1_, List1_);
    setTabOrder(List1_, Picture1_);
    setTabOrder(Picture1_, List2_);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(status_, 1);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QStringLiteral("cmdStop"));
    stop_->setFocusPolicy(Qt::NoFocus);  // the run holds the thread; Esc is its key
    stop_->setToolTip(QStringLiteral("Ends the run at the next record (Esc)"));
    stop_->hide();
    statusBar()->addPermanentWidget(stop_);
    connect(stop_, &QPushButton::clicked, this, &Form1::RequestStop);
    statusBar()->setSizeGripEnabled(true);
}

void Form1::BuildMenus()
{
    QAction* about = menuBar()->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &Form1::Form1_mnuAbout_Click);

    QMenu* settingsMenu = menuBar()->addMenu(QStringLiteral("&Settings"));
    settingsMenu->setObjectName(QStringLiteral("mnuSettings"));
    // F10 opens the menus, as on other desktops; the arrow keys go on from there.
    auto* menuKey = new QAction(this);
    menuKey->setShortcut(Qt::Key_F10);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this, &Form1::OpenMenus);
    const auto add = [&](const char* caption, const char* name, void (Form1::*handler)()) {
        QAction* action = settingsMenu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
    };
    add("&Backcolor", "mnuBackcolor", &Form1::Form1_mnuBackcolor_Click);
    add("&Font", "mnuFont", &Form1::Form1_mnuFont_Click);
    add("&Lines", "mnuLines", &Form1::Form1_mnuLines_Click);
    add("&Centroids", "mnuCentroids", &Form1::Form1_mnuCentroids_Click);
    if (HaveEllipsoidFigures()) {
        settingsMenu->addSeparator();
        QAction* ellipsoid = settingsMenu->addAction(QStringLiteral("&Ellipsoid areas (WGS84)"));
        ellipsoid->setObjectName(QStringLiteral("mnuEllipsoid"));
        ellipsoid->setCheckable(true);
        connect(ellipsoid, &QAction::toggled, this, [this](bool on) { runOptions_.geodesic = on; });
    }
    if (ExportSetting::Available()) {
        QAction* exporting = settingsMenu->addAction(QStringLiteral("E&xport\u2026"));
        exporting->setObjectName(QStringLiteral("mnuExport"));
        connect(exporting, &QAction::triggered, this, &Form1::Form1_mnuExport_Click);
    }
}

void Form1::OpenMenus()
{
    menuBar()->setActiveAction(findChild<QMenu*>(QStringLiteral("mnuSettings"))->menuAction());
}

void Form1::Form1_Form_Load()
{
    ApplyStartupDefaults(settings_, Drawn());
}

// Esc anywhere, or a click on the status bar's Stop, while no box of the run
// is open.
bool Form1::IsStopInput(QObject* watched, QEvent* event) const
{
    if (QApplication::activeModalWidget() != nullptr) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        return static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    }
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease) {
        return false;
    }
    if (watched == stop_) {
        return true;
    }
    // The window system hands the click to this window first, which passes
    // it on to the button under it.
    if (watched == windowHandle()) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        return stop_->isVisible() && stop_->rect().contains(stop_->mapFrom(this, at));
    }
    return false;
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (running_) {
        if (event->type() == QEvent::KeyPress && IsStopInput(watched, event)) {
            RequestStop();
            return true;
        }
        // Shortcuts, mnemonics and F10 are held as clicks are: the key's
        // override is accepted, so that no shortcut takes it and it comes as a
        // plain key press, which is dropped below.
        if (!InActiveModalWindow(watched)) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            if (event->type() == QEvent::Shortcut) {
                return true;
            }
        }
        // A message box of the run still takes its own clicks and keys.
        if (event->isInputEvent() && !InActiveModalWindow(watched) && !IsStopInput(watched, event)) {
            return true;
        }
        if (event->type() == QEvent::Close && event->spontaneous() &&
            (watched == this || watched == windowHandle())) {
            closeRequested_ = true;
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// Takes in what the window system has queued, so that the filter drops the
// input among it instead of leaving it to be replayed.
void Form1::DropPendingInput()
{
    QCoreApplication::processEvents();
}

void Form1::RequestStop()
{
    stopRequested_ = true;
    status_->setText(QStringLiteral("Stopping\u2026"));
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program with every other window.
    event->accept();
    QCoreApplication::quit();
}

// Nor while a dialog holds the program (the open-file dialog, a message
// box): the run would start inside it.
void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!running_ && QApplication::activeModalWidget() == nullptr && DraggedBna(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void Form1::dropEvent(QDropEvent* event)
{
    const std::optional<QString> path = DraggedBna(event->mimeData());
    if (running_ || QApplication::activeModalWidget() != nullptr || !path) {
        return;
    }
    event->acceptProposedAction();
    // The run starts once the drop is over: the program the file came from
    // waits for its end.
    QMetaObject::invokeMethod(
        this, [this, file = QFile::encodeName(*path).toStdString()] { OpenInputFile(file); }, Qt::QueuedConnection);
}

void Form1::Form1_Command1_Click()
{
    // One run at a time: nothing that reaches the window during a run
    // starts another inside it.
    if (running_) {
        return;
    }
    ClearResults();
    if (!selectFile()) {
        return;
    }
    RunChosenFile();
}

void Form1::OpenInputFile(const std::string& path)
{
    if (running_) {
        return;
    }
    ClearResults();
    cd1_.Accept(path);
    RunChosenFile();
}

void Form1::ClearResults()
{
    list1Model_->Clear();
    list2Model_->Clear();
    Drawn().Cls();
    Picture1_->update();
}

void Form1::RunChosenFile()
{
    running_ = true;
    // Lets the window system take the open-file dialog away and this window
    // paint what it uncovers, before the run holds the thread.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // The window does not react while the run holds the thread: the cursor
    // says so, and clicks and keys given meanwhile are dropped at its end
    // rather than replayed (a click on the button would start another run
    // over the results). A close request is kept and honoured then.
    closeRequested_ = false;
    stopRequested_ = false;
    cause_.clear();
    qApp->installEventFilter(this);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    stop_->show();
    sinceRepaint_.start();
    callsSinceClock_ = 0;
    clockPosition_ = 0;
    RunOptions options = runOptions_;
    const std::vector<std::unique_ptr<RunOutput>> exports = exports_.MakeOutputs(options.geodesic);
    for (const std::unique_ptr<RunOutput>& e : exports) {
        options.outputs.push_back(e.get());
    }
    // A stopped run has said so in its progress line; it needs no box.
    lastOutcome_ = ProcessBnaFile(*ws_, &mapDrawing_, *this, options);
    PublishLists();
    ShowAllProgress();
    List1_->scrollToBottom();
    status_->clear();
    stop_->hide();
    Picture1_->update();
    DropPendingInput();
    QGuiApplication::restoreOverrideCursor();
    qApp->removeEventFilter(this);
    running_ = false;
    if (closeRequested_) {
        close();
    }
}

void Form1::PublishLists()
{
    list1Model_->Publish();
    list2Model_->Publish();
    FitContentsWidth(List1_, *list1Model_);
    FitContentsWidth(List2_, *list2Model_);
}

void Form1::ShowAllProgress()
{
    List1_->ShowModel(list1Model_);
    // Laid out here rather than by the scrollToBottom that follows, which
    // would set the scroll bars once more and copy every row's position
    // again to do so.
    List1_->doItemsLayout();
}

void Form1::FollowProgress()
{
    List1_->ShowModel(list1Tail_);
    list1Tail_->Follow(List1_->TailRows());
}

bool Form1::selectFile()
{
    cd1_.CancelError = true;
    try {
        cd1_.DialogTitle = OpenTitle;
        cd1_.Filter = OpenFilter;
        cd1_.DialogOption = 1;
        cd1_.ShowOpen();
        return true;
    } catch (const DialogCancelled&) {
        return false;
    }
}

void Form1::Form1_mnuBackcolor_Click()
{
    cd1_.CancelError = true;
    try {
        cd1_.ShowColor();
    } catch (const DialogCancelled&) {
        return;  // Cancel keeps the background as it is
    }
    Drawn().SetBackColor(cd1_.Color());
    Picture1_->update();
}

void Form1::Form1_mnuExport_Click()
{
    exports_.Choose(dialogs_);
}

void Form1::Form1_mnuAbout_Click()
{
    if (!form2_) {
        form2_ = std::make_unique<Form2>();
    }
    form2_->ShowModeless();
}

void Form1::Form1_mnuFont_Click()
{
    if (!form3_) {
        form3_ = std::make_unique<Form3>(settings_, Drawn(), cd1_);
    }
    form3_->ShowModeless();
}

void Form1::Form1_mnuLines_Click()
{
    if (!form4_) {
        form4_ = std::make_unique<Form4>(settings_, colourPickers_);
    }
    form4_->ShowModeless();
}

void Form1::Form1_mnuCentroids_Click()
{
    if (!form5_) {
        form5_ = std::make_unique<Form5>(settings_, Drawn(), colourPickers_);
    }
    form5_->ShowModeless();
}

std::string Form1::FileName() const
{
    return cd1_.FileName();
}

std::string Form1::FileTitle() const
{
    return cd1_.FileTitle();
}

std::string Form1::DecimalSeparator() const
{
    return QLocale::system().decimalPoint().toStdString();
}

void Form1::AppendProgress(std::string_view line)
{
    list1Model_->Append(line);
}

void Form1::AppendSummary(std::string_view line)
{
    list2Model_->Append(line);
}

void Form1::SetListsBold()
{
    QFont bold = List1_->font();
    bold.setBold(true);
    List1_->setFont(bold);
    bold = List2_->font();
    bold.setBold(true);
    List2_->setFont(bold);
}

void Form1::RepaintSummary()
{
    PublishLists();
    List2_->repaint();
}

void Form1::ShowCritical(std::string_view message)
{
    PublishLists();
    ShowAllProgress();
    List1_->scrollToBottom();
    Picture1_->update();
    status_->clear();  // the message ends what the indicator was showing
    stop_->hide();     // and comes when there is nothing left to stop
    // Keys pressed before the box appeared must not answer it.
    DropPendingInput();
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const std::string cause = std::exchange(cause_, {});
    if (message != RunFailedMessage || !ShowExportWarning()) {
        dialogs_.CriticalWithCause(std::string(message), cause);
    }
    QGuiApplication::restoreOverrideCursor();
}

// A run that fails once its summary names further outputs not written has
// written the classic files and the map: only those outputs failed, which
// is worth a warning, with the summary shown at the first of them and
// their causes behind "Show Details…".
bool Form1::ShowExportWarning()
{
    const std::vector<std::size_t> rows = NotWrittenLines(*list2Model_);
    if (rows.empty()) {
        return false;
    }
    std::string names;
    std::string details;
    for (const std::size_t row : rows) {
        const std::string_view line = list2Model_->Line(row).substr(1);
        const std::size_t colon = line.find(": \t");
        names.append(names.empty() ? "" : ", ").append(line.substr(0, colon));
        details.append(details.empty() ? "" : "\n").append(line.substr(0, colon)).append(": ");
        details.append(line.substr(colon + 3));
    }
    const QModelIndex first = list2Model_->index(static_cast<int>(rows.front()));
    List2_->setCurrentIndex(first);
    List2_->scrollTo(first, QAbstractItemView::PositionAtTop);
    List2_->horizontalScrollBar()->setValue(0);
    dialogs_.WarningWithCause("The centroid and area files and the map are written, but not: " + names + ".",
                              details);
    return true;
}

void Form1::ReportCause(std::string_view cause)
{
    cause_ = cause;
}

bool Form1::StopRequested()
{
    // Also asked between the long library calls that complete an export and
    // after the drawing, where no Progress comes: the window takes in Esc
    // and Stop here too, at once (the last chance before the files are put
    // in place), and while reading at every repaint.
    if (!running_) {
        return stopRequested_;
    }
    const bool reading = phase_ == RunPhase::Reading;
    if (reading ? RepaintDue(clockPosition_) : sinceRepaint_.elapsed() >= RepaintIntervalMs) {
        RepaintDuringRun();
    } else if (!reading) {
        QCoreApplication::processEvents();
    }
    return stopRequested_;
}

bool Form1::RepaintDue(std::uint64_t position)
{
    // A position before the last one (the drawing goes through the file
    // again) reads the clock too.
    if (++callsSinceClock_ < CallsPerClockRead && position - clockPosition_ < BytesPerClockRead) {
        return false;
    }
    callsSinceClock_ = 0;
    clockPosition_ = position;
    return sinceRepaint_.elapsed() >= RepaintIntervalMs;
}

void Form1::Phase(RunPhase phase, std::string_view subject)
{
    phase_ = phase;
    phaseSubject_ = DecodeFileText(subject);
    if (phase == RunPhase::Writing && !stopRequested_) {
        // Completing a further output's files can take long and reports
        // nothing more until it is done: the line must show it now.
        status_->setText(QStringLiteral("Writing %1\u2026").arg(phaseSubject_));
        RepaintDuringRun();
    } else {
        callsSinceClock_ = CallsPerClockRead;  // a new phase reads the clock at once
        Progress(0, 1);
    }
}

void Form1::Progress(std::uint64_t bytesRead, std::uint64_t fileSize)
{
    if (!RepaintDue(bytesRead)) {
        return;
    }
    if (!stopRequested_) {  // else the line says that the run is stopping
        const int percent = fileSize == 0 ? 100 : static_cast<int>(bytesRead * 100 / fileSize);
        status_->setText(QStringLiteral("%1 %2: %3 %")
                             .arg(phase_ == RunPhase::Drawing ? QStringLiteral("Drawing") : QStringLiteral("Reading"),
                                  phaseSubject_)
                             .arg(percent));
    }
    RepaintDuringRun();
}

void Form1::RepaintDuringRun()
{
    // Counted from the start of a repaint, so its own cost does not stretch
    // the interval.
    sinceRepaint_.restart();
    list1Model_->Publish();
    FitContentsWidth(List1_, *list1Model_);
    FollowProgress();
    List1_->doItemsLayout();
    List1_->scrollToBottom();
    List1_->repaint();
    Picture1_->repaint();
    status_->repaint();
    // Takes in what the user has done meanwhile: the filter drops all of it
    // but Esc and the Stop button, which end the run.
    QCoreApplication::processEvents();
}

}  // namespace zarn
