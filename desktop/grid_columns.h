#pragma once
// The columns of the program's text grids: their row 0 (the captions) shown
// as the column header, whose borders the user drags, and columns kept as
// wide as what they hold.

#include <vector>

class QTableWidget;

namespace gw::desktop {

// Row 0 becomes the column header and is hidden itself; the rows below are
// numbered from 1.
void ShowHeaderRow(QTableWidget* grid);

// Widens the columns of one grid to what they hold as that grows (a
// connection's address, the first times), and never narrows them: a column
// the user narrowed stays so until its content grows wider still.
class TColumnFit {
public:
    // Every column as wide as its content, as for a newly shown station.
    void Reset(QTableWidget* grid);
    // The columns whose content grew; nothing while the grid is not shown
    // (a hidden grid would measure all its rows).
    void Grow(QTableWidget* grid);

private:
    std::vector<int> fitted_; // the widest content measured per column
};

} // namespace gw::desktop
