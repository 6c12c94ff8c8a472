#pragma once

#include <QAbstractListModel>

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace zarn {

// The lines of a list box, stored compactly: the bytes of all lines in 1 MiB
// chunks and a 12-byte reference per line, so that the millions of progress
// lines of a large file cost little more than their text and never need one
// large reallocation. Lines are only appended; Append collects them and
// Publish tells the views in one step, so a run does not pay for a view
// update per line.
class LineListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // Adds a line (8-bit text as read; shown as UTF-8 where valid, else as
    // Windows-1252, with tabs expanded to stops of eight columns).
    void Append(std::string_view line);
    // Makes every appended line visible to the views.
    void Publish();
    void Clear();

    std::size_t LineCount() const { return refs_.size(); }
    // The published line with the most bytes (0 when there is none): the
    // one that sets how wide the list's contents are.
    int LongestRow() const { return longestRow_; }
    std::string_view Line(std::size_t index) const;
    // Bytes held beyond the text itself.
    std::size_t OverheadBytes() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    static constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

    struct LineRef {
        std::uint32_t chunk;
        std::uint32_t offset;
        std::uint32_t size;
    };

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::size_t> chunkSizes_;
    std::size_t used_ = 0;  // bytes used in the last chunk
    std::deque<LineRef> refs_;
    int published_ = 0;
    int longestRow_ = 0;
    std::size_t longestBytes_ = 0;
};

}  // namespace zarn
