#include "engine/single_person.h"

#include "base/convert.h"

namespace iit::engine {
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

Outcome<Exact> readIncomeText(const Text& incomeText) {
    static const Text askForIncome = sysText(" 请在这里输入个人所得收入! . . . ");
    static const Text tooLarge = sysText(" 输入的数值过大! . . . ");
    if (incomeText.empty() || incomeText == incomePlaceholder()) return fail(askForIncome);
    // The limit is tested on the double the text reads as; the tax is computed from the text's
    // exact decimal.
    if (greater(ToNumber(incomeText), kMaxIncome)) return fail(tooLarge);
    return Exact::fromText(incomeText);
}

PersonTax singlePersonTax(const BracketTable& table, const Exact& income, TaxKind kind,
                          TaxMode mode) {
    const TaxFigures f = computeTaxFigures(table, income, kind, mode, TaxPolicy::singlePerson());
    PersonTax r;
    r.threshold = f.threshold;
    switch (f.type) {
    case TaxFigures::Type::BelowThreshold:
        r.result = PersonTax::Result::BelowThreshold;
        r.message = sysText(" 收入数低于") + ToText(f.threshold) + sysText(", 无需上税! . . . ");
        break;
    case TaxFigures::Type::NoResult:
        r.result = PersonTax::Result::NoResult;
        r.label = Text::fromBytes("0");
        break;
    case TaxFigures::Type::Taxed:
    case TaxFigures::Type::NoTax: // the single-person rules have no no-tax test
        r.result = PersonTax::Result::Computed;
        r.caption = captionText(captionOf(kind, mode));
        r.total = ToText(f.companion);
        r.tax = ToText(f.tax);
        r.label = resultLabel(r.caption, r.total, r.tax);
        break;
    }
    return r;
}

Outcome<PersonTax> singlePersonTax(const Text& incomeText, TaxKind kind, TaxMode mode,
                                   const BracketTableSource& table) {
    const Outcome<Exact> income = readIncomeText(incomeText);
    if (!income) return income.problem();
    const Outcome<BracketTable> read = table();
    if (!read) return read.problem();
    return singlePersonTax(*read, *income, kind, mode);
}

} // namespace iit::engine
