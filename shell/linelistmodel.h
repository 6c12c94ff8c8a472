#pragma once

#include <QAbstractListModel>

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace zarn {

// The lines of a list box, stored compactly: the bytes of all lines in 1 MiB
// chunks and, per line, where it starts in its chunk (4 bytes; it ends where
// the next line of the chunk starts), so that the millions of progress lines
// of a large file cost little more than their text and never need one large
// reallocation. Lines are only appended; Append collects them and Publish
// tells the views in one step, so a run does not pay for a view update per
// line.
class LineListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // Adds a line (8-bit text as read; shown as UTF-8 where valid, else as
    // Windows-1252, with tabs expanded to stops of eight columns).
    void Append(std::string_view line);
    // Makes every appended line visible to the views.
    void Publish();
    void Clear();

    std::size_t LineCount() const { return starts_.size(); }
    // The published line with the most bytes (0 when there is none): the
    // one that sets how wide the list's contents are.
    int LongestRow() const { return longestRow_; }
    std::string_view Line(std::size_t index) const;
    // The bytes of all lines' text.
    std::size_t TextBytes() const;
    // Bytes held beyond the text itself.
    std::size_t OverheadBytes() const;

    // A row's index without QAbstractListModel's virtual row and column
    // counts: a list view asks for every row's index each time it lays out.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = QModelIndex()) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    static constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

    struct Chunk {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
        std::size_t firstLine = 0;  // the index of its first line
    };

    // The chunk that holds line `index`.
    std::size_t ChunkOf(std::size_t index) const;
    // The end of line `index` in chunk `chunk`, which holds it.
    std::size_t LineEnd(std::size_t index, std::size_t chunk) const;

    std::vector<Chunk> chunks_;
    std::deque<std::uint32_t> starts_;
    int published_ = 0;
    int longestRow_ = 0;          // the longest published line
    std::size_t longestLine_ = 0;  // the longest line, published or not
    std::size_t longestBytes_ = 0;
};

// The last published lines of a LineListModel as the rows of a model of
// their own. A list view lays out all its rows again whenever rows are
// added; one that shows the lines scrolled to the bottom while a run adds
// them by the million is given this model instead, and lays out no more
// than its rows however many lines there are: once they are as many as
// asked for, new lines move their text on rather than add rows.
class LineListTail : public QAbstractListModel {
public:
    explicit LineListTail(const LineListModel& lines, QObject* parent = nullptr);

    // Shows the last `rows` published lines (all of them where there are
    // no more).
    void Follow(int rows);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const LineListModel& lines_;
    int first_ = 0;  // the line shown as row 0
    int rows_ = 0;
};

}  // namespace zarn
