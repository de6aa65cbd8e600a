#pragma once
// The auxiliary file that holds the memo and byte-set values of a table.
//
// Block 0 is the header (format.h). A value is a chain of 512-byte blocks: each block starts
// with the number of the next block (0 ends the chain); the first block then holds the value's
// length. The record keeps the number of the first block (0 for an empty value). Freed blocks
// form a chain of their own that starts at the header's first list head and are reused before
// the file grows. Every block number and length read from the file is checked against the
// file's block count, so a damaged chain gives an error, never a wild read or a loop.
// Chains are changed under a lock of the header's block count, so that two processes writing
// values at once never hand out the same block.

#include "database/format.h"
#include "database/storage.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace iit::db {

class AuxFile {
public:
    // Opens and checks the file: kOk, kErrAuxRead (cannot open, bad header), kErrAuxVersion
    // or kErrAuxDamaged (shorter than its block count and read-only). The file is never
    // changed: a short file opened for writing is taken as the blocks present, and the next
    // change of a chain writes the corrected header.
    int open(const std::filesystem::path& path, bool writable, std::int32_t shareMode,
             std::int32_t version, std::shared_ptr<Cipher> cipher);
    void close() { m_file.close(); }

    // The value whose chain starts at block `first`: kOk or kErrAuxAccess.
    int read(std::int32_t first, std::string& out);
    // Stores a value in a new chain: kOk with its first block (0 for an empty value).
    int store(const std::string& data, std::int32_t& first, bool lockFree);
    // Gives the chain starting at `first` back to the free list.
    int release(std::int32_t first, bool lockFree);
    // Back to the header block alone.
    int reset();

private:
    int readHeader(AuxHeader& header);
    int writeHeader(const AuxHeader& header);
    std::int32_t usableBlocks(const AuxHeader& header) const;
    // Reads the header and the first block of a chain (kAuxBlockSize bytes into `block`),
    // checking that the block lies inside the file: kOk or kErrAuxAccess.
    int readFirstBlock(std::int32_t first, AuxHeader& header, std::int32_t& blocks, char* block);

    StoredFile m_file;
    AuxHeader m_header;
};

// Writes the header block of a new auxiliary file: kOk or kErrAuxCreate.
int createAuxFile(const std::filesystem::path& path, double created);

// The auxiliary file's path: the data file's with its extension replaced by "KDT".
std::filesystem::path auxPath(const std::filesystem::path& dataPath);

} // namespace iit::db
