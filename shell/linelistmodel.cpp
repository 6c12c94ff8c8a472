#include "linelistmodel.h"

#include "filetext.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zarn {

namespace {

QString ExpandTabs(const QString& text)
{
    if (!text.contains(QLatin1Char('\t'))) {
        return text;
    }
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\t')) {
            out.append(QString(8 - out.size() % 8, QLatin1Char(' ')));
        } else {
            out.append(c);
        }
    }
    return out;
}

}  // namespace

void LineListModel::Append(std::string_view line)
{
    if (refs_.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return;  // a list box holds at most INT_MAX rows
    }
    const std::size_t size = std::min<std::size_t>(line.size(), std::numeric_limits<std::uint32_t>::max());
    if (chunks_.empty() || used_ + size > chunkSizes_.back()) {
        const std::size_t capacity = std::max(ChunkBytes, size);
        chunks_.push_back(std::make_unique<char[]>(capacity));
        chunkSizes_.push_back(capacity);
        used_ = 0;
    }
    if (size > 0) {
        std::memcpy(chunks_.back().get() + used_, line.data(), size);
    }
    refs_.push_back({static_cast<std::uint32_t>(chunks_.size() - 1), static_cast<std::uint32_t>(used_),
                     static_cast<std::uint32_t>(size)});
    used_ += size;
}

void LineListModel::Publish()
{
    const int total = static_cast<int>(refs_.size());
    if (total == published_) {
        return;
    }
    beginInsertRows(QModelIndex(), published_, total - 1);
    for (int row = published_; row < total; ++row) {
        const std::size_t bytes = refs_[static_cast<std::size_t>(row)].size;
        if (bytes > longestBytes_) {
            longestBytes_ = bytes;
            longestRow_ = row;
        }
    }
    published_ = total;
    endInsertRows();
}

void LineListModel::Clear()
{
    beginResetModel();
    chunks_.clear();
    chunkSizes_.clear();
    refs_.clear();
    used_ = 0;
    published_ = 0;
    longestRow_ = 0;
    longestBytes_ = 0;
    endResetModel();
}

std::string_view LineListModel::Line(std::size_t index) const
{
    const LineRef& r = refs_[index];
    return {chunks_[r.chunk].get() + r.offset, r.size};
}

std::size_t LineListModel::OverheadBytes() const
{
    std::size_t text = 0;
    for (const LineRef& r : refs_) {
        text += r.size;
    }
    std::size_t chunkBytes = 0;
    for (const std::size_t s : chunkSizes_) {
        chunkBytes += s;
    }
    return chunkBytes - text + refs_.size() * sizeof(LineRef) + chunks_.size() * 2 * sizeof(void*);
}

int LineListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : published_;
}

QVariant LineListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= published_) {
        return {};
    }
    return ExpandTabs(DecodeFileText(Line(static_cast<std::size_t>(index.row()))));
}

}  // namespace zarn
