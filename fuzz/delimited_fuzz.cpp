// libFuzzer target: any bytes as clipboard or spreadsheet text. What the grammar splits joins
// and splits back to the same rows with the separator it detected, and a reader that only
// counts rows sees as many as one that stores them.
#include "base/delimited.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DelimitedReader reader(text);
    const Delimiter delimiter = reader.delimiter();
    const std::vector<DelimitedRow> rows = splitDelimited(text);
    std::size_t counted = 0;
    while (reader.next(nullptr))
        ++counted;
    if (counted != rows.size()) std::abort();
    if (splitDelimited(joinDelimited(rows, delimiter), delimiter) != rows) std::abort();
    return 0;
}
