// libFuzzer target: any bytes as the rows of a payroll sheet for the withhold computation. The
// first byte chooses gross or net mode; lines are rows, tabs separate cells. The computation
// never fails other than by naming rows; when it succeeds every non-blank row has its output,
// nothing is withheld below 0, and in net mode the gross less the withholding is the net.
#include "engine/amount.h"
#include "engine/withhold.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit::engine;
    if (size == 0) return 0;
    const TaxMode mode = data[0] & 1 ? TaxMode::Net : TaxMode::Gross;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<CellRow> rows(1);
    std::string cell;
    for (char c : text) {
        if (c == '\n') {
            rows.back().push_back(cell);
            cell.clear();
            rows.emplace_back();
        } else if (c == '\t') {
            rows.back().push_back(cell);
            cell.clear();
        } else {
            cell.push_back(c);
        }
    }
    rows.back().push_back(cell);
    const WithholdingTable& table = *defaultWithholdingTables().forYear(2024);
    iit::Outcome<std::vector<CellRow>> out = withhold(rows, mode, table);
    if (!out) {
        if (out.problem().message.empty()) std::abort();
        return 0;
    }
    if (out->size() > rows.size()) std::abort();
    for (const CellRow& r : *out) {
        if (r.size() != (mode == TaxMode::Net ? 18u : 17u)) std::abort();
        const std::optional<Exact> withheld = parseDecimal(r[15]);
        if (!withheld || withheld->sign() < 0) std::abort();
        if (mode == TaxMode::Net) {
            const std::optional<Exact> gross = parseDecimal(r[17]);
            const iit::Outcome<Exact> net = parseAmount(r[3]);
            if (!gross || !net || !(*gross - *withheld == *net)) std::abort();
        }
    }
    return 0;
}
