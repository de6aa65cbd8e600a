// libFuzzer target: .xlsx workbooks. Input that starts with "PK" is a whole archive; any other
// input is split at "\n@@\n" into the parts of a workbook (sheet, shared strings, styles,
// workbook, its relationships) that are packed into an archive, so that the XML readers are
// reached past the archive's checksums. Reading never crashes, hangs or runs out of bounds.
#include "sheets/readers.h"
#include "tests/support/zip_maker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit::sheets;
    ReadOptions options;
    options.rowCap = 40;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string bytes;
    if (input.substr(0, 2) == "PK") {
        bytes = std::string(input);
    } else {
        std::vector<std::string> parts;
        for (std::size_t pos = 0; parts.size() < 5;) {
            const std::size_t cut = input.find("\n@@\n", pos);
            parts.emplace_back(input.substr(pos, cut == std::string_view::npos ? cut : cut - pos));
            if (cut == std::string_view::npos) break;
            pos = cut + 4;
        }
        parts.resize(5);
        iit::testing::XlsxParts p{parts[0], parts[1], parts[2], parts[3], parts[4]};
        bytes = iit::testing::makeXlsx(p);
    }
    const iit::Outcome<Sheet> sheet = readXlsx(bytes, options);
    if (sheet && sheet->rows.size() > options.rowCap) std::abort();
    return 0;
}
