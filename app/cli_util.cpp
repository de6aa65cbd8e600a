#include "app/cli_util.h"

#include "database/database.h"
#include "engine/bracket_table.h"
#include "base/convert.h"
#include "base/files.h"

#include <iostream>

namespace iit::cli {

std::optional<engine::TaxKind> ParseKind(const std::string& word) {
    using engine::TaxKind;
    if (word == "wages") return TaxKind::Wages;
    if (word == "labour" || word == "labor") return TaxKind::Labour;
    if (word == "royalties") return TaxKind::Royalties;
    return engine::KindFromText(Text::fromUtf8(word));
}

std::optional<engine::TaxMode> ParseMode(const std::string& word) {
    using engine::TaxMode;
    if (word == "gross") return TaxMode::Gross;
    if (word == "net") return TaxMode::Net;
    return engine::ModeFromText(Text::fromUtf8(word));
}

int DatabaseError(const std::string& what) {
    const int code = db::LastError();
    std::cerr << "iitcalc-cli: " << what << ": error " << code << ": "
              << db::ErrorMessage(code).toUtf8() << "\n";
    return kExitFailure;
}

TableChoice OpenTable(const Context& ctx, const std::optional<std::string>& tableFile) {
    TableChoice choice;
    if (tableFile && ctx.dataDirArg) {
        choice.exitCode = ctx.usageError("--table and --data-dir exclude each other");
        return choice;
    }
    if (tableFile) {
        choice.path = *tableFile;
        if (!engine::OpenRateTable(choice.path)) {
            choice.exitCode = DatabaseError(choice.path.string());
            return choice;
        }
        if (db::Fields().size() < static_cast<std::size_t>(engine::kRateTableFields)) {
            db::CloseAllDatabases();
            std::cerr << "iitcalc-cli: " << choice.path.string()
                      << ": not a rate table (fewer than 24 fields)\n";
            return choice;
        }
        if (const Outcome<void> sound = engine::CheckOpenRateTable(); !sound) {
            db::CloseAllDatabases();
            std::cerr << "iitcalc-cli: " << choice.path.string()
                      << ": damaged rate table: " << OneLine(sound.problem().message).toUtf8()
                      << "\n";
            return choice;
        }
    } else {
        if (!ctx.dataDirectory()) return choice;
        choice.path = engine::RateTablePath();
        const Outcome<engine::RateTableStart> start =
            engine::OpenRateTableAtStart(choice.path, Now());
        if (!start) {
            std::cerr << "iitcalc-cli: " << OneLine(start.problem().message).toUtf8() << "\n";
            return choice;
        }
        if (!start->notice.empty())
            std::cerr << "iitcalc-cli: " << OneLine(start->notice).toUtf8() << "\n";
    }
    choice.ok = true;
    choice.exitCode = kExitOk;
    return choice;
}

Text OneLine(const Text& message) {
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

std::string JsonString(const std::string& utf8) {
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
    m_out += JsonString(k);
    m_out += ':';
}

void JsonObject::field(const char* k, const std::string& utf8Value) {
    key(k);
    m_out += JsonString(utf8Value);
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
