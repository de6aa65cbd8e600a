#include "database/auxfile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>
#include <vector>

namespace iit::db {
namespace {

constexpr std::int64_t kBlockCountOffset = 16;
constexpr std::size_t kFirstPayload = kAuxBlockSize - 8; // next + length
constexpr std::size_t kNextPayload = kAuxBlockSize - 4;  // next

std::int64_t blockOffset(std::int32_t block) {
    return static_cast<std::int64_t>(block) * kAuxBlockSize;
}

std::size_t blocksFor(std::size_t length) {
    if (length == 0) return 0;
    if (length <= kFirstPayload) return 1;
    return 1 + (length - kFirstPayload + kNextPayload - 1) / kNextPayload;
}

// Holds the header's block-count byte locked for the life of a chain change.
class HeaderLock {
public:
    HeaderLock(int fd, bool lockFree) : m_fd(fd), m_active(!lockFree) {
        if (m_active) m_rc = lockBytes(fd, LockKind::Write, kBlockCountOffset, 1, 0);
    }
    ~HeaderLock() {
        if (m_active && m_rc == kOk) unlockBytes(m_fd, kBlockCountOffset, 1);
    }
    HeaderLock(const HeaderLock&) = delete;
    HeaderLock& operator=(const HeaderLock&) = delete;
    int status() const { return m_rc; }

private:
    int m_fd;
    bool m_active;
    int m_rc = kOk;
};

} // namespace

std::filesystem::path auxPath(const std::filesystem::path& dataPath) {
    std::filesystem::path p = dataPath;
    return p.replace_extension("KDT");
}

int createAuxFile(const std::filesystem::path& path, double created) {
    StoredFile file;
    if (file.open(path, true, true) != kOk || claimShareMode(file.fd(), true, kExclusive) != kOk)
        return kErrAuxCreate;
    AuxHeader h;
    h.created = created;
    char block[kAuxBlockSize];
    encodeAuxHeader(h, block);
    if (file.truncate(0) != kOk || file.write(0, block, sizeof block) != kOk) return kErrAuxCreate;
    return kOk;
}

int AuxFile::open(const std::filesystem::path& path, bool writable, std::int32_t shareMode,
                  std::int32_t version, std::shared_ptr<Cipher> cipher) {
    if (m_file.open(path, writable) != kOk) return kErrAuxRead;
    m_file.setCipher(std::move(cipher));
    if (claimShareMode(m_file.fd(), writable, shareMode) != kOk) return kErrAuxRead;
    char block[kAuxBlockSize];
    if (m_file.read(0, block, sizeof block) != static_cast<std::int64_t>(sizeof block))
        return kErrAuxRead;
    const std::optional<AuxHeader> h = decodeAuxHeader(block);
    if (!h || h->blockCount <= 0) return kErrAuxRead;
    if (h->version != version) return kErrAuxVersion;
    m_header = *h;
    const std::int64_t length = m_file.size();
    if (length < 0) return kErrAuxRead;
    // Opening never changes the file: a short or damaged header is taken as far as the file
    // bears it, and the writes that follow store a corrected header.
    const std::int64_t wanted = blockOffset(m_header.blockCount);
    if (length < wanted) {
        if (!writable) return kErrAuxDamaged;
        m_header.blockCount = static_cast<std::int32_t>(length / kAuxBlockSize);
    }
    if (m_header.freeHead < 0 || m_header.freeHead >= m_header.blockCount) {
        if (!writable) return kErrAuxRead;
        m_header.freeHead = 0;
    }
    if (m_header.secondHead < 0 || m_header.secondHead >= m_header.blockCount) {
        if (!writable) return kErrAuxRead;
        m_header.secondHead = 0;
    }
    return kOk;
}

int AuxFile::readHeader(AuxHeader& header) {
    char block[kAuxBlockSize];
    if (m_file.read(0, block, sizeof block) != static_cast<std::int64_t>(sizeof block))
        return kErrAuxAccess;
    const std::optional<AuxHeader> h = decodeAuxHeader(block);
    if (!h || h->blockCount <= 0) return kErrAuxAccess;
    header = *h;
    return kOk;
}

int AuxFile::writeHeader(const AuxHeader& header) {
    char block[kAuxBlockSize];
    encodeAuxHeader(header, block);
    return m_file.write(0, block, sizeof block) == kOk ? kOk : kErrAuxAccess;
}

std::int32_t AuxFile::usableBlocks(const AuxHeader& header) const {
    const std::int64_t length = m_file.size();
    if (length < 0) return 0;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(header.blockCount, length / kAuxBlockSize));
}

int AuxFile::readFirstBlock(std::int32_t first, AuxHeader& header, std::int32_t& blocks,
                            char* block) {
    if (int rc = readHeader(header); rc != kOk) return rc;
    blocks = usableBlocks(header);
    if (first < 1 || first >= blocks) return kErrAuxAccess;
    if (m_file.read(blockOffset(first), block, kAuxBlockSize) !=
        static_cast<std::int64_t>(kAuxBlockSize))
        return kErrAuxAccess;
    return kOk;
}

int AuxFile::read(std::int32_t first, std::string& out) {
    out.clear();
    if (first == 0) return kOk;
    AuxHeader h;
    std::int32_t blocks = 0;
    char block[kAuxBlockSize];
    if (int rc = readFirstBlock(first, h, blocks, block); rc != kOk) return rc;
    const std::int32_t length = loadInt32(block + 4);
    if (length < 0 ||
        blocksFor(static_cast<std::size_t>(length)) > static_cast<std::size_t>(blocks - 1))
        return kErrAuxAccess;
    out.resize(static_cast<std::size_t>(length));
    std::size_t done = std::min(out.size(), kFirstPayload);
    std::memcpy(out.data(), block + 8, done);
    std::int32_t next = loadInt32(block);
    std::unordered_set<std::int32_t> seen{first};
    while (done < out.size()) {
        if (next < 1 || next >= blocks || !seen.insert(next).second) return kErrAuxAccess;
        if (m_file.read(blockOffset(next), block, sizeof block) !=
            static_cast<std::int64_t>(sizeof block))
            return kErrAuxAccess;
        const std::size_t run = std::min(out.size() - done, kNextPayload);
        std::memcpy(out.data() + done, block + 4, run);
        done += run;
        next = loadInt32(block);
    }
    return kOk;
}

int AuxFile::store(const std::string& data, std::int32_t& first, bool lockFree) {
    first = 0;
    if (data.empty()) return kOk;
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return kErrAuxAccess;
    HeaderLock lock(m_file.fd(), lockFree);
    if (lock.status() != kOk) return lock.status();
    AuxHeader h;
    if (int rc = readHeader(h); rc != kOk) return rc;
    const std::int32_t blocks = usableBlocks(h);
    h.blockCount = blocks;

    // Reused blocks first; a free list that leaves the file or runs into itself is dropped.
    const std::size_t needed = blocksFor(data.size());
    std::vector<std::int32_t> chain;
    std::unordered_set<std::int32_t> taken;
    while (chain.size() < needed && h.freeHead != 0) {
        const std::int32_t b = h.freeHead;
        char next[4];
        if (b < 1 || b >= blocks || !taken.insert(b).second ||
            m_file.read(blockOffset(b), next, 4) != 4) {
            h.freeHead = 0;
            break;
        }
        chain.push_back(b);
        h.freeHead = loadInt32(next);
    }
    while (chain.size() < needed) {
        if (h.blockCount == std::numeric_limits<std::int32_t>::max()) return kErrAuxAccess;
        chain.push_back(h.blockCount++);
    }

    char block[kAuxBlockSize];
    std::size_t done = 0;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        std::memset(block, 0, sizeof block);
        storeInt32(block, i + 1 < chain.size() ? chain[i + 1] : 0);
        std::size_t run;
        if (i == 0) {
            storeInt32(block + 4, static_cast<std::int32_t>(data.size()));
            run = std::min(data.size(), kFirstPayload);
            std::memcpy(block + 8, data.data(), run);
        } else {
            run = std::min(data.size() - done, kNextPayload);
            std::memcpy(block + 4, data.data() + done, run);
        }
        done += run;
        if (m_file.write(blockOffset(chain[i]), block, sizeof block) != kOk) return kErrAuxAccess;
    }
    if (int rc = writeHeader(h); rc != kOk) return rc;
    first = chain.front();
    return kOk;
}

int AuxFile::release(std::int32_t first, bool lockFree) {
    if (first == 0) return kOk;
    HeaderLock lock(m_file.fd(), lockFree);
    if (lock.status() != kOk) return lock.status();
    AuxHeader h;
    std::int32_t blocks = 0;
    char block[kAuxBlockSize];
    if (int rc = readFirstBlock(first, h, blocks, block); rc != kOk) return rc;

    // Collects the chain as far as it is sound; a damaged tail stays where it is.
    const std::int32_t length = loadInt32(block + 4);
    const std::size_t count = length > 0 ? blocksFor(static_cast<std::size_t>(length)) : 1;
    std::vector<std::int32_t> chain{first};
    std::unordered_set<std::int32_t> seen{first};
    std::int32_t next = loadInt32(block);
    while (chain.size() < count && next >= 1 && next < blocks && seen.insert(next).second) {
        chain.push_back(next);
        char link[4];
        if (m_file.read(blockOffset(next), link, 4) != 4) break;
        next = loadInt32(link);
    }
    for (std::int32_t b : chain) {
        char link[4];
        storeInt32(link, h.freeHead);
        if (m_file.write(blockOffset(b), link, 4) != kOk) return kErrAuxAccess;
        h.freeHead = b;
    }
    return writeHeader(h);
}

int AuxFile::reset() {
    AuxHeader h;
    if (int rc = readHeader(h); rc != kOk) h = m_header;
    h.blockCount = 1;
    h.freeHead = 0;
    h.secondHead = 0;
    if (int rc = writeHeader(h); rc != kOk) return rc;
    return m_file.truncate(kAuxBlockSize) == kOk ? kOk : kErrAuxAccess;
}

} // namespace iit::db
