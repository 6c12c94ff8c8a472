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
    if (starts_.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return;  // a list box holds at most INT_MAX rows
    }
    const std::size_t size = std::min<std::size_t>(line.size(), std::numeric_limits<std::uint32_t>::max());
    if (chunks_.empty() || chunks_.back().used + size > chunks_.back().capacity) {
        const std::size_t capacity = std::max(ChunkBytes, size);
        // Not zeroed: only the bytes copied in are ever read.
        chunks_.push_back({std::make_unique_for_overwrite<char[]>(capacity), capacity, 0, starts_.size()});
    }
    Chunk& chunk = chunks_.back();
    if (size > 0) {
        std::memcpy(chunk.bytes.get() + chunk.used, line.data(), size);
    }
    if (size > longestBytes_) {
        longestBytes_ = size;
        longestLine_ = starts_.size();
    }
    starts_.push_back(static_cast<std::uint32_t>(chunk.used));
    chunk.used += size;
}

void LineListModel::Publish()
{
    const int total = static_cast<int>(starts_.size());
    if (total == published_) {
        return;
    }
    beginInsertRows(QModelIndex(), published_, total - 1);
    published_ = total;
    longestRow_ = static_cast<int>(longestLine_);
    endInsertRows();
}

void LineListModel::Clear()
{
    beginResetModel();
    chunks_.clear();
    starts_.clear();
    published_ = 0;
    longestRow_ = 0;
    longestLine_ = 0;
    longestBytes_ = 0;
    endResetModel();
}

std::size_t LineListModel::ChunkOf(std::size_t index) const
{
    const auto after = std::upper_bound(chunks_.begin(), chunks_.end(), index,
                                        [](std::size_t i, const Chunk& c) { return i < c.firstLine; });
    return static_cast<std::size_t>(after - chunks_.begin()) - 1;
}

std::size_t LineListModel::LineEnd(std::size_t index, std::size_t chunk) const
{
    const bool lastInChunk = chunk + 1 < chunks_.size() ? index + 1 == chunks_[chunk + 1].firstLine
                                                        : index + 1 == starts_.size();
    return lastInChunk ? chunks_[chunk].used : starts_[index + 1];
}

std::string_view LineListModel::Line(std::size_t index) const
{
    const std::size_t chunk = ChunkOf(index);
    const std::size_t start = starts_[index];
    return {chunks_[chunk].bytes.get() + start, LineEnd(index, chunk) - start};
}

std::size_t LineListModel::TextBytes() const
{
    std::size_t text = 0;
    for (const Chunk& c : chunks_) {
        text += c.used;
    }
    return text;
}

std::size_t LineListModel::OverheadBytes() const
{
    std::size_t spare = 0;
    for (const Chunk& c : chunks_) {
        spare += c.capacity - c.used;
    }
    return spare + starts_.size() * sizeof(std::uint32_t) + chunks_.size() * sizeof(Chunk);
}

QModelIndex LineListModel::index(int row, int column, const QModelIndex& parent) const
{
    return row >= 0 && row < published_ && column == 0 && !parent.isValid() ? createIndex(row, 0) : QModelIndex();
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

LineListTail::LineListTail(const LineListModel& lines, QObject* parent) : QAbstractListModel(parent), lines_(lines)
{
}

void LineListTail::Follow(int rows)
{
    const int published = lines_.rowCount();
    const int count = std::clamp(rows, 0, published);
    const int first = published - count;
    if (first == first_ && count == rows_) {
        return;
    }
    if (first == 0 && first_ == 0 && count > rows_) {
        beginInsertRows(QModelIndex(), rows_, count - 1);
        rows_ = count;
        endInsertRows();
    } else if (count == rows_ && count > 0) {
        first_ = first;
        Q_EMIT dataChanged(index(0), index(count - 1), {Qt::DisplayRole});
    } else {
        beginResetModel();
        first_ = first;
        rows_ = count;
        endResetModel();
    }
}

int LineListTail::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

QVariant LineListTail::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_) {
        return {};
    }
    return lines_.data(lines_.index(first_ + index.row()), role);
}

}  // namespace zarn
