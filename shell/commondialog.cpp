#include "commondialog.h"

namespace zarn {

void CommonDialog::ShowOpen()
{
    const std::optional<std::string> chosen = backend_.OpenFile(DialogTitle, Filter, fileName_);
    if (!chosen) {
        if (CancelError) {
            throw DialogCancelled{};
        }
        return;
    }
    Accept(*chosen);
}

void CommonDialog::Accept(const std::string& path)
{
    fileName_ = path;
    const std::size_t slash = fileName_.find_last_of('/');
    fileTitle_ = slash == std::string::npos ? fileName_ : fileName_.substr(slash + 1);
}

void CommonDialog::ShowColor()
{
    const std::optional<Colour> picked = backend_.PickColor(color_);
    if (!picked) {
        if (CancelError) {
            throw DialogCancelled{};
        }
        return;
    }
    color_ = *picked;
}

}  // namespace zarn
