#include "printing/print_template.h"

#include <cstring>
#include <limits>

namespace iit::printing {
namespace {

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void putI32(std::string& out, std::int32_t v) {
    putU32(out, static_cast<std::uint32_t>(v));
}
void putU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

// Reads little-endian values, refusing to go past the end of the bytes.
class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    std::size_t left() const { return m_bytes.size() - m_pos; }
    bool u32(std::uint32_t& v) {
        if (left() < 4) return false;
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(m_bytes[m_pos + static_cast<std::size_t>(i)]);
        m_pos += 4;
        return true;
    }
    bool i32(std::int32_t& v) {
        std::uint32_t u = 0;
        if (!u32(u)) return false;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    bool u16(std::uint16_t& v) {
        if (left() < 2) return false;
        v = static_cast<std::uint16_t>(static_cast<unsigned char>(m_bytes[m_pos]) |
                                       (static_cast<unsigned char>(m_bytes[m_pos + 1]) << 8));
        m_pos += 2;
        return true;
    }
    // A length-prefixed string whose length must fit in the bytes that are left.
    bool sized(std::string& out) {
        std::int32_t n = 0;
        if (!i32(n) || n < 0 || static_cast<std::size_t>(n) > left()) return false;
        out.assign(m_bytes.substr(m_pos, static_cast<std::size_t>(n)));
        m_pos += static_cast<std::size_t>(n);
        return true;
    }
    bool bytes(std::string_view& out, std::size_t n) {
        if (left() < n) return false;
        out = m_bytes.substr(m_pos, n);
        m_pos += n;
        return true;
    }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

// Fixed part of a cell record: format, reserved, colour, size, flags, two lengths.
constexpr std::size_t kCellFixedSize = 4 + 4 + 4 + 2 + 2 + 4 + 4;

std::optional<PrintTemplate> fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return std::nullopt;
}

} // namespace

std::string encodePrintTemplate(const PrintTemplate& t) {
    std::string out(kTemplateMagic);
    putI32(out, t.rows());
    putI32(out, t.columns());
    for (std::int32_t v : t.reserved)
        putI32(out, v);
    for (std::int32_t h : t.rowHeights)
        putI32(out, h);
    for (std::int32_t w : t.columnWidths)
        putI32(out, w);
    for (const TemplateCell& c : t.cells) {
        putU32(out, c.format);
        putI32(out, c.reserved);
        putU32(out, c.colour);
        putU16(out, c.fontSize);
        putU16(out, c.textFlags);
        putI32(out, static_cast<std::int32_t>(c.fontName.size()));
        out += c.fontName.bytes();
        if (c.text.empty()) {
            putI32(out, 0);
        } else {
            putI32(out, static_cast<std::int32_t>(c.text.size() + 1));
            out += c.text.bytes();
            out.push_back('\0');
        }
    }
    for (std::int32_t m : t.page.margins)
        putI32(out, m);
    putI32(out, static_cast<std::int32_t>(t.page.paper));
    putI32(out, static_cast<std::int32_t>(t.page.orientation));
    putI32(out, t.page.copies);
    putI32(out, t.page.scale);
    putI32(out, t.page.headerRows);
    return out;
}

std::optional<PrintTemplate> decodePrintTemplate(std::string_view bytes, std::string* error) {
    Reader in(bytes);
    std::string_view magic;
    if (!in.bytes(magic, kTemplateMagic.size()) || magic != kTemplateMagic)
        return fail(error, "not a print template (no SDTQ mark)");
    std::int32_t rows = 0, columns = 0;
    PrintTemplate t;
    if (!in.i32(rows) || !in.i32(columns) || !in.i32(t.reserved[0]) || !in.i32(t.reserved[1]))
        return fail(error, "the header is cut short");
    if (rows < 0 || columns < 0) return fail(error, "negative row or column count");
    // Every cell takes at least its fixed part: counts the bytes cannot hold are refused
    // before anything is allocated for them.
    const std::uint64_t cellCount =
        static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(columns);
    const std::uint64_t least = 4ull * static_cast<std::uint64_t>(rows) +
                                4ull * static_cast<std::uint64_t>(columns) +
                                cellCount * kCellFixedSize + kPageSettingsSize;
    if (least > in.left()) return fail(error, "the row and column counts do not fit the file");
    t.rowHeights.resize(static_cast<std::size_t>(rows));
    t.columnWidths.resize(static_cast<std::size_t>(columns));
    for (std::int32_t& h : t.rowHeights)
        in.i32(h);
    for (std::int32_t& w : t.columnWidths)
        in.i32(w);
    t.cells.resize(static_cast<std::size_t>(cellCount));
    for (TemplateCell& c : t.cells) {
        std::string font, text;
        if (!in.u32(c.format) || !in.i32(c.reserved) || !in.u32(c.colour) || !in.u16(c.fontSize) ||
            !in.u16(c.textFlags) || !in.sized(font) || !in.sized(text))
            return fail(error, "a cell record is cut short");
        if (!text.empty() && text.back() == '\0') text.pop_back();
        c.fontName = Text::fromBytes(std::move(font));
        c.text = Text::fromBytes(std::move(text));
    }
    for (std::int32_t& m : t.page.margins)
        if (!in.i32(m)) return fail(error, "the page settings are cut short");
    std::int32_t paper = 0, orientation = 0;
    if (!in.i32(paper) || !in.i32(orientation) || !in.i32(t.page.copies) || !in.i32(t.page.scale) ||
        !in.i32(t.page.headerRows))
        return fail(error, "the page settings are cut short");
    t.page.paper = static_cast<Paper>(paper);
    t.page.orientation = static_cast<Orientation>(orientation);
    if (in.left() != 0) return fail(error, "bytes follow the page settings");
    return t;
}

} // namespace iit::printing
