#include "desktop/grid_columns.h"

#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>

namespace gw::desktop {

namespace {

int ContentWidth(QTableWidget* grid, int column)
{
    // Public on the view, protected on the table (it looks at the shown rows only).
    const QAbstractItemView* view = grid;
    return std::max(view->sizeHintForColumn(column), grid->horizontalHeader()->sectionSizeHint(column));
}

} // namespace

void ShowHeaderRow(QTableWidget* grid)
{
    QStringList captions, numbers;
    for (int c = 0; c < grid->columnCount(); ++c)
        captions << (grid->item(0, c) ? grid->item(0, c)->text() : QString());
    for (int r = 0; r < grid->rowCount(); ++r)
        numbers << (r == 0 ? QString() : QString::number(r));
    grid->setHorizontalHeaderLabels(captions);
    grid->setVerticalHeaderLabels(numbers);
    grid->horizontalHeader()->setVisible(true);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->setRowHidden(0, true);
}

void TColumnFit::Reset(QTableWidget* grid)
{
    fitted_.assign(static_cast<std::size_t>(grid->columnCount()), 0);
    for (int c = 0; c < grid->columnCount(); ++c) {
        fitted_[static_cast<std::size_t>(c)] = ContentWidth(grid, c);
        grid->setColumnWidth(c, fitted_[static_cast<std::size_t>(c)]);
    }
}

void TColumnFit::Grow(QTableWidget* grid)
{
    if (!grid->isVisible())
        return;
    fitted_.resize(static_cast<std::size_t>(grid->columnCount()), 0);
    for (int c = 0; c < grid->columnCount(); ++c) {
        const int need = ContentWidth(grid, c);
        int& fitted = fitted_[static_cast<std::size_t>(c)];
        if (need <= fitted)
            continue;
        fitted = need;
        grid->setColumnWidth(c, std::max(grid->columnWidth(c), need));
    }
}

} // namespace gw::desktop
