#pragma once
// Column widths the user set by dragging a header, kept for the next time a window opens. They
// live in the user's Qt settings file (~/.config/iitcalc/iitcalc.ini), never among the data
// directory's files: they are a preference of the person, not part of a payroll.

#include "base/signal.h"
#include "grid/grid.h"

#include <QString>

namespace iit::gui {

// Gives `grid` the widths kept under `key` (only for columns that are shown and only widths a
// person could have set), then keeps every width the user changes from now on. The widths are
// kept for as long as the returned connection lives.
[[nodiscard]] Connection keepColumnWidths(Grid& grid, const QString& key);

} // namespace iit::gui
