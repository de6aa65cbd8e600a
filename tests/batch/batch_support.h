#pragma once
// A batch sheet over a rate table in a fresh program directory.

#include "base/files.h"
#include "batch/sheet.h"
#include "database/format.h"
#include "engine/rate_table_file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>

namespace iit::testing {

class BatchFixture : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<batch::BatchSheet> sheet;

    void SetUp() override {
        setProgramDirectory(dir.path());
        ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
        sheet = std::make_unique<batch::BatchSheet>();
    }

    Grid& grid() { return sheet->grid(); }
    void set(int row, int column, const char* utf8) {
        grid().setText(row, column, Text::fromUtf8(utf8));
    }
    std::string cell(int row, int column) { return grid().text(row, column).toUtf8(); }
    // Columns 1 to 7 of a row, tab-separated.
    std::string line(int row) {
        std::string s;
        for (int c = 1; c <= 7; ++c)
            s += (c > 1 ? "\t" : "") + cell(row, c);
        return s;
    }
    // CalculateAll, which must find the rate table; its report.
    batch::CalculationReport calculate() {
        Outcome<batch::CalculationReport> r = sheet->CalculateAll();
        EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.problem().message.toUtf8());
        return r.ok() ? *r : batch::CalculationReport{};
    }
    // What CalculateEditedRow tells: "" for nothing, its notice, or "failed: " and its message.
    std::string editedRow(int row, int column) {
        const Outcome<Text> r = sheet->CalculateEditedRow(row, column);
        return r ? r->toUtf8() : "failed: " + r.problem().message.toUtf8();
    }
    void person(int row, const char* name, const char* income) {
        set(row, batch::kNameColumn, name);
        set(row, batch::kIncomeColumn, income);
    }
};

} // namespace iit::testing
