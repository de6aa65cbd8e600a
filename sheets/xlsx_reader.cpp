// The .xlsx reader: the package's relationships lead to the workbook and from it to the sheet,
// the shared strings and the styles; the sheet's XML is parsed as it is inflated.
#include "sheets/builder.h"
#include "sheets/readers.h"
#include "sheets/xlsx_styles.h"
#include "sheets/xml_parser.h"
#include "sheets/zip_archive.h"

#include <charconv>
#include <cmath>
#include <map>

namespace iit::sheets {
namespace {

// More shared strings than cells a sheet may store is a hostile file.
constexpr std::size_t kMaxSharedStrings = kMaxCellSlots;

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The part a relationship's target names, from the folder of the part that holds it.
std::string resolvePart(std::string_view folder, std::string_view target) {
    std::string joined = !target.empty() && target.front() == '/'
                             ? std::string(target.substr(1))
                             : std::string(folder) + std::string(target);
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string segment = joined.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& s : segments)
        out += (out.empty() ? "" : "/") + s;
    return out;
}

std::string folderOf(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string relsOf(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return folderOf(part) + "_rels/" + std::string(name) + ".rels";
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The UTF-16 unit of an escape "_xHHHH_" at s[i], or -1.
long escapeAt(std::string_view s, std::size_t i) {
    if (i + 7 > s.size() || s[i] != '_' || s[i + 1] != 'x' || s[i + 6] != '_') return -1;
    unsigned v = 0;
    const auto r = std::from_chars(s.data() + i + 2, s.data() + i + 6, v, 16);
    return r.ec == std::errc() && r.ptr == s.data() + i + 6 ? static_cast<long>(v) : -1;
}

// Spreadsheet strings write characters XML cannot hold (CR, other controls) as "_xHHHH_".
// Controls other than TAB, LF and CR are dropped, as everywhere in the sheets.
std::string decodeEscapes(std::string text) {
    if (text.find("_x") == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        long unit = escapeAt(text, i);
        if (unit < 0) {
            out.push_back(text[i++]);
            continue;
        }
        i += 7;
        char32_t cp = static_cast<char32_t>(unit);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const long low = escapeAt(text, i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
                i += 7;
            } else {
                continue; // a lone surrogate is no character
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            continue;
        }
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0x7F) continue;
        appendUtf8(out, cp);
    }
    return out;
}

// The relationships of a part: Id to (type, target), in the order they are listed.
struct Rels {
    struct Rel {
        std::string type, target;
    };
    std::map<std::string, Rel> rels;
    std::vector<std::string> order;
};

class RelsReader : public XmlReader {
public:
    Rels data;

protected:
    void onStart(std::string_view name, const char** a) override {
        if (name != "Relationship") return;
        const auto id = attribute(a, "Id");
        const auto type = attribute(a, "Type");
        const auto target = attribute(a, "Target");
        const auto mode = attribute(a, "TargetMode");
        if (!id || !type || !target || (mode && *mode == "External")) return;
        if (data.rels.emplace(std::string(*id), Rels::Rel{std::string(*type), std::string(*target)})
                .second)
            data.order.emplace_back(*id);
    }
    void onEnd(std::string_view) override {}
};

class WorkbookReader : public XmlReader {
public:
    struct Entry {
        std::string name, rel;
        bool visible = true;
    };
    std::vector<Entry> sheets;
    bool date1904 = false;

protected:
    void onStart(std::string_view name, const char** a) override {
        if (name == "workbookPr") {
            const auto v = attribute(a, "date1904");
            date1904 = v && (*v == "1" || *v == "true");
        } else if (name == "sheet") {
            if (sheets.size() >= 4096) return;
            const auto n = attribute(a, "name");
            const auto rel = attribute(a, "id");
            const auto state = attribute(a, "state");
            if (!n || !rel) return;
            sheets.push_back({std::string(*n), std::string(*rel), !state || *state == "visible"});
        }
    }
    void onEnd(std::string_view) override {}
};

class SharedStringsReader : public XmlReader {
public:
    std::string pool;
    std::vector<std::uint32_t> ends; // end of each string in the pool

    std::string_view at(std::size_t i) const {
        const std::uint32_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(pool).substr(begin, ends[i] - begin);
    }

protected:
    void onStart(std::string_view name, const char**) override {
        if (name == "si") {
            m_inItem = true;
            m_text.clear();
        } else if (name == "rPh") {
            m_phonetic = true;
        } else if (name == "t" && m_inItem && !m_phonetic) {
            m_inText = true;
            wantText(true);
        }
    }
    void onEnd(std::string_view name) override {
        if (name == "t") {
            m_inText = false;
            wantText(false);
        } else if (name == "rPh") {
            m_phonetic = false;
        } else if (name == "si" && m_inItem) {
            m_inItem = false;
            if (ends.size() >= kMaxSharedStrings) {
                stopWith(tooLarge("共享字符串过多"));
                return;
            }
            pool += decodeEscapes(std::move(m_text));
            ends.push_back(static_cast<std::uint32_t>(pool.size()));
        }
    }
    void onText(std::string_view text) override {
        if (!m_inText) return;
        if (m_text.size() + text.size() > kMaxCellBytes) {
            stopWith(tooLarge("单元格的文字过长"));
            return;
        }
        m_text.append(text);
    }

private:
    std::string m_text;
    bool m_inItem = false, m_inText = false, m_phonetic = false;
};

// "B12" to column 1 and row 12; false for anything else, or a cell past XFD1048576.
bool parseReference(std::string_view ref, std::size_t& column, std::size_t& row) {
    std::size_t i = 0, col = 0;
    while (i < ref.size() && i < 4 && ref[i] >= 'A' && ref[i] <= 'Z') {
        col = col * 26 + static_cast<std::size_t>(ref[i] - 'A' + 1);
        ++i;
    }
    if (i == 0 || col > kMaxColumns) return false;
    std::size_t r = 0;
    const auto res = std::from_chars(ref.data() + i, ref.data() + ref.size(), r);
    if (res.ec != std::errc() || res.ptr != ref.data() + ref.size() || r < 1 || r > kMaxRows)
        return false;
    column = col - 1;
    row = r;
    return true;
}

bool parseNumber(std::string_view text, double& value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(value);
}

class SheetReader : public XmlReader {
public:
    SheetReader(SheetBuilder& builder, const SharedStringsReader& strings,
                const std::vector<DateShape>& styles, bool date1904)
        : m_builder(builder), m_strings(strings), m_styles(styles), m_date1904(date1904) {}

protected:
    void onStart(std::string_view name, const char** a) override {
        if (name == "sheetData") {
            m_inData = true;
        } else if (!m_inData) {
            return;
        } else if (name == "row") {
            startRow(a);
        } else if (name == "c" && m_inRow) {
            startCell(a);
        } else if (!m_inCell) {
            return;
        } else if (name == "v") {
            m_inValue = true;
            m_hasValue = true;
            wantText(true);
        } else if (name == "f") {
            m_formula = true;
        } else if (name == "is") {
            m_inInline = true;
        } else if (name == "rPh") {
            m_phonetic = true;
        } else if (name == "t" && m_inInline && !m_phonetic) {
            m_inText = true;
            wantText(true);
        }
    }

    void onEnd(std::string_view name) override {
        if (name == "v") {
            m_inValue = false;
            wantText(false);
        } else if (name == "t") {
            m_inText = false;
            wantText(false);
        } else if (name == "rPh") {
            m_phonetic = false;
        } else if (name == "is") {
            m_inInline = false;
        } else if (name == "c" && m_inCell) {
            m_inCell = false;
            endCell();
        } else if (name == "row" && m_inRow) {
            m_inRow = false;
            m_builder.endRow();
        } else if (name == "sheetData") {
            stopHere();
        }
    }

    void onText(std::string_view text) override {
        std::string* into = m_inValue ? &m_value : m_inText ? &m_inline : nullptr;
        if (!into) return;
        if (into->size() + text.size() > kMaxCellBytes) {
            stopWith(tooLarge("单元格的文字过长"));
            return;
        }
        into->append(text);
    }

private:
    void startRow(const char** a) {
        std::size_t number = m_lastRow + 1;
        if (const auto r = attribute(a, "r")) {
            const auto res = std::from_chars(r->data(), r->data() + r->size(), number);
            if (res.ec != std::errc() || res.ptr != r->data() + r->size()) number = 0;
        }
        if (number < 1 || number > kMaxRows) {
            stopWith(fail(sysText("表格文件已损坏：行号无效")));
            return;
        }
        if (number <= m_lastRow) {
            stopWith(fail(sysText("表格文件已损坏：行的顺序错乱")));
            return;
        }
        m_lastRow = number;
        m_inRow = true;
        m_nextColumn = 0;
        m_builder.beginRow(number);
    }

    void startCell(const char** a) {
        m_inCell = true;
        m_column = m_nextColumn;
        if (const auto r = attribute(a, "r")) {
            std::size_t row = 0;
            if (!parseReference(*r, m_column, row)) {
                stopWith(fail(sysText("表格文件已损坏：单元格位置无效 ") +
                              Text::fromUtf8(r->substr(0, 32))));
                return;
            }
        }
        if (m_column >= kMaxColumns) {
            stopWith(tooLarge("列号超过 XFD"));
            return;
        }
        m_nextColumn = m_column + 1;
        const auto t = attribute(a, "t");
        m_type = t ? std::string(*t) : std::string();
        m_style = 0;
        if (const auto s = attribute(a, "s")) {
            const auto res = std::from_chars(s->data(), s->data() + s->size(), m_style);
            if (res.ec != std::errc()) m_style = 0;
        }
        m_value.clear();
        m_inline.clear();
        m_hasValue = m_formula = m_inValue = m_inInline = m_inText = m_phonetic = false;
    }

    void problem(std::string_view message) { m_builder.problem(m_column, message); }

    void endCell() {
        Cell cell;
        // A formula without its result: no <v>, or an empty one where the result is no string
        // (as programs that never calculate write it).
        if (m_formula && (!m_hasValue || (m_value.empty() && m_type != "str"))) {
            cell.kind = Cell::Kind::Error;
            cell.text = "#N/A";
            problem("公式没有保存计算结果，请在表格程序中重新计算并保存");
        } else if (m_type == "s") {
            if (!m_hasValue) return;
            std::size_t index = 0;
            const auto r = std::from_chars(m_value.data(), m_value.data() + m_value.size(), index);
            if (r.ec != std::errc() || r.ptr != m_value.data() + m_value.size() ||
                index >= m_strings.ends.size()) {
                stopWith(fail(sysText("表格文件已损坏：共享字符串的编号超出范围（单元格 ") +
                              Text::fromUtf8(cellName(m_column, m_lastRow)) + sysText("）")));
                return;
            }
            cell.text = m_strings.at(index);
            cell.kind = cell.text.empty() ? Cell::Kind::Empty : Cell::Kind::Text;
        } else if (m_type == "inlineStr" || m_type == "str") {
            cell.text = decodeEscapes(m_type == "str" ? std::move(m_value) : std::move(m_inline));
            cell.kind = cell.text.empty() ? Cell::Kind::Empty : Cell::Kind::Text;
        } else if (m_type == "b") {
            if (!m_hasValue) return;
            const bool v = m_value == "1" || m_value == "true";
            cell.kind = Cell::Kind::Boolean;
            cell.text = v ? "TRUE" : "FALSE";
            cell.number = v ? 1 : 0;
        } else if (m_type == "e") {
            cell.kind = Cell::Kind::Error;
            cell.text = m_value.empty() ? "#N/A" : m_value;
            problem("单元格是错误值 " + cell.text);
        } else if (m_type == "d") {
            if (m_value.empty()) return;
            cell.kind = Cell::Kind::Date;
            const std::size_t t = m_value.find('T');
            cell.text = m_value.substr(0, t);
            if (t != std::string::npos) {
                const std::string time = m_value.substr(t + 1, 8);
                if (time != "00:00:00") cell.text += " " + time;
            }
        } else {
            const std::size_t first = m_value.find_first_not_of(' ');
            if (!m_hasValue || first == std::string::npos) return;
            const std::string text =
                m_value.substr(first, m_value.find_last_not_of(' ') + 1 - first);
            double v = 0;
            if (!parseNumber(text, v)) {
                cell.kind = Cell::Kind::Error;
                cell.text = text.substr(0, 64);
                problem("单元格的数值无效：" + cell.text);
            } else {
                const DateShape shape =
                    m_style < m_styles.size() ? m_styles[m_style] : DateShape::None;
                std::optional<std::string> date;
                if (shape != DateShape::None) date = serialDateText(v, shape, m_date1904);
                cell.kind = date ? Cell::Kind::Date : Cell::Kind::Number;
                if (date) {
                    cell.text = std::move(*date);
                } else if (!isLongOrScientific(text) ||
                           std::all_of(text.begin(), text.end(),
                                       [](char c) { return c >= '0' && c <= '9'; })) {
                    // Within 15 digits the file's text is what the spreadsheet shows; an
                    // integer of more digits than a double's is kept whole.
                    cell.text = text;
                } else {
                    cell.text = generalText(v);
                }
                cell.number = v;
            }
        }
        Outcome<void> set = m_builder.setCell(m_column, std::move(cell));
        if (!set) stopWith(set.problem());
    }

    SheetBuilder& m_builder;
    const SharedStringsReader& m_strings;
    const std::vector<DateShape>& m_styles;
    bool m_date1904;

    bool m_inData = false, m_inRow = false, m_inCell = false;
    std::size_t m_lastRow = 0, m_nextColumn = 0, m_column = 0, m_style = 0;
    std::string m_type, m_value, m_inline;
    bool m_hasValue = false, m_formula = false, m_inValue = false, m_inInline = false;
    bool m_inText = false, m_phonetic = false;
};

Outcome<Rels> readRels(ZipArchive& zip, const std::string& part) {
    RelsReader reader;
    if (!zip.contains(part)) return Rels();
    Outcome<void> r = reader.parse(zip, part);
    if (!r) return r.problem();
    return std::move(reader.data);
}

// The target of the first relationship whose type ends with `kind`, resolved from `folder`.
std::string targetOf(const Rels& rels, std::string_view kind, std::string_view folder) {
    for (const std::string& id : rels.order) {
        const Rels::Rel& rel = rels.rels.at(id);
        if (endsWith(rel.type, kind)) return resolvePart(folder, rel.target);
    }
    return {};
}

} // namespace

Outcome<Sheet> readXlsx(std::string_view bytes, const ReadOptions& options) {
    auto opened = ZipArchive::open(bytes);
    if (!opened) return opened.problem();
    ZipArchive& zip = **opened;
    if (zip.contains("mimetype") && zip.contains("content.xml"))
        return unreadableFormat(Format::Ods);

    Outcome<Rels> packageRels = readRels(zip, "_rels/.rels");
    if (!packageRels) return packageRels.problem();
    std::string workbookPart = targetOf(*packageRels, "/officeDocument", "");
    if (workbookPart.empty()) workbookPart = "xl/workbook.xml";
    if (!zip.contains(workbookPart)) return unreadableFormat(Format::Xlsx);

    WorkbookReader workbook;
    if (Outcome<void> r = workbook.parse(zip, workbookPart); !r) return r.problem();
    Outcome<Rels> rels = readRels(zip, relsOf(workbookPart));
    if (!rels) return rels.problem();
    const std::string folder = folderOf(workbookPart);

    // The sheet: the one named, else the first visible worksheet (the first one at all when
    // every worksheet is hidden).
    const WorkbookReader::Entry* chosen = nullptr;
    std::string sheetPart;
    for (int pass = 0; pass < 2 && !chosen; ++pass) {
        for (const WorkbookReader::Entry& entry : workbook.sheets) {
            const auto rel = rels->rels.find(entry.rel);
            if (rel == rels->rels.end() || !endsWith(rel->second.type, "/worksheet")) continue;
            if (!options.sheetName.empty() ? entry.name != options.sheetName
                                           : pass == 0 && !entry.visible)
                continue;
            chosen = &entry;
            sheetPart = resolvePart(folder, rel->second.target);
            break;
        }
    }
    if (!chosen) return noSuchSheet(options.sheetName);
    if (!zip.contains(sheetPart)) return fail(sysText("表格文件不完整：缺少工作表的内容"));

    SharedStringsReader strings;
    std::string stringsPart = targetOf(*rels, "/sharedStrings", folder);
    if (!stringsPart.empty() && zip.contains(stringsPart)) {
        Outcome<void> r = strings.parse(zip, stringsPart);
        if (!r) return r.problem();
    }
    std::vector<DateShape> styles;
    const std::string stylesPart = targetOf(*rels, "/styles", folder);
    if (!stylesPart.empty() && zip.contains(stylesPart)) {
        Outcome<std::vector<DateShape>> s = readStyles(zip, stylesPart);
        if (!s) return s.problem();
        styles = std::move(*s);
    }

    SheetBuilder builder(options);
    SheetReader reader(builder, strings, styles, workbook.date1904);
    Outcome<void> r = reader.parse(zip, sheetPart);
    if (!r) return r.problem();
    return builder.finish(chosen->name);
}

} // namespace iit::sheets
