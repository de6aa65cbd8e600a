#pragma once
// Rate tables for the engine tests, written with the table-database engine into a fresh
// directory that becomes the program directory.

#include "base/files.h"
#include "database/database.h"
#include "database/format.h"
#include "engine/bracket_table.h"
#include "engine/rate_table_file.h"
#include "engine/tax.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

namespace iit::testing {

// One row of a table: the 24 fields as doubles (0 where not given).
using Row = std::array<double, 24>;

// Sets fields first..first+4 of a row (threshold, lower, upper, rate %, quick deduction).
inline void setGroup(Row& row, int first, double threshold, double lower, double upper, double rate,
                     double qd) {
    const double v[5] = {threshold, lower, upper, rate, qd};
    for (int i = 0; i < 5; ++i)
        row[static_cast<std::size_t>(first - 1 + i)] = v[i];
}

// The example table the computation rules are explained with.
inline std::vector<Row> exampleTable() {
    std::vector<Row> rows(9, Row{});
    setGroup(rows[0], 1, 5000, 0, 3000, 3, 0);
    setGroup(rows[1], 1, 0, 3000, 12000, 10, 210);
    setGroup(rows[0], 7, 800, 0, 4000, 20, 0);
    setGroup(rows[1], 7, 0, 4000, 25000, 20, 0);
    setGroup(rows[2], 7, 0, 25000, 62500, 30, 2000);
    setGroup(rows[3], 7, 0, 62500, 1e12, 40, 7000);
    setGroup(rows[0], 13, 800, 0, 3360, 20, 0);
    setGroup(rows[0], 19, 800, 0, 4000, 20, 0);
    rows[1][21] = 30; // royalty reduction percentage
    return rows;
}

class EngineFixture : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path tablePath;
    // The rate-table file the calculations read, held open from the first one on, as the
    // windows hold it.
    std::optional<engine::RateTableFile> file;

    void SetUp() override {
        setProgramDirectory(dir.path());
        tablePath = engine::rateTablePath();
    }

    engine::RateTableFile& rateTable() {
        if (!file) file.emplace(tablePath);
        return *file;
    }

    // The single-person computation of x over the file as it is now, as the main window
    // computes it.
    Outcome<engine::TaxFigures> computeFromFile(const engine::Exact& x, engine::TaxKind kind,
                                                engine::TaxMode mode) {
        const Outcome<engine::BracketTable> table = rateTable().load();
        if (!table) return table.problem();
        return engine::computeTaxFigures(*table, x, kind, mode, engine::TaxPolicy::singlePerson());
    }

    // Writes rows as a password-protected table of double fields (or `type` fields); a file
    // held open is closed first.
    void writeTable(const std::vector<Row>& rows, std::int32_t type = db::kDouble) {
        file.reset();
        std::vector<db::FieldSpec> fields;
        for (int i = 1; i <= 24; ++i)
            fields.push_back({Text::fromBytes("F" + std::to_string(i)), type, 0});
        std::vector<std::vector<Value>> records;
        for (const Row& row : rows) {
            std::vector<Value> rec;
            for (double v : row)
                rec.push_back(Value::number(v));
            records.push_back(std::move(rec));
        }
        writeFile(tablePath,
                  db::encodeTableImage(fields, 43466, records, engine::rateTablePassword().view()));
    }
};

} // namespace iit::testing
