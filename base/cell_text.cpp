#include "base/cell_text.h"

namespace iit {

std::string oneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
    }
    return out;
}

std::string compactName(std::string_view name) {
    static constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == ' ' || c == '\r' || c == '\n' || c == '\t') continue;
        if (name.substr(i, kIdeographicSpace.size()) == kIdeographicSpace) {
            i += kIdeographicSpace.size() - 1;
            continue;
        }
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return out;
}

std::string headerName(std::string_view utf8) {
    std::string name = compactName(utf8);
    for (const std::string_view mark : {std::string_view("*"), std::string_view("＊")})
        if (name.starts_with(mark)) return name.substr(mark.size());
    return name;
}

} // namespace iit
