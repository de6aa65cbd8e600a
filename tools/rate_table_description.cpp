#include "tools/rate_table_description.h"

#include "base/convert.h"
#include "database/format.h"
#include "engine/bracket_table.h"
#include "engine/rate_table_file.h"

#include <charconv>
#include <cstdio>

namespace iit::tools {
namespace {

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool toInt(std::string_view s, long long& v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size();
}

} // namespace

bool parseRateTableDescription(std::string_view text, RateTableDescription& out,
                               std::string& error) {
    using engine::kRateTableFields;
    using engine::kRateTableRecords;
    out = {};
    out.fields.resize(kRateTableFields);
    out.records.assign(kRateTableRecords, std::vector<Value>(kRateTableFields, Value::int32(0)));
    int group = 0; // first field of the current group, 0 before any
    int lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        const auto words = wordsOf(line);
        if (words.empty() || words[0].front() == '#') continue;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        long long n[6];
        if (words[0] == "creation-date") {
            int y = 0;
            unsigned m = 0, d = 0;
            if (words.size() != 2 ||
                std::sscanf(std::string(words[1]).c_str(), "%d-%u-%u", &y, &m, &d) != 3)
                return fail("creation-date YYYY-MM-DD expected");
            out.creationDate = makeDateTime(y, m, d);
        } else if (words[0] == "group") {
            long long first = 0;
            if (words.size() != 9 || !toInt(words[2], first) || first < 1 ||
                first > kRateTableFields - 5 || (first - 1) % 6 != 0)
                return fail("group NAME FIRST-FIELD and six field names expected");
            group = static_cast<int>(first);
            for (int i = 0; i < 6; ++i)
                out.fields[static_cast<std::size_t>(group - 1 + i)] = {
                    Text::fromUtf8(words[3 + static_cast<std::size_t>(i)]), db::kInt, 0};
        } else {
            long long record = 0;
            if (group == 0) return fail("a record before any group");
            if (words.size() != 7 || !toInt(words[0], record) || record < 1 ||
                record > kRateTableRecords)
                return fail("RECORD and six whole numbers expected");
            for (int i = 0; i < 6; ++i) {
                if (!toInt(words[1 + static_cast<std::size_t>(i)], n[i]) || n[i] < INT32_MIN ||
                    n[i] > INT32_MAX)
                    return fail("values must be 32-bit whole numbers");
                out.records[static_cast<std::size_t>(record - 1)]
                           [static_cast<std::size_t>(group - 1 + i)] =
                    Value::int32(static_cast<std::int32_t>(n[i]));
            }
        }
    }
    for (const db::FieldSpec& f : out.fields)
        if (f.name.empty()) {
            error = "every one of the 24 fields needs a group";
            return false;
        }
    return true;
}

std::string buildRateTableFile(const RateTableDescription& d) {
    return db::encodeTableImage(d.fields, d.creationDate, d.records, engine::kRateTablePassword);
}

} // namespace iit::tools
