// libFuzzer target: any bytes as a text sheet (.csv, .tsv, .txt in any encoding). Reading never
// crashes; what it reads keeps the cap and the order of the sheet's rows.
#include "sheets/readers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit::sheets;
    ReadOptions options;
    options.rowCap = 40;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const iit::Outcome<Sheet> sheet = readText(bytes, options);
    if (!sheet) return 0;
    if (sheet->rows.size() > options.rowCap || sheet->rowsSeen < sheet->rows.size() ||
        sheet->more != (sheet->rowsSeen > sheet->rows.size()))
        std::abort();
    std::size_t last = 0;
    for (const SheetRow& row : sheet->rows) {
        if (row.number <= last || row.cells.empty() || row.cells.back().empty()) std::abort();
        last = row.number;
    }
    return 0;
}
