#include "app/cli_util.h"

#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"

#include <iostream>

namespace iit::cli {
namespace {

// Prints "error CODE: MESSAGE" for a problem of the table database.
void printDatabaseError(const std::string& what, const Problem& problem) {
    std::cerr << "iitcalc-cli: " << what << ": error " << problem.code << ": "
              << problem.message.toUtf8() << "\n";
}

} // namespace

std::optional<engine::TaxKind> parseKind(const std::string& word) {
    using engine::TaxKind;
    if (word == "wages") return TaxKind::Wages;
    if (word == "labour" || word == "labor") return TaxKind::Labour;
    if (word == "royalties") return TaxKind::Royalties;
    return engine::kindFromText(Text::fromUtf8(word));
}

std::optional<engine::TaxMode> parseMode(const std::string& word) {
    using engine::TaxMode;
    if (word == "gross") return TaxMode::Gross;
    if (word == "net") return TaxMode::Net;
    return engine::modeFromText(Text::fromUtf8(word));
}

int tableUsage(const Context& ctx, const std::optional<std::string>& tableFile) {
    if (tableFile && ctx.dataDirArg)
        return ctx.usageError("--table and --data-dir exclude each other");
    return kExitOk;
}

Outcome<engine::RateTableFile> openTable(const Context& ctx,
                                         const std::optional<std::string>& tableFile) {
    // What went wrong, as printed.
    const auto printed = [](const std::string& line) {
        std::cerr << "iitcalc-cli: " << line << "\n";
        return fail(Text::fromUtf8(line));
    };
    if (tableFile) {
        const std::filesystem::path path = *tableFile;
        Outcome<db::Table> table = engine::openRateTable(path);
        if (!table) {
            printDatabaseError(path.string(), table.problem());
            return table.problem();
        }
        if (table->fields().size() < static_cast<std::size_t>(engine::kRateTableFields))
            return printed(path.string() + ": not a rate table (fewer than 24 fields)");
        if (const Outcome<engine::BracketTable> sound = engine::checkRateTable(*table); !sound)
            return printed(path.string() +
                           ": damaged rate table: " + oneLine(sound.problem().message).toUtf8());
        return engine::RateTableFile(path, std::move(*table));
    }
    if (!ctx.dataDirectory()) return fail(Text::fromUtf8("no data directory"));
    engine::RateTableFile file(engine::rateTablePath());
    const Outcome<engine::RateTableStart> start = file.start(Now());
    if (!start) return printed(oneLine(start.problem().message).toUtf8());
    if (!start->notice.empty())
        std::cerr << "iitcalc-cli: " << oneLine(start->notice).toUtf8() << "\n";
    return file;
}

Text oneLine(const Text& message) {
    std::string out;
    bool lineStart = true;
    for (char c : message.bytes()) {
        if (c == '\r' || c == '\n') {
            lineStart = true;
            continue;
        }
        if (lineStart && c == ' ') continue; // the blanks a message line starts with
        if (lineStart && !out.empty()) out += ' ';
        lineStart = false;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return Text::fromBytes(std::move(out));
}

std::string jsonString(const std::string& utf8) {
    static const char* hex = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

void JsonObject::key(const char* k) {
    if (!m_first) m_out += ',';
    m_first = false;
    m_out += jsonString(k);
    m_out += ':';
}

void JsonObject::field(const char* k, const std::string& utf8Value) {
    key(k);
    m_out += jsonString(utf8Value);
}

void JsonObject::number(const char* k, std::int64_t value) {
    key(k);
    m_out += std::to_string(value);
}

void JsonObject::decimal(const char* k, const std::string& digits) {
    key(k);
    m_out += digits;
}

} // namespace iit::cli
