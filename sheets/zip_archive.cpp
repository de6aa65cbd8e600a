// The zip archive read from memory: minizip with an in-memory file of our own.
#include "sheets/zip_archive.h"

#include "sheets/builder.h"

#include <algorithm>
#include <cstring>
#include <unzip.h>

namespace iit::sheets {

// The archive's bytes as minizip's file: reads and seeks within them, never writes.
struct ZipArchive::Memory {
    std::string_view bytes;
    std::uint64_t pos = 0;
};

namespace {

voidpf ZCALLBACK memOpen(voidpf opaque, const void*, int mode) {
    return (mode & ZLIB_FILEFUNC_MODE_WRITE) ? nullptr : opaque;
}

template <typename M> uLong ZCALLBACK memRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* m = static_cast<M*>(stream);
    if (m->pos >= m->bytes.size()) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(size, m->bytes.size() - m->pos);
    std::memcpy(buf, m->bytes.data() + m->pos, n);
    m->pos += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK memWrite(voidpf, voidpf, const void*, uLong) {
    return 0;
}

template <typename M> ZPOS64_T ZCALLBACK memTell(voidpf, voidpf stream) {
    return static_cast<M*>(stream)->pos;
}

template <typename M> long ZCALLBACK memSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* m = static_cast<M*>(stream);
    std::uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        base = 0;
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        base = m->pos;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        base = m->bytes.size();
        break;
    default:
        return -1;
    }
    if (offset > m->bytes.size() || base + offset > m->bytes.size()) return -1;
    m->pos = base + offset;
    return 0;
}

int ZCALLBACK memClose(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK memError(voidpf, voidpf) {
    return 0;
}

std::string lowerAscii(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!out.empty() && out.front() == '/') out.erase(0, 1);
    return out;
}

Problem damaged() {
    return fail(sysText("表格文件不完整或已损坏（不是有效的 .xlsx 文件）"));
}

Problem bomb() {
    return tooLarge("压缩的内容展开后过大");
}

} // namespace

Outcome<std::unique_ptr<ZipArchive>> ZipArchive::open(std::string_view bytes) {
    std::unique_ptr<ZipArchive> zip(new ZipArchive());
    zip->m_memory = std::make_unique<Memory>();
    zip->m_memory->bytes = bytes;
    zip->m_size = bytes.size();
    zlib_filefunc64_def io{};
    io.zopen64_file = memOpen;
    io.zread_file = memRead<Memory>;
    io.zwrite_file = memWrite;
    io.ztell64_file = memTell<Memory>;
    io.zseek64_file = memSeek<Memory>;
    io.zclose_file = memClose;
    io.zerror_file = memError;
    io.opaque = zip->m_memory.get();
    zip->m_handle = unzOpen2_64("", &io);
    if (!zip->m_handle) return damaged();

    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip->m_handle, &global) != UNZ_OK) return damaged();
    if (global.number_entry > kMaxEntries) return tooLarge("压缩包中的文件过多");
    for (int r = unzGoToFirstFile(zip->m_handle); r != UNZ_END_OF_LIST_OF_FILE;
         r = unzGoToNextFile(zip->m_handle)) {
        if (r != UNZ_OK) return damaged();
        if (zip->m_entries.size() >= kMaxEntries) return tooLarge("压缩包中的文件过多");
        unz_file_info64 info{};
        char name[1024];
        if (unzGetCurrentFileInfo64(zip->m_handle, &info, name, sizeof name, nullptr, 0, nullptr,
                                    0) != UNZ_OK)
            return damaged();
        if (info.size_filename >= sizeof name) continue; // no part of a workbook has such a name
        unz64_file_pos pos{};
        if (unzGetFilePos64(zip->m_handle, &pos) != UNZ_OK) return damaged();
        Entry entry;
        entry.offset = pos.pos_in_zip_directory;
        entry.number = pos.num_of_file;
        entry.compressed = info.compressed_size;
        // The first of two entries of the same name is the one read.
        zip->m_entries.emplace(lowerAscii(std::string_view(name, info.size_filename)), entry);
    }
    return zip;
}

ZipArchive::~ZipArchive() {
    if (m_handle) unzClose(m_handle);
}

bool ZipArchive::contains(std::string_view name) const {
    return m_entries.count(lowerAscii(name)) > 0;
}

Outcome<void> ZipArchive::read(std::string_view name, const Sink& sink) {
    const auto it = m_entries.find(lowerAscii(name));
    if (it == m_entries.end()) return damaged();
    unz64_file_pos pos{it->second.offset, it->second.number};
    if (unzGoToFilePos64(m_handle, &pos) != UNZ_OK) return damaged();
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(m_handle, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return damaged();
    if (info.flag & 1) return fail(sysText("表格文件中有加密的内容，无法读取"));
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return fail(sysText("表格文件使用了不支持的压缩方法，无法读取"));
    // What the archive states is checked against what it can hold; what is inflated is counted.
    if (info.compressed_size > m_size) return damaged();
    if (info.uncompressed_size > kMaxInflatedBytes) return bomb();
    if (unzOpenCurrentFile(m_handle) != UNZ_OK) return damaged();
    std::uint64_t inflated = 0;
    bool stopped = false;
    std::string buffer(64 * 1024, '\0');
    for (;;) {
        const int n =
            unzReadCurrentFile(m_handle, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n < 0) {
            unzCloseCurrentFile(m_handle);
            return damaged();
        }
        if (n == 0) break;
        inflated += static_cast<std::uint64_t>(n);
        m_inflated += static_cast<std::uint64_t>(n);
        if (m_inflated > kMaxInflatedBytes ||
            (inflated > kRatioFloor &&
             inflated / kMaxRatio > std::max<std::uint64_t>(info.compressed_size, 1))) {
            unzCloseCurrentFile(m_handle);
            return bomb();
        }
        if (!sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            stopped = true;
            break;
        }
    }
    // The checksum is known only when the whole entry was read.
    const int closed = unzCloseCurrentFile(m_handle);
    if (!stopped && closed != UNZ_OK) return damaged();
    return {};
}

} // namespace iit::sheets
