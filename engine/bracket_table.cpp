#include "engine/bracket_table.h"

namespace iit::engine {

BracketTable::BracketTable(std::vector<Record> records) : m_records(std::move(records)) {
    m_numbers.resize(m_records.size() * kRateTableFields);
    m_integers.resize(m_records.size() * kRateTableFields);
    m_exacts.resize(m_records.size() * kRateTableFields);
    for (std::int32_t r = 1; r <= recordCount(); ++r)
        for (int f = 1; f <= kRateTableFields; ++f)
            convert(r, f);
}

const Value& BracketTable::field(std::int32_t record, int fieldNo) const {
    static const Value zero = Value::int32(0);
    if (!inRange(record, fieldNo)) return zero;
    return m_records[static_cast<std::size_t>(record - 1)][static_cast<std::size_t>(fieldNo - 1)];
}

void BracketTable::setField(std::int32_t record, int fieldNo, Value value) {
    if (record < 1 || fieldNo < 1 || fieldNo > kRateTableFields) return;
    if (record > recordCount()) {
        Record zeros;
        zeros.fill(Value::int32(0));
        m_records.resize(static_cast<std::size_t>(record), zeros);
        m_numbers.resize(m_records.size() * kRateTableFields, 0.0);
        m_integers.resize(m_records.size() * kRateTableFields, 0);
        const std::int32_t first =
            static_cast<std::int32_t>(m_exacts.size()) / kRateTableFields + 1;
        m_exacts.resize(m_records.size() * kRateTableFields);
        for (std::int32_t r = first; r <= recordCount(); ++r)
            for (int f = 1; f <= kRateTableFields; ++f)
                convert(r, f);
    }
    m_records[static_cast<std::size_t>(record - 1)][static_cast<std::size_t>(fieldNo - 1)] =
        std::move(value);
    convert(record, fieldNo);
}

void BracketTable::convert(std::int32_t record, int fieldNo) {
    const Value& v = field(record, fieldNo);
    m_numbers[index(record, fieldNo)] = ToNumber(v);
    m_integers[index(record, fieldNo)] = ToInteger(v);
    m_exacts[index(record, fieldNo)] = Exact::fromDouble(m_numbers[index(record, fieldNo)]);
}

} // namespace iit::engine
