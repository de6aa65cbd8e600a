#pragma once
// Reading a batch file: the table file of seven fields that "保存" writes, decoded from its bytes
// (database/format.h) rather than opened, so that any number of readers share it (a save
// replaces the file whole, by a rename, so no reader ever sees half of one) and a file read
// from standard input needs no copy on the disk.
//
// A file that is not whole (cut inside its records, or a header that claims more records than
// the file holds) is damaged: the records present are read and the damage is reported, so
// that the window can offer to keep them and the command line can refuse the file. A record
// that carries nothing of a person (empty texts, zero amounts: the empty rows every save
// writes) reads as an empty row.

#include "base/outcome.h"
#include "base/text.h"
#include "batch/layout.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace iit::batch {

// One record as the grid shows it: columns 1 to 7.
using BatchRecord = std::array<Text, kGridColumns - 1>;

struct BatchFileContent {
    std::vector<BatchRecord> records; // at most kDataRows
    std::int64_t claimed = 0;         // records the header claims
    std::int64_t present = 0;         // records the file holds whole
    std::int64_t beyondSheet = 0;     // whole records past the sheet's kDataRows rows
    bool damaged() const { return present < claimed; }
    // "文件已损坏：读出 N 人，文件的其余部分缺失" (the people, not the records); empty for a whole
    // file.
    Text damageText() const;
};

// Decodes the bytes of a batch file. Fails, with the reason, for bytes that are no batch file
// (not a table, a password-protected table, fields other than the batch file's).
Outcome<BatchFileContent> readBatchFileBytes(std::string_view bytes);

} // namespace iit::batch
