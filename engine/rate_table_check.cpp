#include "engine/rate_table_check.h"

#include "base/convert.h"
#include "engine/exact.h"
#include "engine/tax.h"

#include <cmath>

namespace iit::engine {
namespace {

using Severity = TableFinding::Severity;

constexpr double kInt32Max = 2147483647.0;
// A quick deduction counts as continuous within half a unit of the continuous one (the window
// stores whole numbers), plus the fen by which each of the two taxes is rounded.
constexpr double kContinuityTolerance = 0.52;

// How far from a bound the computation is asked for the tax on either side: beyond the band
// search's tolerance of 1e-7, and too near for any rate below 100 % to move the tax by a fen.
const Exact& nearBound() {
    static const Exact e = Exact::fromText(Text::fromBytes("0.00001"));
    return e;
}

Text number(double v) {
    return ToText(v);
}

class Checker {
public:
    Checker(const BracketTable& table, SubTable subTable) : m_t(table), m_sub(subTable) {}

    std::vector<TableFinding> run(bool warnings) {
        if (m_sub == SubTable::Royalties) {
            checkRoyalties();
        } else {
            checkBands();
            if (m_out.empty()) checkTaxes(warnings);
        }
        return std::move(m_out);
    }

private:
    double at(std::int32_t record, Field f) const { return m_t.number(record, fieldOf(m_sub, f)); }
    bool inUse(std::int32_t record) const {
        return at(record, Field::Lower) != 0 || at(record, Field::Upper) != 0;
    }
    void add(Severity severity, std::int32_t record, Field f, Text problem,
             std::optional<std::int32_t> offer = std::nullopt) {
        m_out.push_back({severity, m_sub, record, f, std::move(problem), offer});
    }
    void error(std::int32_t record, Field f, const char* problem) {
        add(Severity::Error, record, f, fieldCaption(m_sub, record, f) + sysText(problem));
    }

    // A value read as a truncated integer.
    void wholeRange(std::int32_t record, Field f) {
        const double v = at(record, f);
        if (!(v >= 0 && v <= kInt32Max)) error(record, f, "应在 0 至 2147483647 之间");
    }
    void percentage(std::int32_t record, Field f) {
        const double v = at(record, f);
        if (!(v >= 0 && less(v, 100))) error(record, f, "应不小于 0 且小于 100");
    }

    // Labour and royalties tax an income from the threshold up to the first-band limit U1 by
    // their first rule: the threshold lies below U1.
    void thresholdBelowLimit() {
        const double threshold = at(1, Field::Threshold), limit = at(1, Field::Upper);
        if (!less(threshold, limit))
            add(Severity::Error, 1, Field::Threshold,
                fieldCaption(m_sub, 1, Field::Threshold) + sysText("应小于第一档的上限 ") +
                    number(limit));
    }

    void checkRoyalties() {
        wholeRange(1, Field::Threshold);
        wholeRange(1, Field::Upper);
        if (m_out.empty()) thresholdBelowLimit();
        percentage(1, Field::Rate);
        percentage(2, Field::Rate); // the reduction percentage
    }

    void checkBands() {
        wholeRange(1, Field::Threshold);
        if (!inUse(1)) error(1, Field::Upper, "与下限不能都为 0，第一档不能为空");
        bool gap = false;
        double previousUpper = 0;
        for (std::int32_t r = 1; r <= m_t.recordCount(); ++r) {
            if (!inUse(r)) {
                gap = true;
                continue;
            }
            const double lower = at(r, Field::Lower), upper = at(r, Field::Upper);
            if (gap) {
                error(r, Field::Lower, "所在的这一档之前有空行，各档应连续排列");
                continue;
            }
            if (r == 1) {
                if (lower != 0) error(r, Field::Lower, "应为 0，第一档从 0 开始");
            } else if (less(lower, previousUpper) || greater(lower, previousUpper)) {
                add(Severity::Error, r, Field::Lower,
                    fieldCaption(m_sub, r, Field::Lower) + sysText("应等于上一档的上限 ") +
                        number(previousUpper) + sysText("，各档应首尾相接"));
            }
            if (!greater(upper, lower))
                error(r, Field::Upper, "应大于下限");
            else if (r == 1 && m_sub != SubTable::Wages)
                wholeRange(r, Field::Upper); // the labour rules read it as an integer
            percentage(r, Field::Rate);
            const double qd = at(r, Field::Deduction);
            if (!(qd >= 0 && std::isfinite(qd))) error(r, Field::Deduction, "不能为负数");
            previousUpper = upper;
        }
        if (m_sub != SubTable::Wages && m_out.empty()) thresholdBelowLimit();
    }

    // The tax the computation gives for an income; none when it gives no tax amount.
    std::optional<Exact> taxAt(const BracketTable& table, const Exact& income) const {
        const TaxKind kind = m_sub == SubTable::Wages ? TaxKind::Wages : TaxKind::Labour;
        const TaxMode mode = m_sub == SubTable::LabourNet ? TaxMode::Net : TaxMode::Gross;
        const TaxFigures f =
            computeTaxFigures(table, income, kind, mode, TaxPolicy::singlePerson());
        if (f.type != TaxFigures::Type::Taxed) return std::nullopt;
        return f.tax;
    }
    Exact exact(std::int32_t record, Field f) const {
        return m_t.exact(record, fieldOf(m_sub, f)).value_or(Exact{});
    }

    // Checked on sound bands only, so that each income asked about lies in the band meant. The
    // wage bands hold the income less the threshold; the labour bands the income itself, and
    // labour's record 1 is the rule from the threshold up to the first-band limit.
    void checkTaxes(bool warnings) {
        const Exact base = m_sub == SubTable::Wages ? exact(1, Field::Threshold) : Exact{};
        for (std::int32_t r = 1; r <= m_t.recordCount() && inUse(r); ++r) {
            Exact start = exact(r, Field::Lower);
            if (r == 1 && m_sub != SubTable::Wages) {
                if (!less(at(1, Field::Threshold), at(1, Field::Upper))) continue;
                start = exact(1, Field::Threshold);
            }
            const std::optional<Exact> first = taxAt(m_t, base + start + nearBound());
            if (first && first->sign() < 0)
                error(r, Field::Deduction, "过大，本档起点处的税额为负数");
            else if (warnings && r > 1)
                checkContinuity(r, base + exact(r, Field::Lower));
        }
    }

    // The tax just below and just above the band's lower bound. It is affine in the band's
    // quick deduction, so a second deduction gives the slope, and with it the deduction that
    // closes the jump.
    void checkContinuity(std::int32_t r, const Exact& bound) {
        const std::optional<Exact> below = taxAt(m_t, bound - nearBound());
        const std::optional<Exact> above = taxAt(m_t, bound + nearBound());
        if (!below || !above) return;
        const double qd = at(r, Field::Deduction);
        constexpr double kStep = 1000;
        BracketTable moved = m_t;
        moved.setField(r, fieldOf(m_sub, Field::Deduction), Value::number(qd + kStep));
        const std::optional<Exact> aboveMoved = taxAt(moved, bound + nearBound());
        if (!aboveMoved) return;
        const double slope = (*above - *aboveMoved).toDouble() / kStep;
        if (!(slope > 0)) return;
        const Exact jump = *above - *below;
        const double shift = jump.toDouble() / slope;
        if (std::fabs(shift) <= kContinuityTolerance) return;
        const double continuous = std::round(qd + shift);
        std::optional<std::int32_t> offer;
        if (continuous >= 0 && continuous <= kInt32Max)
            offer = static_cast<std::int32_t>(continuous);
        Text problem = fieldCaption(m_sub, r, Field::Deduction) + sysText(" ") + number(qd) +
                       sysText(" 使两档不衔接：\r\n 在下限 ") + number(at(r, Field::Lower)) +
                       sysText(" 处，本档的税额比上一档") +
                       sysText(jump.sign() > 0 ? "高 " : "低 ") +
                       ToText(jump.sign() > 0 ? jump : -jump) + sysText(" 元");
        problem += offer ? sysText("；\r\n 衔接的速算数是 ") + ToText(*offer)
                         : sysText("；\r\n 速算数无法使两档衔接，请检查税率");
        add(Severity::Warning, r, Field::Deduction, std::move(problem), offer);
    }

    const BracketTable& m_t;
    SubTable m_sub;
    std::vector<TableFinding> m_out;
};

} // namespace

const Text& subTableName(SubTable t) {
    static const Text wages = sysText("个人所得税税率表"),
                      labourGross = sysText("劳务收入税率表(含税)"),
                      labourNet = sysText("劳务收入税率表(不含税)"),
                      royalties = sysText("稿酬收入税率表");
    switch (t) {
    case SubTable::Wages:
        return wages;
    case SubTable::LabourGross:
        return labourGross;
    case SubTable::LabourNet:
        return labourNet;
    case SubTable::Royalties:
        return royalties;
    }
    return wages;
}

Text fieldCaption(SubTable t, std::int32_t record, Field field) {
    switch (field) {
    case Field::Threshold:
        return sysText("起征点");
    case Field::Lower:
        return sysText("下限");
    case Field::Upper:
        return sysText("上限");
    case Field::Rate:
        return sysText(t == SubTable::Royalties && record == 2 ? "减征比例" : "税率");
    case Field::Deduction:
        return sysText("速算数");
    case Field::Spare:
        break;
    }
    return sysText("备用");
}

std::vector<TableFinding> checkSubTable(const BracketTable& table, SubTable subTable) {
    return Checker(table, subTable).run(true);
}

Outcome<void> checkBracketTable(const BracketTable& table) {
    for (SubTable t : kSubTables) {
        const std::vector<TableFinding> errors = Checker(table, t).run(false);
        if (errors.empty()) continue;
        const TableFinding& e = errors.front();
        return fail(subTableName(t) + sysText("第 ") + ToText(e.record) + sysText(" 条记录：") +
                    e.problem);
    }
    return {};
}

} // namespace iit::engine
