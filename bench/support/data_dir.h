#pragma once
// A data directory of the benchmarks' own: a fresh temporary directory made the program
// directory, with the built-in rate table written and opened under its alias; removed with
// everything in it afterwards.

#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

namespace iit::bench {

class DataDirectory {
public:
    DataDirectory() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-bench-XXXXXX").string();
        m_dir = ::mkdtemp(tmpl.data());
        db::CloseAllDatabases();
        setProgramDirectory(m_dir);
        if (!engine::writeDefaultRateTable(engine::rateTablePath()))
            std::abort(); // nothing to measure
        engine::openRateTable(engine::rateTablePath());
    }
    ~DataDirectory() {
        db::CloseAllDatabases();
        std::filesystem::remove_all(m_dir);
    }
    DataDirectory(const DataDirectory&) = delete;
    DataDirectory& operator=(const DataDirectory&) = delete;

    const std::filesystem::path& path() const { return m_dir; }

private:
    std::filesystem::path m_dir;
};

} // namespace iit::bench
