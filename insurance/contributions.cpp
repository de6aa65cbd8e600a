#include "insurance/contributions.h"

namespace iit::insurance {
namespace {

const Exact kHundred(100);

Exact clampBase(const Exact& given, const Exact& floor, const Exact& ceiling, Clamp& clamp) {
    if (given < floor) {
        clamp = Clamp::Floor;
        return floor;
    }
    if (ceiling < given) {
        clamp = Clamp::Ceiling;
        return ceiling;
    }
    clamp = Clamp::None;
    return given;
}

// A rate the employer chose: 0 (none) or within the city's range.
bool allowed(const Exact& rate, const Exact& lowest, const Exact& highest) {
    return rate.isZero() || (!(rate < lowest) && !(highest < rate));
}

Text range(const Exact& lowest, const Exact& highest) {
    return ToText(lowest) + sysText("%至") + ToText(highest) + sysText("%");
}

} // namespace

Outcome<Contributions> contribute(const CityRules& rules, const Bases& bases) {
    if (bases.social.sign() < 0 || bases.fund.sign() < 0) return fail(sysText("缴费基数不能为负"));
    if (!allowed(bases.fundRate, rules.fundRateLowest, rules.fundRateHighest))
        return fail(rules.city + sysText("的住房公积金比例应在") +
                    range(rules.fundRateLowest, rules.fundRateHighest) + sysText("之间（或为0）"));
    if (!bases.fundExtra.isZero() &&
        (!rules.hasExtraFund() ||
         !allowed(bases.fundExtra, rules.fundExtraLowest, rules.fundExtraHighest)))
        return fail(rules.hasExtraFund()
                        ? rules.city + sysText("的补充公积金比例应在") +
                              range(rules.fundExtraLowest, rules.fundExtraHighest) +
                              sysText("之间（或为0）")
                        : rules.city + sysText("没有补充公积金"));

    Contributions out;
    const auto add = [&](ContributionLine line, const std::optional<Exact>& employerRate) {
        const int places = placesOf(line.rounding);
        line.exact = line.base * line.rate / kHundred + line.fixed;
        line.employee = Round(line.exact, places);
        if (employerRate) {
            line.employer = Round(line.base * *employerRate / kHundred, places);
            out.employer += *line.employer;
        } else if (!line.base.isZero()) {
            out.employerComplete = false;
        }
        out.columns[static_cast<std::size_t>(line.column)] += line.employee;
        out.employee += line.employee;
        out.lines.push_back(std::move(line));
    };

    Clamp clamp = Clamp::None;
    const Exact social = clampBase(bases.social, rules.baseFloor, rules.baseCeiling, clamp);
    for (const InsuranceItem& item : rules.items) {
        ContributionLine line;
        line.name = item.name;
        line.column = item.column;
        line.given = bases.social;
        line.base = social;
        line.clamp = clamp;
        line.rate = item.employeeRate.value_or(Exact(0));
        line.fixed = item.fixed;
        line.rounding = item.rounding;
        add(std::move(line), item.employerRate);
    }
    if (rules.injuryRate)
        out.employer += Round(social * *rules.injuryRate / kHundred, 2);
    else
        out.employerComplete = false;

    Clamp fundClamp = Clamp::None;
    const Exact fund = clampBase(bases.fund, rules.fundFloor, rules.fundCeiling, fundClamp);
    static const Text fundName = sysText("住房公积金"), extraName = sysText("补充公积金");
    const auto fundLine = [&](const Text& name, const Exact& rate) {
        if (rate.isZero()) return;
        ContributionLine line;
        line.name = name;
        line.column = Column::HousingFund;
        line.given = bases.fund;
        line.base = fund;
        line.clamp = fundClamp;
        line.rate = rate;
        line.rounding = rules.fundRounding;
        add(std::move(line), rate); // the employer pays at the employee's rate
    };
    fundLine(fundName, bases.fundRate);
    fundLine(extraName, bases.fundExtra);
    return out;
}

Text explain(const ContributionLine& line) {
    Text t = line.name + sysText("：");
    if (line.clamp == Clamp::Floor)
        t += sysText("基数") + ToText(line.given) + sysText("低于下限，按");
    else if (line.clamp == Clamp::Ceiling)
        t += sysText("基数") + ToText(line.given) + sysText("高于上限，按");
    t += ToText(line.base) + sysText(" × ") + ToText(line.rate) + sysText("%");
    if (!line.fixed.isZero()) t += sysText(" + ") + ToText(line.fixed);
    t += sysText(" = ") + ToText(line.exact);
    if (!(line.exact == line.employee))
        t += (line.rounding == Rounding::Yuan ? sysText("，取整为") : sysText("，四舍五入为")) +
             ToText(line.employee);
    if (line.employer) t += sysText("；单位") + ToText(*line.employer);
    return t;
}

} // namespace iit::insurance
