#include "exportdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <string_view>

namespace zarn {

ExportDialog::ExportDialog(const std::string& title, const std::string& text, const std::vector<std::string>& labels,
                           const std::vector<bool>& ticked, QWidget* parent)
    : QDialog(parent)
{
    constexpr int TextWidth = 440;
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QString::fromStdString(title));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QString::fromStdString(text), this);
    label->setObjectName(QStringLiteral("lblText"));
    label->setWordWrap(true);
    label->setFixedWidth(TextWidth);
    layout->addWidget(label);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        auto* box = new QCheckBox(QString::fromStdString(labels[i]), this);
        box->setObjectName(QStringLiteral("chkTick%1").arg(i));
        box->setChecked(i < ticked.size() && ticked[i]);
        layout->addWidget(box);
        boxes_.push_back(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::vector<bool> ExportDialog::Ticks() const
{
    std::vector<bool> ticks;
    for (const QCheckBox* box : boxes_) {
        ticks.push_back(box->isChecked());
    }
    return ticks;
}

std::optional<std::vector<bool>> QtDialogBackend::ChooseTicks(const std::string& title, const std::string& text,
                                                              const std::vector<std::string>& labels,
                                                              const std::vector<bool>& ticked)
{
    ExportDialog dialog(title, text, labels, ticked, parent_);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Ticks();
}

}  // namespace zarn

// The exports, where the build has them (GDAL).
#ifdef ZARN_HAVE_EXPORT
#include "exportformat.h"
#include "exportloader.h"

namespace zarn {

namespace {

constexpr const char* ExportDialogTitle = "Export to GIS formats";

// What the export dialog says above the formats: where the files go, in
// which coordinates, how many files each format writes and what the
// ellipsoid figures add.
std::string ExportDialogText()
{
    std::vector<std::string_view> oneFile;
    std::vector<std::string_view> perLayer;
    for (const ExportFormatInfo& info : ExportFormats()) {
        (info.oneFile ? oneFile : perLayer).push_back(info.title);
    }
    // "A", "A and B", "A, B and C".
    const auto list = [](const std::vector<std::string_view>& titles) {
        std::string text;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            text += (i == 0 ? "" : i + 1 == titles.size() ? " and " : ", ") + std::string(titles[i]);
        }
        return text;
    };
    return "Also write these files with every run, beside the input file, in longitude and latitude on "
           "WGS 84 (EPSG:4326). Each holds the layers polygons, centroids, lines and points: " +
           list(oneFile) + " writes one file with all layers (NAME.gpkg); " + list(perLayer) +
           " write one file per layer (NAMEPolygons.geojson, ...).\n\n"
           "With Settings > Ellipsoid areas (WGS84), as with zarn-batch --geodesic, the polygons and "
           "centroids also carry their area, perimeter and flags on the WGS84 ellipsoid, in a further "
           "layer of centroids on the ellipsoid.";
}

}  // namespace

struct ExportSetting::Formats {
    std::vector<ExportFormat> chosen;
};

ExportSetting::ExportSetting() : formats_(std::make_unique<Formats>()) {}

ExportSetting::~ExportSetting() = default;

bool ExportSetting::Available()
{
    return true;
}

void ExportSetting::Choose(DialogBackend& dialogs)
{
    std::vector<ExportFormat>& formats = formats_->chosen;
    std::vector<std::string> labels;
    std::vector<bool> ticked;
    for (const ExportFormatInfo& info : ExportFormats()) {
        labels.push_back(std::string(info.title) + " (." + std::string(info.extension) + ")");
        ticked.push_back(std::find(formats.begin(), formats.end(), info.format) != formats.end());
    }
    const std::optional<std::vector<bool>> chosen = dialogs.ChooseTicks(ExportDialogTitle, ExportDialogText(), labels, ticked);
    if (!chosen) {
        return;  // Cancel keeps the ticks
    }
    formats.clear();
    for (std::size_t i = 0; i < chosen->size() && i < ExportFormats().size(); ++i) {
        if ((*chosen)[i]) {
            formats.push_back(ExportFormats()[i].format);
        }
    }
}

std::vector<std::unique_ptr<RunOutput>> ExportSetting::MakeOutputs(bool geodesic) const
{
    return MakeExports(formats_->chosen, geodesic);
}

}  // namespace zarn
#else
namespace zarn {

struct ExportSetting::Formats {};

ExportSetting::ExportSetting() = default;

ExportSetting::~ExportSetting() = default;

bool ExportSetting::Available()
{
    return false;
}

void ExportSetting::Choose(DialogBackend& /*dialogs*/) {}

std::vector<std::unique_ptr<RunOutput>> ExportSetting::MakeOutputs(bool /*geodesic*/) const
{
    return {};
}

}  // namespace zarn
#endif
