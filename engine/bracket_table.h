#pragma once
// The bracket table: the law the tax computation reads, as records of 24 fields.
//
// Fields 1 to 24 form four groups of six, one per sub-table (wages; labour tax included; labour
// tax excluded; royalties): threshold (record 1 only), band lower bound, band upper bound, rate
// in percent, quick deduction, and a spare field the computation never reads. The computation
// works on a BracketTable handed to it; the file the table is kept in, and how it is read and
// written, is engine/rate_table_file.h's.

#include "base/convert.h"
#include "base/value.h"
#include "engine/exact.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace iit::engine {

constexpr int kRateTableFields = 24;
constexpr int kRateTableRecords = 9;

// The four sub-tables of the bracket table, as their first field k, and the fields of a
// sub-table as offsets from it: the threshold (record 1 only), the band's lower and upper
// bounds, the rate in percent, the quick deduction and a spare field the computation never
// reads. The royalty sub-table holds its deduction percentage in record 1's rate field and the
// reduction percentage in record 2's.
enum class SubTable : int { Wages = 1, LabourGross = 7, LabourNet = 13, Royalties = 19 };
enum class Field : int { Threshold = 0, Lower = 1, Upper = 2, Rate = 3, Deduction = 4, Spare = 5 };
constexpr int firstField(SubTable t) {
    return static_cast<int>(t);
}
constexpr int fieldOf(SubTable t, Field f) {
    return static_cast<int>(t) + static_cast<int>(f);
}
inline constexpr SubTable kSubTables[] = {SubTable::Wages, SubTable::LabourGross,
                                          SubTable::LabourNet, SubTable::Royalties};

// The bracket table as one calculation reads it: the 24 fields of every record the file holds,
// read in one pass. A record beyond the last and a field the file does not have read as 0,
// so a table of one record gives the royalty reduction (record 2, field 22) 0.
class BracketTable {
public:
    using Record = std::array<Value, kRateTableFields>;

    BracketTable() = default;
    explicit BracketTable(std::vector<Record> records);

    std::int32_t recordCount() const { return static_cast<std::int32_t>(m_records.size()); }
    // Field `field` (1 to 24) of record `record` (1-based).
    const Value& field(std::int32_t record, int field) const;
    // The field read as a double, and as an integer truncated toward zero.
    double number(std::int32_t record, int field) const {
        return inRange(record, field) ? m_numbers[index(record, field)] : 0.0;
    }
    std::int32_t integer(std::int32_t record, int field) const {
        return inRange(record, field) ? m_integers[index(record, field)] : 0;
    }
    // The field as an exact decimal (the shortest that reads back as its double); nullopt
    // when the field holds an infinity or NaN.
    const std::optional<Exact>& exact(std::int32_t record, int field) const {
        static const std::optional<Exact> zero = Exact{};
        return inRange(record, field) ? m_exacts[index(record, field)] : zero;
    }
    // Sets a field, adding records of zeros up to `record` (1-based); a field outside 1 to 24
    // is ignored.
    void setField(std::int32_t record, int field, Value value);

    const std::vector<Record>& records() const { return m_records; }

private:
    bool inRange(std::int32_t record, int field) const {
        return record >= 1 && record <= recordCount() && field >= 1 && field <= kRateTableFields;
    }
    static std::size_t index(std::int32_t record, int field) {
        return static_cast<std::size_t>(record - 1) * kRateTableFields +
               static_cast<std::size_t>(field - 1);
    }
    void convert(std::int32_t record, int field);

    std::vector<Record> m_records;
    // The conversions the computations use, made once per field.
    std::vector<double> m_numbers;
    std::vector<std::int32_t> m_integers;
    std::vector<std::optional<Exact>> m_exacts;
};

} // namespace iit::engine
