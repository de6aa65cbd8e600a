// A bounded walk over an OLE2 compound file and the BIFF records of its workbook stream.
#include "sheets/biff.h"

#include "base/unicode.h"

#include <algorithm>
#include <cctype>

namespace iit::sheets {
namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::size_t kHeaderFatEntries = 109;

std::uint16_t le16(std::string_view s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                      static_cast<unsigned char>(s[at + 1]) << 8);
}

std::uint32_t le32(std::string_view s, std::size_t at) {
    return static_cast<std::uint32_t>(le16(s, at)) | static_cast<std::uint32_t>(le16(s, at + 2))
                                                         << 16;
}

class Container {
public:
    explicit Container(std::string_view file) : m_file(file) {}

    bool open() {
        if (m_file.size() < 512) return false;
        const std::uint16_t shift = le16(m_file, 30);
        if ((shift != 9 && shift != 12) || le16(m_file, 32) != 6) return false;
        m_sectorSize = std::size_t{1} << shift;
        m_sectors = (m_file.size() + m_sectorSize - 1) / m_sectorSize - 1;
        m_version3 = le16(m_file, 26) == 3;
        m_miniCutoff = le32(m_file, 56);
        // The sectors of the allocation table: 109 in the header, the rest in a chain.
        const std::uint32_t fatCount = le32(m_file, 44);
        if (fatCount > m_sectors) return false;
        std::vector<std::uint32_t> fatSectors;
        for (std::size_t i = 0; i < kHeaderFatEntries && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(le32(m_file, 76 + 4 * i));
        std::uint32_t difat = le32(m_file, 68);
        for (std::size_t hops = 0; fatSectors.size() < fatCount; ++hops) {
            if (hops > m_sectors) return false;
            const std::string_view s = sector(difat);
            if (s.size() < m_sectorSize) return false;
            const std::size_t per = m_sectorSize / 4 - 1;
            for (std::size_t i = 0; i < per && fatSectors.size() < fatCount; ++i)
                fatSectors.push_back(le32(s, 4 * i));
            difat = le32(s, 4 * per);
        }
        for (std::uint32_t fs : fatSectors) {
            const std::string_view s = sector(fs);
            if (s.size() < m_sectorSize) return false;
            for (std::size_t i = 0; i < m_sectorSize / 4; ++i)
                m_fat.push_back(le32(s, 4 * i));
        }
        return true;
    }

    // A whole stream from its first sector through the allocation table, at most `size` bytes.
    std::optional<std::string> chain(std::uint32_t start, std::uint64_t size) const {
        std::string out;
        std::size_t hops = 0;
        for (std::uint32_t s = start; s != kEndOfChain && out.size() < size;) {
            if (s >= m_fat.size() || ++hops > m_fat.size()) return std::nullopt;
            out.append(sector(s));
            s = m_fat[s];
        }
        if (out.size() > size) out.resize(static_cast<std::size_t>(size));
        return out;
    }

    // The named stream of the root storage.
    std::optional<std::string> stream(std::string_view a, std::string_view b) const {
        const std::optional<std::string> dir = chain(le32(m_file, 48), m_file.size());
        if (!dir || dir->size() < 128) return std::nullopt;
        const std::string_view d = *dir;
        // Every entry's name fits its 64 bytes in whole UTF-16 units: FreeXL converts the names
        // with the length the file states, reading past them otherwise.
        for (std::size_t at = 0; at + 128 <= d.size(); at += 128) {
            const std::uint16_t nameBytes = le16(d, at + 64);
            if (nameBytes > 64 || nameBytes % 2 != 0) return std::nullopt;
        }
        for (std::size_t at = 0; at + 128 <= d.size(); at += 128) {
            if (d[at + 66] != 2) continue; // a stream
            const std::size_t nameBytes = std::min<std::size_t>(le16(d, at + 64), 64);
            std::string name;
            for (std::size_t i = 0; i + 1 < nameBytes; i += 2)
                if (d[at + i] != 0)
                    name.push_back(
                        static_cast<char>(std::tolower(static_cast<unsigned char>(d[at + i]))));
            if (name != a && name != b) continue;
            const std::uint32_t start = le32(d, at + 116);
            const std::uint64_t size =
                m_version3
                    ? le32(d, at + 120)
                    : le32(d, at + 120) | static_cast<std::uint64_t>(le32(d, at + 124)) << 32;
            if (size > m_file.size()) return std::nullopt;
            if (size >= m_miniCutoff) return chain(start, size);
            return miniStream(d, start, size);
        }
        return std::nullopt;
    }

private:
    std::string_view sector(std::uint32_t n) const {
        if (n >= m_sectors) return {};
        return m_file.substr((static_cast<std::size_t>(n) + 1) * m_sectorSize, m_sectorSize);
    }

    std::optional<std::string> miniStream(std::string_view dir, std::uint32_t start,
                                          std::uint64_t size) const {
        const std::optional<std::string> mini = chain(le32(dir, 116), m_file.size());
        const std::optional<std::string> miniFat = chain(le32(m_file, 60), m_file.size());
        if (!mini || !miniFat) return std::nullopt;
        const std::size_t entries = miniFat->size() / 4;
        std::string out;
        for (std::uint32_t s = start; s != kEndOfChain && out.size() < size;) {
            if (s >= entries || static_cast<std::size_t>(s) * 64 + 64 > mini->size())
                return std::nullopt;
            out.append(*mini, static_cast<std::size_t>(s) * 64, 64);
            s = le32(*miniFat, 4 * static_cast<std::size_t>(s));
        }
        if (out.size() > size) out.resize(static_cast<std::size_t>(size));
        return out;
    }

    std::string_view m_file;
    std::size_t m_sectorSize = 512;
    std::size_t m_sectors = 0;
    bool m_version3 = true;
    std::uint32_t m_miniCutoff = 4096;
    std::vector<std::uint32_t> m_fat;
};

constexpr std::uint16_t kBof = 0x0809;
constexpr std::uint16_t kEof = 0x000A;
constexpr std::uint16_t kBoundSheet = 0x0085;
constexpr std::uint16_t kFormula = 0x0006;
constexpr std::uint16_t kBoolErr = 0x0205;

// A sheet's name from its BOUNDSHEET record: BIFF8 writes Latin-1 or UTF-16LE characters.
std::string sheetName(std::string_view data, bool biff8) {
    if (!biff8 || data.size() < 8) return {};
    const std::size_t count = static_cast<unsigned char>(data[6]);
    const bool wide = (data[7] & 1) != 0;
    const std::string_view chars = data.substr(8, wide ? 2 * count : count);
    if (wide) {
        Outcome<std::string> utf8 = toUtf8From(chars, "UTF-16LE");
        return utf8 ? std::move(*utf8) : std::string();
    }
    Outcome<std::string> utf8 = toUtf8From(chars, "ISO-8859-1");
    return utf8 ? std::move(*utf8) : std::string();
}

} // namespace

std::optional<BiffWorkbook> openBiff(std::string_view file) {
    Container container(file);
    if (!container.open()) return std::nullopt;
    std::optional<std::string> stream = container.stream("workbook", "book");
    if (!stream) return std::nullopt;
    BiffWorkbook workbook;
    workbook.stream = std::move(*stream);
    const std::string_view s = workbook.stream;
    bool biff8 = false;
    for (std::size_t pos = 0; pos + 4 <= s.size();) {
        const std::uint16_t type = le16(s, pos);
        const std::size_t length = le16(s, pos + 2);
        const std::string_view data = s.substr(pos + 4, length);
        if (data.size() < length) break;
        if (type == kBof && pos == 0 && length >= 2) biff8 = le16(data, 0) == 0x0600;
        if (type == kEof) break; // the end of the workbook globals
        if (type == kBoundSheet && length >= 6) {
            BiffSheet sheet;
            sheet.offset = le32(data, 0);
            sheet.visible = data[4] == 0;
            sheet.worksheet = data[5] == 0;
            sheet.name = sheetName(data, biff8);
            workbook.sheets.push_back(std::move(sheet));
        }
        pos += 4 + length;
    }
    return workbook;
}

std::vector<BiffCell> specialCells(const BiffWorkbook& workbook, const BiffSheet& sheet) {
    std::vector<BiffCell> cells;
    const std::string_view s = workbook.stream;
    int depth = 0;
    for (std::size_t pos = sheet.offset; pos + 4 <= s.size();) {
        const std::uint16_t type = le16(s, pos);
        const std::size_t length = le16(s, pos + 2);
        const std::string_view data = s.substr(pos + 4, length);
        if (data.size() < length) break;
        pos += 4 + length;
        if (type == kBof) {
            ++depth;
        } else if (type == kEof) {
            if (--depth <= 0) break; // embedded charts have BOF and EOF of their own
        } else if (depth == 0) {
            break; // the offset did not lead to a BOF record
        } else if (depth == 1 && type == kFormula && length >= 4) {
            cells.push_back({le16(data, 0), le16(data, 2), BiffCell::Kind::Formula, 0});
        } else if (depth == 1 && type == kBoolErr && length >= 8) {
            const bool error = data[7] != 0;
            cells.push_back({le16(data, 0), le16(data, 2),
                             error ? BiffCell::Kind::Error : BiffCell::Kind::Boolean,
                             static_cast<std::uint8_t>(data[6])});
        }
    }
    std::sort(cells.begin(), cells.end(), [](const BiffCell& a, const BiffCell& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    return cells;
}

std::string_view errorText(std::uint8_t code) {
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    default:
        return "#N/A";
    }
}

} // namespace iit::sheets
