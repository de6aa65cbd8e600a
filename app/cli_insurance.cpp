// iitcalc-cli insurance CITY BASE [--month YYYY-MM] [--fund-base N] [--fund-rate P]
// [--fund-extra-rate P] [--json]: an employee's social insurance and housing fund of one month,
// from the rules of the data directory, as the ledger computes them.
#include "app/cli.h"
#include "app/cli_rows.h"
#include "app/cli_util.h"
#include "base/convert.h"
#include "engine/amount.h"
#include "insurance/contributions.h"

#include <iostream>
#include <string>

namespace iit::cli {
namespace {

using engine::Exact;

std::string utf8(const Exact& v) {
    return ToText(v).toUtf8();
}

// An amount option (yuan) or a rate option (percent): the number grammar of a cell.
std::optional<Exact> number(const Context& ctx, const char* name, const Exact& otherwise,
                            int& usage) {
    const std::optional<std::string> word = ctx.value(name);
    if (!word) return otherwise;
    Outcome<Exact> v = engine::parseAmount(*word);
    if (!v) {
        usage = ctx.usageError(std::string("--") + name + " '" + *word +
                               "' is no number: " + v.problem().message.toUtf8());
        return std::nullopt;
    }
    return *v;
}

const char* clampWord(insurance::Clamp clamp) {
    switch (clamp) {
    case insurance::Clamp::Floor:
        return "floor";
    case insurance::Clamp::Ceiling:
        return "ceiling";
    case insurance::Clamp::None:
        break;
    }
    return "none";
}

} // namespace

int runInsurance(Context& ctx) {
    if (ctx.operands.size() != 2) return ctx.usageError("CITY and BASE are needed");
    const Text city = Text::fromUtf8(ctx.operands[0]);
    Outcome<Exact> base = engine::parseAmount(ctx.operands[1]);
    if (!base)
        return ctx.usageError("BASE '" + ctx.operands[1] +
                              "' is no amount: " + base.problem().message.toUtf8());
    const CivilDateTime now = splitDateTime(Now());
    int year = now.year, month = static_cast<int>(now.month);
    if (const std::optional<std::string> word = ctx.value("month")) {
        const std::size_t dash = word->find('-');
        const std::optional<int> y =
            dash == std::string::npos ? std::nullopt : parseYear(word->substr(0, dash));
        const std::optional<int> m =
            dash == std::string::npos ? std::nullopt : parseMonth(word->substr(dash + 1));
        if (!y || !m) return ctx.usageError("--month '" + *word + "' is no YYYY-MM");
        year = *y;
        month = *m;
    }
    int usage = kExitOk;
    insurance::Bases bases;
    bases.social = *base;
    const std::optional<Exact> fund = number(ctx, "fund-base", *base, usage);
    const std::optional<Exact> rate = fund ? number(ctx, "fund-rate", Exact(0), usage) : fund;
    const std::optional<Exact> extra =
        rate ? number(ctx, "fund-extra-rate", Exact(0), usage) : rate;
    if (!extra) return usage;
    bases.fund = *fund;
    bases.fundRate = *rate;
    bases.fundExtra = *extra;

    if (!ctx.dataDirectory()) return kExitFailure;
    Outcome<insurance::LoadedRules> rules = insurance::loadRules(insurance::rulesPath());
    if (!rules) {
        std::cerr << "iitcalc-cli: " << oneLine(rules.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    if (!rules->notice.empty()) std::cerr << "iitcalc-cli: " << rules->notice.toUtf8() << "\n";
    const insurance::CityRules* inForce = rules->rules.inForce(city, year, month);
    if (!inForce) {
        std::cerr << "iitcalc-cli: " << insurance::rulesPath().string() << " has no rules of "
                  << ctx.operands[0] << " in force in " << year << "-" << month << " (cities: ";
        const std::vector<Text> cities = rules->rules.cities();
        for (std::size_t i = 0; i < cities.size(); ++i)
            std::cerr << (i ? ", " : "") << cities[i].toUtf8();
        std::cerr << ")\n";
        return kExitFailure;
    }
    Outcome<insurance::Contributions> c = insurance::contribute(*inForce, bases);
    if (!c) {
        std::cerr << "iitcalc-cli: " << c.problem().message.toUtf8() << "\n";
        return kExitFailure;
    }

    std::string out;
    char period[16];
    std::snprintf(period, sizeof period, "%04d-%02d", inForce->fromYear, inForce->fromMonth);
    if (ctx.flag("json")) {
        JsonObject json(out);
        json.field("city", inForce->city.toUtf8());
        json.field("rules_from", period);
        json.field("source", inForce->source.toUtf8());
        out += ",\"items\":[";
        for (std::size_t i = 0; i < c->lines.size(); ++i) {
            const insurance::ContributionLine& l = c->lines[i];
            if (i) out += ',';
            JsonObject item(out);
            item.field("name", l.name.toUtf8());
            item.field("column", insurance::columnName(l.column));
            item.decimal("base", utf8(l.base));
            item.field("clamped", clampWord(l.clamp));
            item.decimal("rate", utf8(l.rate));
            item.decimal("employee", utf8(l.employee));
            if (l.employer) item.decimal("employer", utf8(*l.employer));
            item.close();
        }
        out += ']';
        for (int i = 0; i < insurance::kColumns; ++i)
            json.decimal(insurance::columnName(static_cast<insurance::Column>(i)),
                         utf8(c->columns[static_cast<std::size_t>(i)]));
        json.decimal("employee", utf8(c->employee));
        if (c->employerComplete) json.decimal("employer", utf8(c->employer));
        json.close();
        out += '\n';
    } else {
        out += inForce->city.toUtf8() + " " + std::to_string(year) + "-" + (month < 10 ? "0" : "") +
               std::to_string(month) + "（" + period + "起的规则：" + inForce->source.toUtf8() +
               "）\n";
        for (const insurance::ContributionLine& l : c->lines)
            out += insurance::explain(l).toUtf8() + "\n";
        for (int i = 0; i < insurance::kColumns; ++i)
            out += std::string(insurance::columnName(static_cast<insurance::Column>(i))) + "\t" +
                   utf8(c->columns[static_cast<std::size_t>(i)]) + "\n";
        out += "个人合计\t" + utf8(c->employee) + "\n";
        out += "单位合计\t" +
               (c->employerComplete ? utf8(c->employer)
                                    : std::string("（规则中没有单位的全部费率）")) +
               "\n";
    }
    std::cout << out << std::flush;
    return kExitOk;
}

} // namespace iit::cli
