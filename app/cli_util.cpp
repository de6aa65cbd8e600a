#include "app/cli_util.h"

#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"

#include <iostream>

namespace iit::cli {

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

int databaseError(const std::string& what) {
    const int code = db::lastError();
    std::cerr << "iitcalc-cli: " << what << ": error " << code << ": "
              << db::errorMessage(code).toUtf8() << "\n";
    return kExitFailure;
}

TableChoice openTable(const Context& ctx, const std::optional<std::string>& tableFile) {
    TableChoice choice;
    if (tableFile && ctx.dataDirArg) {
        choice.exitCode = ctx.usageError("--table and --data-dir exclude each other");
        return choice;
    }
    if (tableFile) {
        choice.path = *tableFile;
        if (!engine::openRateTable(choice.path)) {
            choice.exitCode = databaseError(choice.path.string());
            return choice;
        }
        if (db::Fields().size() < static_cast<std::size_t>(engine::kRateTableFields)) {
            db::CloseAllDatabases();
            std::cerr << "iitcalc-cli: " << choice.path.string()
                      << ": not a rate table (fewer than 24 fields)\n";
            return choice;
        }
        if (const Outcome<void> sound = engine::checkOpenRateTable(); !sound) {
            db::CloseAllDatabases();
            std::cerr << "iitcalc-cli: " << choice.path.string()
                      << ": damaged rate table: " << oneLine(sound.problem().message).toUtf8()
                      << "\n";
            return choice;
        }
    } else {
        if (!ctx.dataDirectory()) return choice;
        choice.path = engine::rateTablePath();
        const Outcome<engine::RateTableStart> start =
            engine::openRateTableAtStart(choice.path, Now());
        if (!start) {
            std::cerr << "iitcalc-cli: " << oneLine(start.problem().message).toUtf8() << "\n";
            return choice;
        }
        if (!start->notice.empty())
            std::cerr << "iitcalc-cli: " << oneLine(start->notice).toUtf8() << "\n";
    }
    choice.ok = true;
    choice.exitCode = kExitOk;
    return choice;
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
