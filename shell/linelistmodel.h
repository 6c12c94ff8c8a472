#pragma once

#include <QAbstractListModel>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zarn {

// The lines of a list box, stored compactly: the bytes of all lines in 1 MiB
// chunks and, per line, where it starts in its chunk (4 bytes; it ends where
// the next line of the chunk starts), so that the millions of progress lines
// of a large file never need one large reallocation. A line keeps only what
// differs from the last of the few lines before it that starts with the same
// byte, where the two begin or end alike (a progress line's "Area (sq km): "
// or " with 5 points." is kept once for a chain of lines), so that the lines
// hold less than their text. Lines are only appended; Append collects them
// and Publish tells the views in one step, so a run does not pay for a view
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

    std::size_t LineCount() const { return starts_.size(); }
    // The published line with the most bytes (0 when there is none): the
    // one that sets how wide the list's contents are.
    int LongestRow() const { return longestRow_; }
    std::string Line(std::size_t index) const;
    // The bytes of all lines' text.
    std::size_t TextBytes() const { return textBytes_; }
    // Bytes held beyond the text itself: fewer than none where the lines
    // share their text.
    std::ptrdiff_t OverheadBytes() const;

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

    // A line as kept: a byte with how many lines back the line it shares
    // text with is (0: none, and the line's bytes follow), else the numbers
    // of bytes the two begin and end with alike (a byte each), and the bytes
    // between.
    static constexpr std::size_t MaxShared = 255;
    // Lines share text with one of the last few, and along a chain of at
    // most so many lines, so that reading one back reads few others.
    static constexpr std::size_t RecentLines = 8;
    static constexpr int MaxChain = 16;

    struct Recent {
        std::string text;
        int chain = 0;  // lines read back to read this one
    };

    // The chunk that holds line `index`.
    std::size_t ChunkOf(std::size_t index) const;
    // The end of line `index` in chunk `chunk`, which holds it.
    std::size_t LineEnd(std::size_t index, std::size_t chunk) const;
    // Line `index` as kept.
    std::string_view Kept(std::size_t index) const;

    std::vector<Chunk> chunks_;
    std::deque<std::uint32_t> starts_;
    std::size_t textBytes_ = 0;
    std::array<Recent, RecentLines> recent_;
    // Per first byte, 1 + the index of the last line that starts with it (0:
    // none yet).
    std::array<std::size_t, 256> lastStarting_{};
    int published_ = 0;
    int longestRow_ = 0;          // the longest published line
    std::size_t longestLine_ = 0;  // the longest line, published or not
    std::size_t longestBytes_ = 0;
};

// The last published lines of a LineListModel as the rows of a model of
// their own. A list view lays out all its rows again whenever rows are
// added; one that shows the lines scrolled to the bottom while a run adds
// them by the million is given this model instead, whose rows it lays out
// only when their number changes, and which otherwise tells it that the
// rows' text has moved on.
class LineListTail : public QAbstractListModel {
public:
    LineListTail(const LineListModel& lines, QObject* parent = nullptr);

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
