// libFuzzer target: any bytes as a table file, opened with and without the rate table's
// password, for writing and read-only, then every field of every record read.
#include "database/database.h"
#include "runtime/fatal.h"
#include "runtime/files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& workFile() {
    static const std::filesystem::path file = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        return std::filesystem::path(tmpl) / "input.kdb";
    }();
    return file;
}

void exercise(const std::string& bytes, const iit::db::OpenOptions& options) {
    using namespace iit;
    {
        std::filesystem::remove(workFile());
        std::ofstream out(workFile(), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (!db::OpenDatabase(workFile(), options)) return;
    const std::size_t fields = db::Fields().size();
    const std::int32_t count = db::RecordCount();
    db::GoFirst();
    for (std::int32_t r = 0; r <= count; ++r) {
        for (std::size_t f = 1; f <= fields; ++f)
            db::ReadField(Value::int32(static_cast<std::int32_t>(f)));
        db::Skip();
    }
    db::CloseAllDatabases();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit;
    // Reading fields by their own positions is never a fatal fault; one would be a finding.
    static const bool trapped = [] {
        SetFatalHandler([](int, const Text&) { std::abort(); });
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
