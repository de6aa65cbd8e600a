// The table engine on real files in a temporary directory: reading one field of the
// password-protected rate table, and writing and reading back a batch file of 10,000 rows.
#include "base/files.h"
#include "database/database.h"
#include "database/format.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>

namespace iit::db {
namespace {

constexpr int kBatchRows = 10'000;

class BenchDir {
public:
    BenchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) m_path = tmpl;
    }
    ~BenchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::filesystem::path file(const char* name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

std::vector<FieldSpec> batchLayout() {
    return {{sysText("姓名"), kText, 16},      {sysText("身份证号"), kText, 20},
            {sysText("收入"), kDouble, 0},     {sysText("应缴税"), kDouble, 0},
            {sysText("所得合计"), kDouble, 0}, {sysText("银行卡号"), kText, 20},
            {sysText("备注"), kText, 40}};
}

// Writes the batch file; false when any operation failed.
bool writeBatch(const std::filesystem::path& file, std::int32_t shareMode = kDenyNone) {
    static const Text name = sysText("张三丰");
    static const Text id = Text::fromBytes("110101199001011234");
    static const Text card = Text::fromBytes("6222020200112233445");
    static const Text remark = sysText("十月工资");
    if (!CreateDatabase(file, batchLayout())) return false;
    OpenOptions options;
    options.shareMode = shareMode;
    Outcome<Table> table = OpenDatabase(file, options);
    if (!table) return false;
    bool ok = true;
    for (int r = 0; r < kBatchRows; ++r) {
        ok = table->AppendBlankRecord().ok() && ok;
        ok = table->WriteField(Value::int32(1), Value::text(name)).ok() && ok;
        ok = table->WriteField(Value::int32(2), Value::text(id)).ok() && ok;
        ok = table->WriteField(Value::int32(3), Value::number(8000 + r)).ok() && ok;
        ok = table->WriteField(Value::int32(4), Value::number(245.5)).ok() && ok;
        ok = table->WriteField(Value::int32(5), Value::number(7754.5 + r)).ok() && ok;
        ok = table->WriteField(Value::int32(6), Value::text(card)).ok() && ok;
        ok = table->WriteField(Value::int32(7), Value::text(remark)).ok() && ok;
    }
    return table->close().ok() && ok;
}

// The password-protected rate table, opened with the share mode `shareMode`.
Outcome<Table> openRateTable(const BenchDir& dir, std::int32_t shareMode) {
    std::vector<FieldSpec> fields;
    std::vector<std::vector<Value>> records(9);
    for (int i = 1; i <= 24; ++i)
        fields.push_back({Text::fromBytes("F" + std::to_string(i)), kInt, 0});
    for (int r = 0; r < 9; ++r)
        for (int i = 0; i < 24; ++i)
            records[static_cast<std::size_t>(r)].push_back(Value::int32(r * 100 + i));
    const std::filesystem::path file = dir.file("rates.dat");
    std::ofstream(file, std::ios::binary) << encodeTableImage(fields, 45000, records, "qvr4729158");
    OpenOptions options;
    options.password = Text::fromBytes("qvr4729158");
    options.shareMode = shareMode;
    return OpenDatabase(file, options);
}

// One numeric field of the current record, which an earlier read has already brought in:
// the other fields of a record cost no file access. Argument: the share mode.
void BM_ReadFieldEnciphered(benchmark::State& state) {
    BenchDir dir;
    Outcome<Table> table = openRateTable(dir, static_cast<std::int32_t>(state.range(0)));
    if (!table) return state.SkipWithError("open failed");
    if (!table->GoFirst() || !table->Skip(4)) return state.SkipWithError("move failed");
    const Value field = Value::int32(3);
    bool ok = true;
    for (auto _ : state) {
        Outcome<Value> v = table->ReadField(field);
        ok = ok && v.ok();
        benchmark::DoNotOptimize(v);
    }
    if (!ok) state.SkipWithError("read failed");
}
BENCHMARK(BM_ReadFieldEnciphered)->Arg(kDenyNone)->Arg(kExclusive);

// The first field read after the cursor moved: the record is locked, read and deciphered,
// with the move (Skip reads the record count under its own lock) included.
void BM_ReadFieldAfterMove(benchmark::State& state) {
    BenchDir dir;
    Outcome<Table> table = openRateTable(dir, static_cast<std::int32_t>(state.range(0)));
    if (!table) return state.SkipWithError("open failed");
    const Value field = Value::int32(3);
    if (!table->GoFirst()) return state.SkipWithError("move failed");
    bool ok = true;
    for (auto _ : state) {
        // After the last record the cursor goes back to the first.
        if (!table->Skip(1)) ok = table->GoFirst().ok() && ok;
        Outcome<Value> v = table->ReadField(field);
        ok = (v.ok() || v.problem().code == kErrSeek) && ok; // past the last record: no field
        benchmark::DoNotOptimize(v);
    }
    if (!ok) state.SkipWithError("read failed");
}
BENCHMARK(BM_ReadFieldAfterMove)->Arg(kDenyNone)->Arg(kExclusive);

// Argument: the share mode. The batch save writes its new file exclusively.
void BM_WriteBatch(benchmark::State& state) {
    BenchDir dir;
    const std::filesystem::path file = dir.file("batch.dat");
    bool ok = true;
    for (auto _ : state)
        ok = writeBatch(file, static_cast<std::int32_t>(state.range(0))) && ok;
    if (!ok) state.SkipWithError("write failed");
}
BENCHMARK(BM_WriteBatch)->Arg(kDenyNone)->Arg(kExclusive)->Unit(benchmark::kMillisecond);

void BM_ReadBatch(benchmark::State& state) {
    BenchDir dir;
    const std::filesystem::path file = dir.file("batch.dat");
    if (!writeBatch(file)) return state.SkipWithError("write failed");
    Outcome<Table> table = OpenDatabase(file);
    if (!table) return state.SkipWithError("open failed");
    bool ok = true;
    for (auto _ : state) {
        ok = table->GoFirst().ok() && ok;
        for (int r = 0; r < kBatchRows; ++r) {
            for (int f = 1; f <= 7; ++f) {
                Outcome<Value> v = table->ReadField(Value::int32(f));
                ok = v.ok() && ok;
                benchmark::DoNotOptimize(v);
            }
            ok = table->Skip().ok() && ok;
        }
    }
    if (!ok) state.SkipWithError("read failed");
}
BENCHMARK(BM_ReadBatch)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace iit::db
