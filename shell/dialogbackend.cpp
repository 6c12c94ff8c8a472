#include "dialogbackend.h"

#include "filetext.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include <vector>

namespace zarn {

namespace {

std::string Trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string QtDialogBackend::QtFilter(const std::string& filter)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = filter.find('|', start);
        parts.push_back(Trimmed(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    std::string result;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string entry = parts[i];
        const std::string& pattern = parts[i + 1];
        if (entry.find('(' + pattern + ')') == std::string::npos) {
            entry += " (" + pattern + ')';
        }
        if (!result.empty()) {
            result += ";;";
        }
        result += entry;
    }
    return result;
}

// File names reach the core as UTF-8 (filepath.h). On POSIX systems that is
// the name's bytes, as encodeName gives them; on Windows encodeName would give
// the ANSI code page, which cannot spell every name.
std::optional<std::string> QtDialogBackend::OpenFile(const std::string& title, const std::string& filter,
                                                     const std::string& previous)
{
#ifdef _WIN32
    const QString start = QString::fromStdString(previous);
#else
    const QString start = QFile::decodeName(previous.c_str());
#endif
    const QString chosen = QFileDialog::getOpenFileName(parent_, QString::fromStdString(title), start,
                                                        QString::fromStdString(QtFilter(filter)));
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
#ifdef _WIN32
    return chosen.toStdString();
#else
    return QFile::encodeName(chosen).toStdString();
#endif
}

std::optional<Colour> QtDialogBackend::PickColor(Colour initial)
{
    const auto v = static_cast<std::uint32_t>(initial);
    const QColor picked = QColorDialog::getColor(QColor(static_cast<int>(v & 0xFFU), static_cast<int>((v >> 8U) & 0xFFU),
                                                        static_cast<int>((v >> 16U) & 0xFFU)),
                                                 parent_);
    if (!picked.isValid()) {
        return std::nullopt;
    }
    return Rgb(picked.red(), picked.green(), picked.blue());
}

void QtDialogBackend::Critical(const std::string& text)
{
    CriticalWithCause(text, std::string());
}

void QtDialogBackend::CriticalWithCause(const std::string& text, const std::string& cause)
{
    ShowBox(QMessageBox::Critical, text, cause);
}

void QtDialogBackend::WarningWithCause(const std::string& text, const std::string& cause)
{
    ShowBox(QMessageBox::Warning, text, cause);
}

void QtDialogBackend::ShowBox(QMessageBox::Icon icon, const std::string& text, const std::string& cause)
{
    // No title of its own: the program's name, as for any box without one.
    QMessageBox box(icon, QCoreApplication::applicationName(), DecodeFileText(text), QMessageBox::Ok, parent_);
    if (!cause.empty()) {
        // Names in a cause are as the file and the system hold them.
        box.setDetailedText(DecodeFileText(cause));
    }
    box.exec();
}

}  // namespace zarn
