#pragma once
// Zip archives and small .xlsx packages made in memory (minizip), for the sheets tests and fuzz
// targets: ordinary ones, and hostile ones whose stated sizes lie.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include <zip.h>
#include <zlib.h>

namespace iit::testing {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;
    // When set, the entry is written raw-deflated and the archive states this uncompressed size.
    long long statedSize = -1;
};

namespace zipdetail {

struct Buffer {
    std::string bytes;
    std::size_t pos = 0;
};

inline voidpf ZCALLBACK open(voidpf opaque, const void*, int) {
    return opaque;
}
inline uLong ZCALLBACK read(voidpf, voidpf stream, void* buf, uLong size) {
    auto* b = static_cast<Buffer*>(stream);
    const std::size_t n =
        std::min<std::size_t>(size, b->bytes.size() - std::min(b->pos, b->bytes.size()));
    std::memcpy(buf, b->bytes.data() + b->pos, n);
    b->pos += n;
    return static_cast<uLong>(n);
}
inline uLong ZCALLBACK write(voidpf, voidpf stream, const void* buf, uLong size) {
    auto* b = static_cast<Buffer*>(stream);
    if (b->pos + size > b->bytes.size()) b->bytes.resize(b->pos + size);
    std::memcpy(b->bytes.data() + b->pos, buf, size);
    b->pos += size;
    return size;
}
inline ZPOS64_T ZCALLBACK tell(voidpf, voidpf stream) {
    return static_cast<Buffer*>(stream)->pos;
}
inline long ZCALLBACK seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* b = static_cast<Buffer*>(stream);
    const std::size_t base = origin == ZLIB_FILEFUNC_SEEK_CUR   ? b->pos
                             : origin == ZLIB_FILEFUNC_SEEK_END ? b->bytes.size()
                                                                : 0;
    b->pos = base + offset;
    return 0;
}
inline int ZCALLBACK close(voidpf, voidpf) {
    return 0;
}
inline int ZCALLBACK error(voidpf, voidpf) {
    return 0;
}

inline std::string rawDeflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace zipdetail

inline std::string makeZip(const std::vector<ZipEntry>& entries) {
    zipdetail::Buffer buffer;
    zlib_filefunc64_def io{};
    io.zopen64_file = zipdetail::open;
    io.zread_file = zipdetail::read;
    io.zwrite_file = zipdetail::write;
    io.ztell64_file = zipdetail::tell;
    io.zseek64_file = zipdetail::seek;
    io.zclose_file = zipdetail::close;
    io.zerror_file = zipdetail::error;
    io.opaque = &buffer;
    zipFile zip = zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &io);
    for (const ZipEntry& e : entries) {
        zip_fileinfo info{};
        if (e.statedSize >= 0) {
            const std::string raw = zipdetail::rawDeflate(e.data);
            zipOpenNewFileInZip2(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                 Z_DEFLATED, 9, 1);
            zipWriteInFileInZip(zip, raw.data(), static_cast<unsigned>(raw.size()));
            zipCloseFileInZipRaw(zip, static_cast<uLong>(e.statedSize),
                                 crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                       static_cast<uInt>(e.data.size())));
            continue;
        }
        zipOpenNewFileInZip(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                            e.deflate ? Z_DEFLATED : 0, e.deflate ? Z_DEFAULT_COMPRESSION : 0);
        zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
    return buffer.bytes;
}

// The parts of a small .xlsx workbook; the empty ones are left out of the package.
struct XlsxParts {
    std::string sheet;         // the worksheet's XML (xl/worksheets/sheet1.xml)
    std::string sharedStrings; // xl/sharedStrings.xml
    std::string styles;        // xl/styles.xml
    std::string workbook;      // xl/workbook.xml; default: one sheet "Sheet1"
    std::string workbookRels;  // xl/_rels/workbook.xml.rels; default: sheet1, strings, styles
};

inline const char* kSheetNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

inline std::string worksheetXml(const std::string& sheetData) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"") + kSheetNs +
           "\" xmlns:r=\"" + kRelNs + "\"><sheetData>" + sheetData + "</sheetData></worksheet>";
}

inline std::string sharedStringsXml(const std::vector<std::string>& items) {
    std::string xml =
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst xmlns=\"") + kSheetNs + "\">";
    for (const std::string& s : items)
        xml += "<si>" + s + "</si>";
    return xml + "</sst>";
}

inline std::string makeXlsx(const XlsxParts& p) {
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::vector<ZipEntry> entries;
    entries.push_back({"[Content_Types].xml",
                       "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/"
                       "package/2006/content-types\"/>"});
    entries.push_back(
        {"_rels/.rels", "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas."
                        "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
                        "Type=\"" +
                            rel + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
    entries.push_back({"xl/workbook.xml",
                       !p.workbook.empty()
                           ? p.workbook
                           : std::string("<?xml version=\"1.0\"?><workbook xmlns=\"") + kSheetNs +
                                 "\" xmlns:r=\"" + kRelNs +
                                 "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                 "</sheets></workbook>"});
    entries.push_back({"xl/_rels/workbook.xml.rels",
                       !p.workbookRels.empty()
                           ? p.workbookRels
                           : "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas."
                             "openxmlformats.org/package/2006/relationships\">"
                             "<Relationship Id=\"rId1\" Type=\"" +
                                 rel +
                                 "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                                 "<Relationship Id=\"rId2\" Type=\"" +
                                 rel +
                                 "sharedStrings\" Target=\"sharedStrings.xml\"/>"
                                 "<Relationship Id=\"rId3\" Type=\"" +
                                 rel + "styles\" Target=\"styles.xml\"/></Relationships>"});
    entries.push_back({"xl/worksheets/sheet1.xml", p.sheet});
    if (!p.sharedStrings.empty()) entries.push_back({"xl/sharedStrings.xml", p.sharedStrings});
    if (!p.styles.empty()) entries.push_back({"xl/styles.xml", p.styles});
    return makeZip(entries);
}

} // namespace iit::testing
