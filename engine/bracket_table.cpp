#include "engine/bracket_table.h"

#include "database/database.h"
#include "resources/resources.h"
#include "runtime/fatal.h"
#include "runtime/files.h"

namespace iit::engine {

const Text& RateTableAlias() {
    static const Text alias = sysText("设置税率表");
    return alias;
}

const Text& RateTablePassword() {
    static const Text password = Text::fromBytes(kRateTablePassword);
    return password;
}

Text RateTablePath() {
    return JoinPath(ProgramDirectory(), kRateTableFileName);
}

bool EnsureRateTableFile(const Text& path) {
    if (FileExists(path)) return true;
    return WriteDefaultRateTable(path);
}

bool WriteDefaultRateTable(const Text& path) {
    return WriteFile(path, resources::DefaultRateTable());
}

bool OpenRateTable(const Text& path) {
    db::OpenOptions options;
    options.alias = RateTableAlias();
    options.password = RateTablePassword();
    return db::OpenDatabase(path, options);
}

bool TableSnapshot::load() {
    m_records.clear();
    m_read.clear();
    m_recordCount = 0;
    m_fieldCount = 0;
    m_position = 0;
    if (!db::SelectDatabase(RateTableAlias())) return false;
    m_fieldCount = static_cast<std::int32_t>(db::Fields().size());
    m_recordCount = db::RecordCount();
    db::GoFirst();
    m_position = 1;
    return true;
}

void TableSnapshot::loadOrFail() {
    if (!load()) FatalError(0, sysText("未指定当前数据库或者指定数据库未打开"));
}

const Value& TableSnapshot::field(std::int32_t record, int fieldNo) {
    static const Value zero = Value::int32(0);
    if (record < 1 || record > m_recordCount || fieldNo < 1 || fieldNo > kRateTableFields ||
        fieldNo > m_fieldCount)
        return zero;
    const std::size_t r = static_cast<std::size_t>(record - 1);
    if (m_records.size() <= r) {
        m_records.resize(r + 1);
        m_read.resize(r + 1, 0);
    }
    const std::uint32_t bit = 1u << (fieldNo - 1);
    if (!(m_read[r] & bit)) {
        moveTo(record);
        m_records[r][static_cast<std::size_t>(fieldNo - 1)] = db::ReadField(Value::int32(fieldNo));
        m_read[r] |= bit;
    }
    return m_records[r][static_cast<std::size_t>(fieldNo - 1)];
}

double TableSnapshot::number(std::int32_t record, int fieldNo) {
    return ToNumber(field(record, fieldNo));
}

std::int32_t TableSnapshot::integer(std::int32_t record, int fieldNo) {
    return ToInteger(field(record, fieldNo));
}

void TableSnapshot::moveTo(std::int32_t record) {
    if (record == m_position) return;
    if (record < m_position) {
        db::GoFirst();
        m_position = 1;
    }
    db::Skip(record - m_position);
    m_position = record;
}

} // namespace iit::engine
