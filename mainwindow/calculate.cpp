#include "mainwindow/calculate.h"

#include "base/convert.h"

namespace iit::mainwindow {

using namespace engine;
namespace {

const Text& captionText(Caption caption) {
    static const Text netPay = sysText("实发数: "), grossTotal = sysText("合计数: "),
                      grossFullWidth = sysText("合计数：");
    switch (caption) {
    case Caption::NetPay:
        return netPay;
    case Caption::GrossTotal:
        return grossTotal;
    case Caption::GrossTotalFullWidth:
        return grossFullWidth;
    }
    return netPay;
}

} // namespace

const Text& incomePlaceholder() {
    static const Text placeholder =
        sysText("在这里输入个人所得收入\r\nEnter the income of personal income here");
    return placeholder;
}

Text resultLabel(const Text& caption, const Text& companion, const Text& tax) {
    static const Text secondLine = sysText("\r\n应纳税: ");
    Text c = companion, x = tax;
    if (c.size() > x.size())
        x = Text::fromBytes(std::string(c.size() - x.size(), ' ')) + x;
    else
        c = Text::fromBytes(std::string(x.size() - c.size(), ' ')) + c;
    return caption + c + secondLine + x;
}

CalcResult Calculate(const std::filesystem::path& tablePath, const Text& incomeText, TaxKind kind,
                     TaxMode mode, std::int32_t& messageThreshold) {
    static const Text askForIncome = sysText(" 请在这里输入个人所得收入! . . . ");
    static const Text tooLarge = sysText(" 输入的数值过大! . . . ");
    CalcResult r;
    if (incomeText.empty() || incomeText == incomePlaceholder()) {
        r.outcome = CalcResult::Outcome::NoInput;
        r.balloon = askForIncome;
        return r;
    }
    const double x = ToNumber(incomeText);
    if (greater(x, kMaxIncome)) {
        r.outcome = CalcResult::Outcome::TooLarge;
        r.balloon = tooLarge;
        return r;
    }
    const Outcome<TaxFigures> out =
        computeTax(tablePath, Exact::fromText(incomeText), kind, mode, messageThreshold);
    if (!out) {
        r.outcome = CalcResult::Outcome::TableUnavailable;
        r.balloon = out.problem().message;
        return r;
    }
    switch (out->type) {
    case TaxFigures::Type::BelowThreshold:
        r.outcome = CalcResult::Outcome::BelowThreshold;
        r.threshold = out->threshold;
        r.balloon = sysText(" 收入数低于") + ToText(out->threshold) + sysText(", 无需上税! . . . ");
        r.label = Text{};
        break;
    case TaxFigures::Type::NoResult:
        r.outcome = CalcResult::Outcome::NoResult;
        r.label = Text::fromBytes("0");
        break;
    case TaxFigures::Type::Taxed:
    case TaxFigures::Type::NoTax:
        r.outcome = CalcResult::Outcome::Computed;
        r.caption = captionText(captionOf(kind, mode));
        r.total = ToText(out->companion);
        r.tax = ToText(out->tax);
        r.label = resultLabel(r.caption, r.total, r.tax);
        break;
    }
    return r;
}

} // namespace iit::mainwindow
