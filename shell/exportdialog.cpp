#include "exportdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace zarn {

ExportDialog::ExportDialog(const std::string& title, const std::vector<std::string>& labels,
                           const std::vector<bool>& ticked, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QString::fromStdString(title));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Also write these files with every run:"), this));
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

std::optional<std::vector<bool>> QtDialogBackend::ChooseTicks(const std::string& title,
                                                              const std::vector<std::string>& labels,
                                                              const std::vector<bool>& ticked)
{
    ExportDialog dialog(title, labels, ticked, parent_);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Ticks();
}

#ifdef ZARN_HAVE_EXPORT
bool ChooseExportFormats(DialogBackend& dialogs, std::vector<ExportFormat>& formats)
{
    std::vector<std::string> labels;
    std::vector<bool> ticked;
    for (const ExportFormatInfo& info : ExportFormats()) {
        labels.push_back(std::string(info.title) + " (." + std::string(info.extension) + ")");
        ticked.push_back(std::find(formats.begin(), formats.end(), info.format) != formats.end());
    }
    const std::optional<std::vector<bool>> chosen = dialogs.ChooseTicks("Export", labels, ticked);
    if (!chosen) {
        return false;
    }
    formats.clear();
    for (std::size_t i = 0; i < chosen->size() && i < ExportFormats().size(); ++i) {
        if ((*chosen)[i]) {
            formats.push_back(ExportFormats()[i].format);
        }
    }
    return true;
}
#endif

}  // namespace zarn
