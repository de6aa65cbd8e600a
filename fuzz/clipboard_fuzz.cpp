// libFuzzer target: any bytes as clipboard or spreadsheet text, pasted into a grid with a fixed
// row and column and a hidden column, from a cell the input chooses. A paste never writes
// outside the grid, and what a copy gives pastes back to the same copy.
#include "base/text.h"
#include "grid/grid.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

iit::Grid makeGrid() {
    iit::GridSetup setup;
    setup.rows = 41;
    setup.columns = 8;
    setup.fixedRows = 1;
    setup.fixedColumns = 1;
    iit::Grid grid(setup);
    grid.setColumnWidth(5, 0); // hidden: skipped by paste and copy
    grid.setRowHeight(7, 0);
    return grid;
}

std::string copyAll(iit::Grid& grid) {
    grid.selectAll();
    const std::optional<iit::Text> text = grid.copy();
    return text ? text->bytes() : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit;
    if (size < 2) return 0;
    const int row = 1 + data[0] % 45; // sometimes outside the grid
    const int column = 1 + data[1] % 9;
    const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    Grid grid = makeGrid();
    grid.setCurrentCell(row, column);
    const PasteResult pasted = grid.paste(Text::fromBytes(bytes));
    if (pasted.pasted != (grid.isEditable(row, column) && !bytes.empty())) std::abort();
    if (pasted.rowsLeftOut > pasted.rowsRead) std::abort();
    for (int r = 0; r < grid.rowCount(); ++r)
        if (!grid.text(r, 5).empty() || (r > 0 && !grid.text(r, 0).empty())) std::abort();
    if (!grid.text(7, 3).empty()) std::abort();

    const std::string first = copyAll(grid);
    Grid other = makeGrid();
    other.setCurrentCell(1, 1);
    other.paste(Text::fromBytes(first));
    if (copyAll(other) != first) std::abort();

    // The same bytes as UTF-8 from a spreadsheet convert to the system's texts and back without
    // growing beyond what the conversion allows: a character of two UTF-8 bytes (a Greek or
    // Cyrillic letter) takes four in GB18030, no character takes more than twice its bytes.
    const Text text = Text::fromUtf8(bytes);
    if (text.size() > 2 * bytes.size()) std::abort();
    (void)text.toUtf8();
    return 0;
}
