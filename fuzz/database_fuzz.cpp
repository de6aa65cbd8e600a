// libFuzzer target: any bytes as a table file, opened with and without the rate table's
// password, for writing and read-only, then every field of every record read (memo and byte-set
// chains included). A writable table then takes a new record whose fields read back as written,
// through the auxiliary file for memo fields.
#include "base/convert.h"
#include "base/fatal.h"
#include "base/files.h"
#include "database/database.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::filesystem::path& workFile() {
    static const std::filesystem::path file = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        return std::filesystem::path(tmpl) / "input.kdb";
    }();
    return file;
}

// Appends a record and writes every field; what a write accepted reads back as written.
void writeRecord(iit::db::Table& table, std::size_t seed) {
    using namespace iit;
    if (!table.AppendBlankRecord()) return;
    const std::vector<db::FieldSpec>& fields = table.fields();
    const std::string memo(1 + seed % 1500, static_cast<char>('a' + seed % 26));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Value position = Value::int32(static_cast<std::int32_t>(i + 1));
        const db::FieldSpec& f = fields[i];
        Value written;
        if (f.type == db::kText || f.type == db::kMemo)
            written = Value::text(Text::fromBytes(f.type == db::kMemo ? memo : "abc"));
        else if (f.type == db::kByteSet)
            written = Value::bytes(ByteSet(memo.begin(), memo.end()));
        else if (f.type == db::kBool || f.type == db::kDateTime || f.type == db::kSubroutine)
            continue;
        else
            written = Value::int32(42);
        if (!table.WriteField(position, written)) continue;
        const Outcome<Value> back = table.ReadField(position);
        if (!back) continue; // a damaged chain of another record
        if (f.type == db::kText) {
            if (back->rawBytes() !=
                std::string_view("abc").substr(0, static_cast<std::size_t>(f.width)))
                std::abort();
        } else if (f.type == db::kMemo || f.type == db::kByteSet) {
            if (back->rawBytes() != memo) std::abort();
        } else if (ToInteger(*back) != 42) {
            std::abort();
        }
    }
}

void exercise(const std::string& bytes, const iit::db::OpenOptions& options) {
    using namespace iit;
    {
        std::filesystem::remove(workFile());
        std::ofstream out(workFile(), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Outcome<db::Table> table = db::OpenDatabase(workFile(), options);
    if (!table) return;
    const std::size_t fields = table->fields().size();
    const Outcome<std::int32_t> count = table->RecordCount();
    if (!count) return;
    (void)table->GoFirst();
    for (std::int32_t r = 0; r <= *count; ++r) {
        for (std::size_t f = 1; f <= fields; ++f)
            (void)table->ReadField(Value::int32(static_cast<std::int32_t>(f)));
        (void)table->Skip();
    }
    if (!options.readOnly) writeRecord(*table, bytes.size());
    (void)table->close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit;
    // Reading fields by their own positions is never a fatal fault; one would be a finding.
    static const bool trapped = [] {
        setFatalHandler([](int, const Text&) { std::abort(); });
        return true;
    }();
    (void)trapped;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    db::OpenOptions options;
    options.shareMode = db::kExclusive;
    exercise(bytes, options);
    options.password = Text::fromBytes("qvr4729158");
    exercise(bytes, options);
    options.readOnly = true;
    options.shareMode = db::kDenyNone;
    exercise(bytes, options);
    return 0;
}
