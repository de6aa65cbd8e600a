// The ledger window's social insurance and housing fund: the current employee's city, bases
// and rates in the panel with how each item was reached, and the cities' rules (社保规则…).
#include "ledger/window/insurance_rules_dialog.h"
#include "ledger/window/ledger_window.h"

#include "engine/amount.h"
#include "gui/qt_text.h"
#include "gui/units.h"
#include "insurance/contributions.h"
#include "ledger/employer_cost.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include <string>

namespace iit::ledger {
namespace {

constexpr const char* kInsuranceBoxNames[4] = {"缴费基数", "公积金基数", "公积金比例",
                                               "补充公积金比例"};

Text monthName(int month) {
    return Text::fromBytes(std::to_string(month)) + sysText("月");
}

QString notInsured() {
    return QStringLiteral("不在本单位参保");
}

} // namespace

void LedgerWindow::makeInsuranceUnits() {
    m_insuranceNote = gui::findUnit<QLabel>(this, QStringLiteral("社保说明"));
    auto* form = findChild<QFormLayout*>(QStringLiteral("社保表单"));
    m_insuranceCity = new QComboBox(this);
    m_insuranceCity->setObjectName(QStringLiteral("社保城市框"));
    m_insuranceCity->setAccessibleName(QStringLiteral("社保城市"));
    m_insuranceCity->setFocusPolicy(Qt::ClickFocus);
    m_insuranceCity->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_insuranceCity->setMinimumContentsLength(6);
    auto* cityLabel = new QLabel(QStringLiteral("社保城市"), this);
    cityLabel->setObjectName(QStringLiteral("社保城市标签"));
    form->addRow(cityLabel, m_insuranceCity);
    for (std::size_t i = 0; i < m_insuranceBoxes.size(); ++i) {
        const QString name = QString::fromUtf8(kInsuranceBoxNames[i]);
        auto* box = new QLineEdit(this);
        box->setObjectName(name + QStringLiteral("框"));
        box->setAccessibleName(name);
        box->setAlignment(Qt::AlignRight);
        box->setFocusPolicy(Qt::ClickFocus);
        if (i >= 2) box->setPlaceholderText(QStringLiteral("%，如7"));
        auto* label = new QLabel(name, this);
        label->setObjectName(name + QStringLiteral("标签"));
        form->addRow(label, box);
        m_insuranceBoxes[i] = box;
    }
}

void LedgerWindow::showInsurance(const MonthLine* line, bool open) {
    // The cities of the rules, and the entry's own where the rules no longer have it.
    m_insuranceCity->clear();
    m_insuranceCity->addItem(notInsured(), QString());
    for (const Text& city : m_ledger.tables().insurance.cities())
        m_insuranceCity->addItem(toQString(city), toQString(city));
    const Entry* e = line ? &line->entry : nullptr;
    const QString city = e ? toQString(e->insuranceCity) : QString();
    if (!city.isEmpty() && m_insuranceCity->findData(city) < 0)
        m_insuranceCity->addItem(city, city);
    m_insuranceCity->setCurrentIndex(std::max(m_insuranceCity->findData(city), 0));
    m_insuranceCity->setEnabled(open);
    const bool insured = e && !e->insuranceCity.empty();
    const Exact* values[4] = {e ? &e->socialBase : nullptr, e ? &e->fundBase : nullptr,
                              e ? &e->fundRate : nullptr, e ? &e->fundExtraRate : nullptr};
    for (std::size_t i = 0; i < m_insuranceBoxes.size(); ++i) {
        m_insuranceBoxes[i]->setEnabled(open && insured);
        m_insuranceBoxes[i]->setText(insured ? toQString(ToText(*values[i])) : QString());
    }
    if (!line) {
        m_insuranceNote->clear();
        return;
    }
    QString note;
    if (!insured) {
        note = QStringLiteral("选择参保城市后，专项扣除的四项按该城市本月适用的规则计算。");
    } else if (const insurance::CityRules* rules = m_ledger.tables().insurance.inForce(
                   e->insuranceCity, m_sheet.year(), m_sheet.month())) {
        Outcome<insurance::Contributions> c = insurance::contribute(
            *rules, {e->socialBase, e->fundBase, e->fundRate, e->fundExtraRate});
        if (!c) {
            note = toQString(c.problem().message);
        } else {
            for (const insurance::ContributionLine& l : c->lines)
                note += toQString(insurance::explain(l)) + QLatin1Char('\n');
            for (int i = 0; i < 4; ++i)
                if (e->insuranceManual & (1 << i))
                    note += QStringLiteral("%1按手工填写的数（清空即恢复按规则计算）\n")
                                .arg(QString::fromUtf8(engine::fieldName(kItemInfo[i].field)));
            Outcome<EmployerCost> cost =
                employerCost(m_ledger.tables().insurance, m_sheet.year(), *line);
            if (cost && cost->total())
                note += QStringLiteral("单位社保%1，公积金%2；用工成本%3\n")
                            .arg(toQString(ToText(*cost->social)), toQString(ToText(*cost->fund)),
                                 toQString(ToText(*cost->total())));
            else if (cost)
                note += QStringLiteral("单位负担：规则中没有单位的全部费率（可在“社保规则…”中"
                                       "按通知填写）\n");
            note += QStringLiteral("依据：%1").arg(toQString(rules->source));
        }
    } else {
        note = QStringLiteral("本月没有%1的规则：请在“社保规则…”中添加").arg(city);
    }
    // The next base period's base is the average monthly wage; the year before's where the
    // ledger has it, else this year's months so far.
    for (const int year : {m_sheet.year() - 1, m_sheet.year()}) {
        Exact sum;
        int months = 0;
        for (int m = 1; m <= (year < m_sheet.year() ? 12 : m_sheet.month() - 1); ++m) {
            Outcome<std::optional<Entry>> earlier = m_ledger.entry(year, m, line->employee.key);
            if (earlier && *earlier && (*earlier)->income) {
                sum += *(*earlier)->income + (*earlier)->bonus;
                ++months;
            }
        }
        if (months == 0) continue;
        note += QStringLiteral("\n建议缴费基数：%1年月均工资%2（%3个月）")
                    .arg(year)
                    .arg(toQString(ToText(Round(sum / Exact(months), 2))))
                    .arg(months);
        break;
    }
    m_insuranceNote->setText(note);
}

void LedgerWindow::insuranceEdited() {
    const MonthLine* line = currentLine();
    if (m_showing || !line || m_sheet.declared()) return;
    LedgerSheet::Insurance insurance = LedgerSheet::insuranceOf(line->entry);
    insurance.city = fromQString(m_insuranceCity->currentData().toString());
    Exact* values[4] = {&insurance.socialBase, &insurance.fundBase, &insurance.fundRate,
                        &insurance.fundExtraRate};
    const bool newlyInsured = line->entry.insuranceCity.empty() && !insurance.city.empty();
    for (std::size_t i = 0; i < m_insuranceBoxes.size() && !newlyInsured; ++i) {
        if (insurance.city.empty()) break;
        Outcome<Exact> v = engine::parseAmount(m_insuranceBoxes[i]->text().trimmed().toStdString());
        if (!v) {
            message(sysText("“") + sysText(kInsuranceBoxNames[i]) + sysText("”：") +
                    v.problem().message);
            showEmployee();
            return;
        }
        *values[i] = *v;
    }
    // The housing fund base that was the social-insurance base follows it.
    const Entry& was = line->entry;
    if (!newlyInsured && was.fundBase == was.socialBase && insurance.fundBase == was.fundBase)
        insurance.fundBase = insurance.socialBase;
    // A city chosen anew starts from the month's income as both bases, at the lowest rate.
    if (newlyInsured) {
        insurance.socialBase = insurance.fundBase = line->entry.income.value_or(Exact(0));
        if (const insurance::CityRules* rules = m_ledger.tables().insurance.inForce(
                insurance.city, m_sheet.year(), m_sheet.month()))
            insurance.fundRate = rules->fundRateLowest;
    }
    const int row = m_sheet.grid().currentRow(), column = m_sheet.grid().currentColumn();
    said(m_sheet.setInsurance(line->employee.key, insurance));
    refreshChoices();
    m_sheet.grid().setCurrentCell(row, column);
    showEmployee();
}

void LedgerWindow::editInsuranceRules() {
    commitEdit();
    InsuranceRulesDialog dialog(this, m_ledger.keepsLaws() ? std::optional(insurance::formatRules(
                                                                 m_ledger.tables().insurance))
                                                           : std::nullopt);
    if (dialog.exec() != QDialog::Accepted || !dialog.saved()) return;
    if (!said(m_ledger.setInsuranceRules(*dialog.saved()))) return;
    Outcome<InsuranceUpdate> update = m_ledger.applyInsuranceRules(m_sheet.year());
    const int row = m_sheet.grid().currentRow(), column = m_sheet.grid().currentColumn();
    said(m_sheet.show(m_sheet.year(), m_sheet.month()));
    refreshChoices();
    m_sheet.grid().setCurrentCell(row, column);
    showEmployee();
    if (!said(update)) return;
    Text told =
        sysText(m_ledger.keepsLaws() ? "社保公积金规则已保存到台账服务器，各台电脑从此按它计算。"
                                     : "社保公积金规则已保存。");
    if (!update->months.empty()) {
        told += Text::fromBytes(std::to_string(m_sheet.year())) + sysText("年按新规则重算了");
        for (std::size_t i = 0; i < update->months.size(); ++i)
            told += (i ? sysText("、") : Text{}) + monthName(update->months[i]);
        told += sysText("的") + Text::fromBytes(std::to_string(update->entries)) +
                sysText("条记录（手工填写的项目未改）。");
    }
    if (!update->declared.empty()) {
        told += sysText("\n\n已申报的月份不变；按新规则，这些职工的专项扣除有差额，"
                        "可能需要在以后的月份或更正申报中处理：");
        for (std::size_t i = 0; i < update->declared.size() && i < 20; ++i) {
            const InsuranceUpdate::Difference& d = update->declared[i];
            told += sysText("\n") + d.employee.name + sysText(" ") + monthName(d.month) +
                    sysText("：已申报") + ToText(d.declared) + sysText("，按新规则") +
                    ToText(d.now);
        }
        if (update->declared.size() > 20)
            told += sysText("\n……共") + Text::fromBytes(std::to_string(update->declared.size())) +
                    sysText("条");
    }
    message(told);
}

} // namespace iit::ledger
