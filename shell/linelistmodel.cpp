#include "linelistmodel.h"

#include "filetext.h"

#include <algorithm>
#include <bit>
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

namespace {

// The first of eight bytes at `p`, in the low bits on a little-endian
// machine.
std::uint64_t Word(const char* p)
{
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return word;
}

constexpr bool LittleEndian = std::endian::native == std::endian::little;

// How many bytes `a` and `b` begin with alike, at most `limit`.
std::size_t SharedStart(std::string_view a, std::string_view b, std::size_t limit)
{
    std::size_t n = 0;
    for (; LittleEndian && n + 8 <= limit; n += 8) {
        if (const std::uint64_t differ = Word(a.data() + n) ^ Word(b.data() + n); differ != 0) {
            return n + static_cast<std::size_t>(std::countr_zero(differ)) / 8;
        }
    }
    while (n < limit && a[n] == b[n]) {
        ++n;
    }
    return n;
}

// How many bytes `a` and `b` end with alike, at most `limit`.
std::size_t SharedEnd(std::string_view a, std::string_view b, std::size_t limit)
{
    std::size_t n = 0;
    for (; LittleEndian && n + 8 <= limit; n += 8) {
        const std::uint64_t differ = Word(a.data() + a.size() - n - 8) ^ Word(b.data() + b.size() - n - 8);
        if (differ != 0) {
            return n + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
        }
    }
    while (n < limit && a[a.size() - 1 - n] == b[b.size() - 1 - n]) {
        ++n;
    }
    return n;
}

}  // namespace

void LineListModel::Append(std::string_view line)
{
    if (starts_.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return;  // a list box holds at most INT_MAX rows
    }
    line = line.substr(0, std::numeric_limits<std::uint32_t>::max() - 3);
    const std::size_t index = starts_.size();
    std::size_t back = 0;
    std::size_t start = 0;
    std::size_t end = 0;
    int chain = 0;
    if (!line.empty()) {
        std::size_t& last = lastStarting_[static_cast<unsigned char>(line.front())];
        if (last != 0 && index + 1 - last < RecentLines && recent_[(last - 1) % RecentLines].chain < MaxChain) {
            const Recent& earlier = recent_[(last - 1) % RecentLines];
            back = index + 1 - last;
            start = SharedStart(line, earlier.text, std::min({line.size(), earlier.text.size(), MaxShared}));
            end = SharedEnd(line, earlier.text,
                            std::min({line.size() - start, earlier.text.size() - start, MaxShared}));
            chain = earlier.chain + 1;
        }
        last = index + 1;
    }
    const std::string_view own = line.substr(start, line.size() - start - end);
    const std::size_t size = (back == 0 ? 1 : 3) + own.size();
    if (chunks_.empty() || chunks_.back().used + size > chunks_.back().capacity) {
        const std::size_t capacity = std::max(ChunkBytes, size);
        // Not zeroed: only the bytes copied in are ever read.
        chunks_.push_back({std::make_unique_for_overwrite<char[]>(capacity), capacity, 0, index});
    }
    Chunk& chunk = chunks_.back();
    char* at = chunk.bytes.get() + chunk.used;
    *at++ = static_cast<char>(back);
    if (back != 0) {
        *at++ = static_cast<char>(start);
        *at++ = static_cast<char>(end);
    }
    if (!own.empty()) {
        std::memcpy(at, own.data(), own.size());
    }
    starts_.push_back(static_cast<std::uint32_t>(chunk.used));
    chunk.used += size;
    Recent& recent = recent_[index % RecentLines];
    recent.text.assign(line);
    recent.chain = chain;
    textBytes_ += line.size();
    if (line.size() > longestBytes_) {
        longestBytes_ = line.size();
        longestLine_ = index;
    }
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
    textBytes_ = 0;
    recent_ = {};
    lastStarting_.fill(0);
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

std::string_view LineListModel::Kept(std::size_t index) const
{
    const std::size_t chunk = ChunkOf(index);
    const std::size_t start = starts_[index];
    return {chunks_[chunk].bytes.get() + start, LineEnd(index, chunk) - start};
}

std::string LineListModel::Line(std::size_t index) const
{
    const std::string_view kept = Kept(index);
    const auto back = static_cast<unsigned char>(kept[0]);
    if (back == 0) {
        return std::string(kept.substr(1));
    }
    const auto start = static_cast<unsigned char>(kept[1]);
    const auto end = static_cast<unsigned char>(kept[2]);
    const std::string earlier = Line(index - back);
    std::string line;
    line.reserve(start + kept.size() - 3 + end);
    line.append(earlier, 0, start).append(kept.substr(3)).append(earlier, earlier.size() - end, end);
    return line;
}

std::ptrdiff_t LineListModel::OverheadBytes() const
{
    std::size_t held = 0;
    for (const Chunk& c : chunks_) {
        held += c.capacity;
    }
    held += starts_.size() * sizeof(std::uint32_t) + chunks_.size() * sizeof(Chunk);
    return static_cast<std::ptrdiff_t>(held) - static_cast<std::ptrdiff_t>(textBytes_);
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
