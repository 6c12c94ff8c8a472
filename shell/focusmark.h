#pragma once

#include <QListView>
#include <QPushButton>

class QPainter;

namespace zarn {

// The mark that shows which control has the keyboard focus: a frame two
// pixels wide in the palette's highlight colour just inside `rect`. Drawn
// over the content, because the lists and the canvas show none of their own
// while they are empty or hold the map.
void DrawFocusMark(QPainter& painter, const QRect& rect, const QPalette& palette);

// A list view that draws the focus mark over its lines while it has focus.
class FocusMarkedList : public QListView {
public:
    using QListView::QListView;

    // The height the view gives the row of `index`, which may come from
    // another model than the one shown (as sizeHintForRow).
    int RowHeight(const QModelIndex& index) const;
    // Shows `model`, with a selection model of its own in place of the
    // previous one.
    void ShowModel(QAbstractItemModel* model);
    // How many rows, scrolled to the bottom, show the same picture as any
    // number beyond them: the last rows, and a scroll bar's thumb at its
    // least length.
    int TailRows() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// A push button that draws the focus mark while it has focus, from the
// window's first showing on: the style draws its own only once the
// keyboard has moved the focus.
class FocusMarkedButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace zarn
