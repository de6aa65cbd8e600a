// iitcalc-cli tax KIND MODE AMOUNT... [--json] [--table FILE]: what the main window shows
// for each amount, computed with the same engine.
#include "app/cli.h"
#include "app/cli_util.h"
#include "base/convert.h"
#include "engine/amount.h"
#include "engine/rate_table_file.h"
#include "engine/single_person.h"

#include <iostream>
#include <string>

namespace iit::cli {
namespace {

// A text of the windows in UTF-8, its lines broken by LF alone.
std::string withLineFeeds(const Text& t) {
    std::string s = t.toUtf8();
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out.push_back(s[i]);
    }
    return out;
}

void printPlain(std::string& out, const Outcome<engine::PersonTax>& r) {
    // The label where the window shows one, else the message it pops up.
    if (!r)
        out += withLineFeeds(r.problem().message);
    else if (r->result == engine::PersonTax::Result::BelowThreshold)
        out += withLineFeeds(r->message);
    else
        out += withLineFeeds(r->label);
    out += '\n';
}

void printJson(std::string& out, const std::string& amount, const Outcome<engine::PersonTax>& r) {
    using R = engine::PersonTax::Result;
    JsonObject json(out);
    json.field("amount", Text::fromUtf8(amount).toUtf8()); // invalid UTF-8 made safe
    if (!r) {
        json.field("outcome", "error");
        json.field("message", r.problem().message.toUtf8());
    } else {
        switch (r->result) {
        case R::Computed:
            json.field("outcome", "computed");
            json.field("caption", r->caption.toUtf8());
            json.field("total", r->total.toUtf8());
            json.field("tax", r->tax.toUtf8());
            json.field("label", r->label.toUtf8());
            break;
        case R::BelowThreshold:
            json.field("outcome", "below_threshold");
            json.number("threshold", r->threshold);
            json.field("message", r->message.toUtf8());
            break;
        case R::NoResult:
            json.field("outcome", "no_result");
            json.field("label", r->label.toUtf8());
            break;
        }
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

    if (const int usage = tableUsage(ctx, ctx.value("table")); usage != kExitOk) return usage;
    Outcome<engine::RateTableFile> table = openTable(ctx, ctx.value("table"));
    if (!table) return kExitFailure;

    // Every AMOUNT is read by the grammar of an amount in a cell, the batch sheet's: one that it
    // refuses is a usage error, before anything is computed.
    std::vector<std::string> amounts;
    for (std::size_t i = 2; i < positional.size(); ++i) {
        Outcome<std::string> amount = engine::plainAmountText(positional[i]);
        if (!amount)
            return ctx.usageError("AMOUNT '" + positional[i] +
                                  "' is no amount: " + amount.problem().message.toUtf8());
        amounts.push_back(std::move(*amount));
    }
    std::string out;
    for (std::size_t i = 2; i < positional.size(); ++i) {
        const Outcome<engine::PersonTax> r = engine::singlePersonTax(
            Text::fromUtf8(amounts[i - 2]), *kind, *mode, [&] { return table->load(); });
        if (json)
            printJson(out, positional[i], r);
        else
            printPlain(out, r);
    }
    std::cout << out << std::flush;
    return kExitOk;
}

} // namespace iit::cli
