#pragma once
// Pieces several subcommands share: kind and mode words, the rate table, JSON output.

#include "app/cli.h"
#include "base/outcome.h"
#include "base/text.h"
#include "engine/rate_table_file.h"
#include "engine/tax.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace iit::cli {

// "薪金收入", "劳务费", "稿费" or wages, labour, royalties.
std::optional<engine::TaxKind> parseKind(const std::string& word);
// "税前", "税后" or gross (tax included), net (tax excluded).
std::optional<engine::TaxMode> parseMode(const std::string& word);

// `--table FILE` and `--data-dir` exclude each other: prints the usage error and gives its exit
// code when both are given, else kExitOk.
int tableUsage(const Context& ctx, const std::optional<std::string>& tableFile);
// `--table FILE`, or the rate table of the data directory, opened under its alias. The data
// directory's table is started as the window starts it: written from the built-in default when
// missing, and a damaged one set aside and replaced, which is told on standard error. A
// `--table FILE` that cannot be opened is an error, and the file is left as it is. Prints the
// problem on failure (the exit code is then kExitFailure).
Outcome<engine::RateTableFile> openTable(const Context& ctx,
                                         const std::optional<std::string>& tableFile);

// A message of the windows (lines broken with CR LF, padded with blanks) on one line.
Text oneLine(const Text& message);

// One JSON object on one line, written into a string.
class JsonObject {
public:
    explicit JsonObject(std::string& out) : m_out(out) { m_out += '{'; }
    void field(const char* key, const std::string& utf8Value);
    void number(const char* key, std::int64_t value);
    // A number written as its decimal digits ("3", "2.5").
    void decimal(const char* key, const std::string& digits);
    void close() { m_out += '}'; }

private:
    void key(const char* k);
    std::string& m_out;
    bool m_first = true;
};

std::string jsonString(const std::string& utf8);

} // namespace iit::cli
