// iitcalc-cli tax KIND MODE AMOUNT... [--json] [--table FILE]: what the main window shows
// for each amount, computed with the same engine.
#include "app/cli.h"
#include "app/cli_util.h"
#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "mainwindow/calculate.h"

#include <iostream>
#include <string>

namespace iit::cli {
namespace {

std::string Lines(const Text& t) {
    std::string s = t.toUtf8();
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out.push_back(s[i]);
    }
    return out;
}

void printPlain(std::string& out, const mainwindow::CalcResult& r) {
    using O = mainwindow::CalcResult::Outcome;
    if (r.outcome == O::Computed || r.outcome == O::NoResult)
        out += Lines(*r.label);
    else
        out += Lines(r.balloon);
    out += '\n';
}

void printJson(std::string& out, const std::string& amount, const mainwindow::CalcResult& r) {
    using O = mainwindow::CalcResult::Outcome;
    JsonObject json(out);
    json.field("amount", Text::fromUtf8(amount).toUtf8()); // invalid UTF-8 made safe
    switch (r.outcome) {
    case O::Computed:
        json.field("outcome", "computed");
        json.field("caption", r.caption.toUtf8());
        json.field("total", r.total.toUtf8());
        json.field("tax", r.tax.toUtf8());
        json.field("label", r.label->toUtf8());
        break;
    case O::BelowThreshold:
        json.field("outcome", "below_threshold");
        json.number("threshold", r.threshold);
        json.field("message", r.balloon.toUtf8());
        break;
    case O::NoResult:
        json.field("outcome", "no_result");
        json.field("label", r.label->toUtf8());
        break;
    case O::NoInput:
    case O::TooLarge:
    case O::TableUnavailable:
        json.field("outcome", "error");
        json.field("message", r.balloon.toUtf8());
        break;
    }
    json.close();
    out += '\n';
}

} // namespace

int runTax(Context& ctx) {
    const bool json = ctx.flag("json");
    const std::vector<std::string>& positional = ctx.operands;
    if (positional.size() < 3)
        return ctx.usageError("KIND, MODE and at least one AMOUNT are needed");
    const auto kind = parseKind(positional[0]);
    if (!kind) return ctx.usageError("unknown KIND '" + positional[0] + "'");
    const auto mode = parseMode(positional[1]);
    if (!mode) return ctx.usageError("unknown MODE '" + positional[1] + "'");

    const auto table = openTable(ctx, ctx.value("table"));
    if (!table.ok) return table.exitCode;

    std::string out;
    std::int32_t threshold = 0;
    for (std::size_t i = 2; i < positional.size(); ++i) {
        const auto r = mainwindow::Calculate(table.path, Text::fromUtf8(positional[i]), *kind,
                                             *mode, threshold);
        if (json)
            printJson(out, positional[i], r);
        else
            printPlain(out, r);
    }
    std::cout << out << std::flush;
    return kExitOk;
}

} // namespace iit::cli
