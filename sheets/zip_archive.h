#pragma once
// The zip archive of an .xlsx workbook, read from memory through minizip. Every entry is
// inflated in chunks and the bytes actually inflated are counted: the sizes an archive states
// can lie, so the bounds hold whatever it claims. A zip bomb, a cut or damaged archive, an
// encrypted entry or one of an unknown method is refused with a Problem.

#include "base/outcome.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace iit::sheets {

// All entries of one archive together inflate to at most this many bytes. Measured on what
// the writer writes: 10,000 people in 7 columns inflate to 3.5 MB (5.8 times the compressed
// size), 120,000 rows of 17 columns to 91 MB (5.4 times); other programs' files with styles on
// every cell are larger, so the bound leaves nearly three times the larger one, and a hostile
// archive that inflates slowly up to it is refused within seconds of parsing.
constexpr std::uint64_t kMaxInflatedBytes = 256u << 20;
// An entry past kRatioFloor bytes inflates to at most kMaxRatio times its compressed size: real
// sheets stay far below 50, a zip bomb reaches 1,000.
constexpr std::uint64_t kRatioFloor = 1u << 20;
constexpr std::uint64_t kMaxRatio = 250;
constexpr std::size_t kMaxEntries = 10000;

class ZipArchive {
public:
    // Opens the archive in `bytes`, which must outlive it.
    static Outcome<std::unique_ptr<ZipArchive>> open(std::string_view bytes);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // Entry names compare without regard to ASCII case, as the package format wants.
    bool contains(std::string_view name) const;
    // Inflates the entry into `sink` chunk by chunk; the sink returns false to stop early.
    using Sink = std::function<bool(std::string_view chunk)>;
    Outcome<void> read(std::string_view name, const Sink& sink);

private:
    struct Memory;
    struct Entry {
        std::uint64_t offset = 0; // of its central directory record
        std::uint64_t number = 0;
        std::uint64_t compressed = 0;
    };
    ZipArchive() = default;

    std::unique_ptr<Memory> m_memory;
    void* m_handle = nullptr;
    std::map<std::string, Entry> m_entries; // by lower-case name
    std::uint64_t m_inflated = 0;
    std::uint64_t m_size = 0;
};

} // namespace iit::sheets
