#include "form2.h"

#include "dialoglayout.h"
#include "filetext.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace zarn {

namespace {

// The file's lines. A line ends at CR LF or a lone CR, as the program's text
// files are written, and at a lone LF, as editors here write them; the line
// end is not part of the line, and a last line without one still counts.
// Names are decoded as the map labels are: UTF-8 where valid, else
// Windows-1252.
QStringList SplitLines(const QByteArray& bytes)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        lines.append(DecodeFileText(std::string_view(bytes.constData() + start, static_cast<std::size_t>(i - start))));
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < n) {
        lines.append(DecodeFileText(std::string_view(bytes.constData() + start, static_cast<std::size_t>(n - start))));
    }
    return lines;
}

std::optional<QByteArray> ReadWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

QStringList Form2::TextFolders(const QString& programFolder)
{
    // ZARN_DATA_FROM_BIN: the installation's data folder as seen from its
    // program folder (../share/zarn), so an installation can be moved.
    return {programFolder, QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(ZARN_DATA_FROM_BIN)))};
}

Form2::Form2(QStringList folders) : folders_(std::move(folders)) {}

void Form2::Load(QWidget& window)
{
    window.setWindowTitle(QStringLiteral("About ZARN"));
    List1_ = new QListWidget(&window);
    List1_->setObjectName(QStringLiteral("List1"));
    List1_->setUniformItemSizes(true);
    List1_->setTextElideMode(Qt::ElideNone);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(List1_);
    AnswerDialogKeys(window, nullptr, nullptr);
    Form2_Form_Load();
    // The list grows with the window, which starts wide enough for the
    // longest line (as far as the screen allows; beyond, the list scrolls).
    const int fitted = List1_->sizeHintForColumn(0) + 2 * List1_->frameWidth() +
                       List1_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    QSize size(std::max(474, fitted), 371);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    }
    window.resize(size);
}

void Form2::Unload()
{
    List1_ = nullptr;
}

void Form2::Form2_Form_Load()
{
    List1_->clear();
    QStringList tried;
    for (const QString& folder : folders_) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(FileName));
        if (const std::optional<QByteArray> bytes = ReadWholeFile(path)) {
            List1_->addItems(SplitLines(*bytes));
            return;
        }
        tried.append(QDir::toNativeSeparators(path));
    }
    List1_->addItem(QStringLiteral("The about text zarn.txt was not found in the program's folder or the "
                                   "installation's share/zarn (looked for %1).")
                        .arg(tried.join(QStringLiteral(", "))));
}

}  // namespace zarn
