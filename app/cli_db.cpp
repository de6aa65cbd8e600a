// iitcalc-cli db dump FILE [--password TEXT]: the fields and records of a table, in UTF-8.
#include "app/cli.h"
#include "base/convert.h"
#include "database/database.h"

#include <filesystem>
#include <iostream>
#include <string>

namespace iit::cli {
namespace {

int failure(const Problem& problem) {
    std::cerr << "error " << problem.code << ": " << problem.message.toUtf8() << "\n";
    return kExitFailure;
}

int dump(const std::filesystem::path& file, const Text& password) {
    db::OpenOptions options;
    options.readOnly = true;
    options.password = password;
    Outcome<db::Table> table = db::OpenDatabase(file, options);
    if (!table) return failure(table.problem());
    const std::vector<db::FieldSpec>& fields = table->fields();
    const Outcome<std::int32_t> records = table->RecordCount();
    if (!records) return failure(records.problem());

    std::string out =
        "fields: " + std::to_string(fields.size()) + " records: " + std::to_string(*records) + "\n";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        out += std::to_string(i + 1) + "\t" + fields[i].name.toUtf8() + "\t" +
               std::to_string(fields[i].type) + "\t" + std::to_string(fields[i].width) + "\n";
    }
    if (Outcome<void> first = table->GoFirst(); !first) return failure(first.problem());
    for (std::int32_t r = 0; r < *records; ++r) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const Outcome<Value> v =
                table->ReadField(Value::int32(static_cast<std::int32_t>(i + 1)));
            if (!v) return failure(v.problem());
            if (i > 0) out += "\t";
            out += ToText(*v).toUtf8();
        }
        out += "\n";
        if (Outcome<void> next = table->Skip(1); !next) return failure(next.problem());
    }
    std::cout << out;
    return kExitOk;
}

} // namespace

int runDb(Context& ctx) {
    const std::vector<std::string>& operands = ctx.operands;
    if (operands.empty() || operands[0] != "dump")
        return ctx.usageError("expected the subcommand dump");
    if (operands.size() != 2) return ctx.usageError("expected one FILE");
    return dump(std::filesystem::path(operands[1]),
                Text::fromUtf8(ctx.value("password").value_or("")));
}

} // namespace iit::cli
