// libFuzzer target: .xls workbooks, read from bytes as the standard input is (FreeXL through a
// private temporary file), and the container walk that finds formulas on its own. Neither
// crashes, hangs or runs out of bounds, and no temporary file is left behind.
#include "sheets/biff.h"
#include "sheets/readers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// FreeXL 1.0.6 leaks a few bytes inside freexl_open() on some damaged files, even with the
// freexl_close() it asks for; that is its own defect, not the reader's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfreexl.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit::sheets;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto workbook = openBiff(bytes))
        for (const BiffSheet& sheet : workbook->sheets)
            (void)specialCells(*workbook, sheet);
    ReadOptions options;
    options.rowCap = 40;
    const iit::Outcome<Sheet> sheet = readXls({}, bytes, options);
    if (sheet && sheet->rows.size() > options.rowCap) std::abort();
    return 0;
}
