#pragma once
// A data directory of the benchmarks' own: a fresh temporary directory made the program
// directory, with the built-in rate table written; removed with everything in it afterwards.

#include "base/files.h"
#include "engine/rate_table_file.h"

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
        setProgramDirectory(m_dir);
        if (!engine::writeDefaultRateTable(engine::rateTablePath()))
            std::abort(); // nothing to measure
    }
    ~DataDirectory() { std::filesystem::remove_all(m_dir); }
    DataDirectory(const DataDirectory&) = delete;
    DataDirectory& operator=(const DataDirectory&) = delete;

    const std::filesystem::path& path() const { return m_dir; }

private:
    std::filesystem::path m_dir;
};

} // namespace iit::bench
