// Date formats of .xlsx styles and the text of date serials.
#include "sheets/xlsx_styles.h"

#include "sheets/builder.h"
#include "sheets/xml_parser.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

namespace iit::sheets {
namespace {

// More styles than a workbook may have (64,000) is a hostile file.
constexpr std::size_t kMaxStyles = 65536;

DateShape shapeOf(bool date, bool time) {
    if (date && time) return DateShape::DateTime;
    if (date) return DateShape::Date;
    if (time) return DateShape::Time;
    return DateShape::None;
}

int parseInt(std::string_view s, int fallback) {
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() ? v : fallback;
}

class StylesReader : public XmlReader {
public:
    std::vector<DateShape> shapes;

protected:
    void onStart(std::string_view name, const char** attributes) override {
        if (name == "numFmt") {
            const auto id = attribute(attributes, "numFmtId");
            const auto code = attribute(attributes, "formatCode");
            if (id && code) m_custom[parseInt(*id, -1)] = formatCodeShape(*code);
        } else if (name == "cellXfs") {
            m_inCellXfs = true;
        } else if (name == "xf" && m_inCellXfs && depth() == 3) {
            if (shapes.size() >= kMaxStyles) {
                stopWith(tooLarge("单元格样式过多"));
                return;
            }
            const auto id = attribute(attributes, "numFmtId");
            const int format = id ? parseInt(*id, 0) : 0;
            const auto custom = m_custom.find(format);
            shapes.push_back(custom != m_custom.end() ? custom->second
                                                      : builtInFormatShape(format));
        }
    }
    void onEnd(std::string_view name) override {
        if (name == "cellXfs") m_inCellXfs = false;
    }

private:
    std::map<int, DateShape> m_custom;
    bool m_inCellXfs = false;
};

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
void civilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}

} // namespace

DateShape builtInFormatShape(int id) {
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || id == 36 || (id >= 50 && id <= 58))
        return DateShape::Date;
    if (id == 22) return DateShape::DateTime;
    if ((id >= 18 && id <= 21) || (id >= 32 && id <= 35) || (id >= 45 && id <= 47))
        return DateShape::Time;
    return DateShape::None;
}

DateShape formatCodeShape(std::string_view code) {
    bool date = false, time = false, month = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == ';') break; // the first section formats positive numbers
        if (c == '"') {
            const std::size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i; // an escaped character or the character a padding repeats
        } else if (c == '[') {
            const std::size_t close = code.find(']', i + 1);
            if (close == std::string_view::npos) break;
            const std::string_view inside = code.substr(i + 1, close - i - 1);
            // Elapsed time ([h], [mm], [ss]); colours, locales and conditions are skipped.
            if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos)
                time = true;
            i = close;
        } else if (c == 'y' || c == 'Y' || c == 'd' || c == 'D') {
            date = true;
        } else if (c == 'h' || c == 'H' || c == 's' || c == 'S') {
            time = true;
        } else if (c == 'm' || c == 'M') {
            month = true;
        } else if ((c == 'A' || c == 'a') &&
                   (code.substr(i, 5) == "AM/PM" || code.substr(i, 3) == "A/P")) {
            time = true;
            i += code[i + 1] == 'M' || code[i + 1] == 'm' ? 4 : 2;
        }
    }
    // "m" is the month unless the code shows hours or seconds, where it is the minutes.
    if (month && !time) date = true;
    return shapeOf(date, time);
}

Outcome<std::vector<DateShape>> readStyles(ZipArchive& zip, std::string_view part) {
    StylesReader reader;
    Outcome<void> r = reader.parse(zip, part);
    if (!r) return r.problem();
    return std::move(reader.shapes);
}

std::optional<std::string> serialDateText(double serial, DateShape shape, bool date1904) {
    if (!std::isfinite(serial) || serial < 0 || serial >= 2958466) return std::nullopt;
    // Whole seconds, rounded; a time that rounds to midnight moves to the next day.
    const long long seconds = std::llround(serial * 86400.0);
    long long days = seconds / 86400;
    const long long secondOfDay = seconds % 86400;
    char dateText[48] = "";
    if (shape != DateShape::Time) {
        int y = 0;
        unsigned m = 0, d = 0;
        if (date1904) {
            civilFromDays(days - 24107, y, m, d); // 1904-01-01 is day 0
        } else if (days == 60) {
            y = 1900, m = 2, d = 29; // the 1900 system's day that never was
        } else if (days == 0) {
            y = 1900, m = 1, d = 0;
        } else {
            civilFromDays(days - 25569 + (days < 60 ? 1 : 0), y, m, d); // 1899-12-30 is day 0
        }
        if (y > 9999) return std::nullopt;
        std::snprintf(dateText, sizeof dateText, "%04d-%02u-%02u", y, m, d);
    }
    char timeText[48] = "";
    if (shape == DateShape::Time || shape == DateShape::DateTime)
        std::snprintf(timeText, sizeof timeText, "%02lld:%02lld:%02lld", secondOfDay / 3600,
                      secondOfDay / 60 % 60, secondOfDay % 60);
    if (shape == DateShape::Time) return std::string(timeText);
    if (shape == DateShape::DateTime) return std::string(dateText) + " " + timeText;
    return std::string(dateText);
}

} // namespace iit::sheets
