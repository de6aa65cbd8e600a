#include "base/config.h"

#include "base/cell_text.h"

#include "base/files.h"

#include <string>
#include <string_view>
#include <vector>

namespace iit {
namespace {

std::string_view skipLeadingBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    return s;
}

std::string_view trimBlanks(std::string_view s) {
    s = skipLeadingBlanks(s);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

// Case-insensitive for ASCII letters; other characters compare as they are, so no byte
// inside one is ever folded.
bool equalNames(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t n = charLength(a, i);
        if (n != 1) {
            if (a.substr(i, n) != b.substr(i, n)) return false;
            i += n;
            continue;
        }
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
        ++i;
    }
    return true;
}

struct Line {
    std::string_view raw;
    enum { Other, Section, Entry } kind = Other;
    std::string_view name; // section name or key
    std::string_view value;
};

Line classify(std::string_view raw) {
    Line line;
    line.raw = raw;
    const std::string_view t = trimBlanks(raw);
    if (t.size() >= 2 && t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close != std::string_view::npos) {
            line.kind = Line::Section;
            line.name = trimBlanks(t.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos || eq == 0) return line;
    line.kind = Line::Entry;
    line.name = trimBlanks(t.substr(0, eq));
    std::string_view v = trimBlanks(t.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    line.value = v;
    return line;
}

std::vector<Line> splitLines(std::string_view data) {
    std::vector<Line> lines;
    while (!data.empty()) {
        std::size_t nl = data.find('\n');
        std::string_view raw = data.substr(0, nl);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        lines.push_back(classify(raw));
        if (nl == std::string_view::npos) break;
        data.remove_prefix(nl + 1);
    }
    return lines;
}

// Index of the section header named `section`, or lines.size().
std::size_t findSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Line::Section && equalNames(lines[i].name, section)) return i;
    return lines.size();
}

// One past the last line of the section that starts at header.
std::size_t sectionEnd(const std::vector<Line>& lines, std::size_t header) {
    std::size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Line::Section)
        ++i;
    return i;
}

} // namespace

Outcome<Text> readConfigItem(const std::filesystem::path& path, const Text& section,
                             const Text& key, const Text& fallback) {
    const std::string_view s = skipLeadingBlanks(section.view());
    const std::string_view k = skipLeadingBlanks(key.view());
    if (path.empty() || s.empty() || k.empty()) return Text{};
    const std::string_view wantSection = trimBlanks(s);
    const std::string_view wantKey = trimBlanks(k);

    Text result = fallback;
    Outcome<std::string> data = readFileBounded(path, kMaxConfigFile);
    if (!data && readFailureOf(data.problem()) != ReadFailure::Missing) return data.problem();
    if (data) {
        const std::vector<Line> lines = splitLines(*data);
        const std::size_t header = findSection(lines, wantSection);
        if (header < lines.size()) {
            const std::size_t end = sectionEnd(lines, header);
            for (std::size_t i = header + 1; i < end; ++i) {
                if (lines[i].kind == Line::Entry && equalNames(lines[i].name, wantKey)) {
                    result = Text::fromBytes(lines[i].value);
                    break;
                }
            }
        }
    }
    if (result.size() > kMaxConfigValue) result.bytes().resize(kMaxConfigValue);
    return result;
}

Outcome<void> writeConfigItem(const std::filesystem::path& file, const Text& section,
                              const std::optional<Text>& key, const std::optional<Text>& value) {
    static const Text noName = sysText("没有配置项的名称");
    const std::string_view s = trimBlanks(section.view());
    if (file.empty() || s.empty()) return fail(noName);

    std::string data;
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        // A directory, a special file, an unreadable or a far too large file: not ours to
        // rewrite.
        Outcome<std::string> read = readFileBounded(file, kMaxConfigFile);
        if (!read) return fail(read.problem().message);
        data = std::move(*read);
    }
    std::vector<Line> lines = splitLines(data);
    const std::size_t header = findSection(lines, s);
    const bool hasSection = header < lines.size();
    const std::string_view k = key ? trimBlanks(key->view()) : std::string_view{};

    std::vector<std::string> out; // the new lines; views into `data` until written
    out.reserve(lines.size() + 2);
    auto keepLines = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            out.emplace_back(lines[i].raw);
    };

    if (!key) {
        if (!hasSection) return {};
        keepLines(0, header);
        keepLines(sectionEnd(lines, header), lines.size());
    } else if (k.empty()) {
        return fail(noName);
    } else if (!hasSection) {
        if (!value) return {};
        keepLines(0, lines.size());
        out.push_back("[" + oneLine(s) + "]");
        out.push_back(oneLine(k) + "=" + oneLine(value->view()));
    } else {
        const std::size_t end = sectionEnd(lines, header);
        std::size_t found = end;
        for (std::size_t i = header + 1; i < end; ++i) {
            if (lines[i].kind == Line::Entry && equalNames(lines[i].name, k)) {
                found = i;
                break;
            }
        }
        if (!value && found == end) return {};
        keepLines(0, found);
        if (value) {
            // A new entry goes after the section's last entry, before any blank lines
            // that separate it from the next section.
            std::size_t insertAt = found;
            if (found == end) {
                insertAt = end;
                while (insertAt > header + 1 && trimBlanks(lines[insertAt - 1].raw).empty())
                    --insertAt;
                out.resize(out.size() - (end - insertAt));
            }
            out.push_back(oneLine(k) + "=" + oneLine(value->view()));
            if (found == end) keepLines(insertAt, end);
        }
        keepLines(found == end ? end : found + 1, lines.size());
    }

    std::string bytes;
    for (const std::string& line : out) {
        bytes += line;
        bytes += "\r\n";
    }
    return replaceFileAtomically(file, bytes);
}

} // namespace iit
