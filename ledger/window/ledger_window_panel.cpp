// The ledger window's panel of the current employee: their details (papers, residence, the
// months they joined and left, the two options of the basic deduction) and the comparison of
// the two ways of taxing their annual bonus, where the clerk decides it.
#include "ledger/window/ledger_window.h"

#include "base/convert.h"
#include "base/identity_card.h"
#include "engine/amount.h"
#include "gui/qt_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace iit::ledger {
namespace {

QString cellOf(const MonthLine& line, int column) {
    return toQString(sheetCellText(line, column));
}

// The line's results, for the clerk who looks at the names and not at the columns at the right.
QString figures(const MonthLine& l) {
    if (!l.entry.income) return QStringLiteral("本月收入还没有填写：填写后即计算");
    QString text;
    if (l.method == Method::Monthly)
        text = QStringLiteral("非居民个人，按月计税\n");
    else
        text = QStringLiteral(
                   "累计应纳税所得额 %1\n预扣率 %2，速算扣除数 %3\n累计应纳税额 %4，已预扣 %5\n")
                   .arg(cellOf(l, kTaxableColumn), cellOf(l, kRateColumn),
                        cellOf(l, kQuickDeductionColumn), cellOf(l, kCumulativeTaxColumn),
                        cellOf(l, kWithheldBeforeColumn));
    text += QStringLiteral("本月应预扣 %1").arg(cellOf(l, kWithholdingColumn));
    if (!l.bonusTax.isZero())
        text += QStringLiteral("，奖金税额 %1").arg(cellOf(l, kBonusTaxColumn));
    text += QStringLiteral("\n实发 %1").arg(cellOf(l, kAfterTaxColumn));
    return text;
}

void setEmpty(QLabel* label, bool empty) {
    if (label->property("empty").toBool() == empty) return;
    label->setProperty("empty", empty);
    label->style()->unpolish(label);
    label->style()->polish(label);
}

} // namespace

const MonthLine* LedgerWindow::currentLine() const {
    return m_sheet.lineAt(m_sheet.grid().currentRow());
}

void LedgerWindow::showEmployee() {
    const MonthLine* line = currentLine();
    m_showing = true;
    const bool open = line && !m_sheet.declared();
    for (QWidget* unit :
         std::initializer_list<QWidget*>{m_idType, m_joinMonth, m_leftMonth, m_resident,
                                         m_fromJanuary, m_annualDeduction, m_removeEmployee})
        unit->setEnabled(open);
    m_openings->setEnabled(!m_sheet.declared() && !m_sheet.lines().empty());
    m_bonus.reset();
    if (!line) {
        m_employeeName->setText(
            m_sheet.lines().empty()
                ? QStringLiteral("本月还没有职工：在表格的空行中填写姓名和身份证号，"
                                 "或从表格粘贴、导入，或从上月带入。")
                : QStringLiteral("单击职工所在的行，在这里查看和修改他的信息。"));
        m_figures->clear();
        setEmpty(m_figures, true);
        m_bonusText->clear();
        m_bonusSwitch->hide();
        showInsurance(nullptr, false);
        showItems(nullptr, false);
        showFacts(nullptr, false);
        m_history->hide();
        m_showing = false;
        return;
    }
    const Employee& e = line->employee;
    m_employeeName->setText(toQString(e.name) + QStringLiteral("　") + toQString(e.key.idNumber));
    m_figures->setText(figures(*line));
    setEmpty(m_figures, false);
    const int type = m_idType->findText(toQString(e.key.idType));
    if (type < 0) m_idType->addItem(toQString(e.key.idType));
    m_idType->setCurrentText(toQString(e.key.idType));
    m_joinMonth->setCurrentIndex(e.joinMonth.value_or(0));
    m_leftMonth->setCurrentIndex(e.leftMonth.value_or(0));
    m_resident->setChecked(e.resident);
    m_fromJanuary->setChecked(e.options.fromJanuary);
    m_annualDeduction->setChecked(e.options.annualDeduction);
    showInsurance(line, open);
    showItems(line, open);
    showFacts(&e, open);
    showHistory(e.key);
    m_showing = false;

    Outcome<std::optional<BonusChoice>> choice = m_ledger.compareBonus(m_sheet.year(), e.key);
    m_bonusSwitch->hide();
    if (!choice) {
        m_bonusText->setText(toQString(choice.problem().message));
        return;
    }
    if (!*choice) {
        m_bonusText->setText(e.resident ? QStringLiteral("本年还没有全年一次性奖金。")
                                        : QStringLiteral("非居民个人的奖金并入当月工资按月计算。"));
        return;
    }
    m_bonus = **choice;
    const BonusChoice& b = *m_bonus;
    m_bonusText->setText(toQString(bonusChoiceText(b)));
    const BonusMethod other =
        b.entered == BonusMethod::Separate ? BonusMethod::Combined : BonusMethod::Separate;
    m_bonusSwitch->setText(QStringLiteral("改为") + toQString(engine::bonusMethodText(other)));
    m_bonusSwitch->setEnabled(!m_sheet.declared());
    m_bonusSwitch->show();
}

void LedgerWindow::showHistory(const PersonKey& key) {
    // Who changed the employee's records of the year and when: kept by a server ledger.
    Outcome<std::vector<LedgerStore::ChangeRecord>> h = m_ledger.history(m_sheet.year(), key, 5);
    if (!h || h->empty()) {
        m_history->hide();
        return;
    }
    QString text = QStringLiteral("修改记录");
    for (const LedgerStore::ChangeRecord& r : *h)
        text += QStringLiteral("\n") + toQString(r.when).mid(5) + QStringLiteral(" ") +
                toQString(r.who) + QStringLiteral(" ") +
                (r.month ? QString::number(r.month) + QStringLiteral("月") : QString()) +
                toQString(r.what);
    m_history->setText(text);
    m_history->show();
}

void LedgerWindow::showItems(const MonthLine* line, bool open) {
    for (std::size_t i = 0; i < kItemColumns; ++i) {
        QLineEdit* box = m_items[i];
        box->setEnabled(open);
        box->setText(line ? toQString(itemCell(*line, i, CellStyle::Sheet)) : QString());
        // A group given as a sum alone shows its sum beside its first item.
        QString hint;
        if (line && i < kItems && !(line->entry.itemised & groupBit(kItemInfo[i].group)) &&
            (i == 0 || kItemInfo[i - 1].group != kItemInfo[i].group)) {
            const Exact& sum = kItemInfo[i].group == ItemGroup::Special ? line->entry.special
                               : kItemInfo[i].group == ItemGroup::SpecialAdditional
                                   ? line->entry.specialAdditional
                                   : line->entry.other;
            if (!sum.isZero()) hint = QStringLiteral("合计 ") + toQString(ToText(sum));
        }
        box->setPlaceholderText(hint);
    }
    m_itemsNote->setText(
        !line ? QString()
              : QStringLiteral("填写各项后，专项扣除、专项附加扣除和其他扣除即为各项之和，"
                               "表格中的合计随之只读；一组各项都清空则保留其合计。"));
}

void LedgerWindow::itemsEdited() {
    const MonthLine* line = currentLine();
    if (m_showing || !line || m_sheet.declared()) return;
    // A group with an item filled in (0 included) is entered item by item.
    int itemised = 0;
    std::array<Exact, kItems> items{};
    Exact donation;
    for (std::size_t i = 0; i < kItemColumns; ++i) {
        const QString text = m_items[i]->text().trimmed();
        Outcome<Exact> v = engine::parseAmount(text.toStdString());
        if (!v) {
            message(sysText("“") + fromQString(m_items[i]->accessibleName()) + sysText("”：") +
                    v.problem().message);
            showEmployee();
            return;
        }
        if (i == kItems) {
            donation = *v;
        } else {
            items[i] = *v;
            if (!text.isEmpty()) itemised |= groupBit(kItemInfo[i].group);
        }
    }
    for (std::size_t i = 0; i < kItems; ++i)
        if (!(itemised & groupBit(kItemInfo[i].group))) items[i] = Exact{};
    // An insured employee's item emptied is the rules' again.
    int byRules = 0;
    for (std::size_t i = 0; i < 4; ++i)
        if (m_items[i]->text().trimmed().isEmpty()) byRules |= 1 << i;
    const int row = m_sheet.grid().currentRow(), column = m_sheet.grid().currentColumn();
    said(m_sheet.setItems(line->employee.key, itemised, items, donation, byRules));
    refreshChoices();
    m_sheet.grid().setCurrentCell(row, column);
    showEmployee();
}

void LedgerWindow::showFacts(const Employee* e, bool open) {
    // A 居民身份证 number holds the bearer's sex and date of birth; the nationality is 中国.
    std::optional<IdentityCardFacts> card;
    const bool identityCard = e && e->key.idType == engine::identityCardType();
    if (identityCard) card = identityCardFacts(e->key.idNumber.view());
    for (const auto& [field, unit] : m_facts) {
        const bool fromNumber =
            identityCard && (field == PayrollField::Nationality || field == PayrollField::Sex ||
                             field == PayrollField::BirthDate);
        QString text = e ? toQString(factText(*e, field)) : QString();
        if (fromNumber) {
            text = field == PayrollField::Nationality ? QStringLiteral("中国")
                   : !card                            ? QString()
                   : field == PayrollField::Sex
                       ? (card->male ? QStringLiteral("男") : QStringLiteral("女"))
                       : QString::fromStdString(engine::dateText(card->birthDate));
        }
        unit->setEnabled(open && !fromNumber);
        unit->setToolTip(fromNumber ? QStringLiteral("由居民身份证号码得出") : QString());
        if (auto* box = qobject_cast<QLineEdit*>(unit))
            box->setText(text);
        else if (auto* list = qobject_cast<QComboBox*>(unit))
            list->setCurrentIndex(std::max(list->findData(text), 0));
        else if (auto* check = qobject_cast<QCheckBox*>(unit))
            check->setChecked(text == QStringLiteral("是"));
    }
}

void LedgerWindow::factEdited(PayrollField field, const QString& text) {
    const MonthLine* line = currentLine();
    if (m_showing || !line || m_sheet.declared()) return;
    Employee e = line->employee;
    if (Outcome<void> r = setFact(e, field, text.toStdString(), m_sheet.year()); !r) {
        message(r.problem().message);
        showEmployee();
        return;
    }
    if (factText(e, field) == factText(line->employee, field) &&
        e.leftMonth == line->employee.leftMonth &&
        e.options.fromJanuary == line->employee.options.fromJanuary)
        return;
    const int row = m_sheet.grid().currentRow(), column = m_sheet.grid().currentColumn();
    said(m_sheet.putEmployee(e));
    refreshChoices();
    m_sheet.grid().setCurrentCell(row, column);
    showEmployee();
}

void LedgerWindow::employeeChanged() {
    const MonthLine* line = currentLine();
    if (m_showing || !line) return;
    Employee e = line->employee;
    const int join = m_joinMonth->currentIndex(), left = m_leftMonth->currentIndex();
    e.joinMonth = join > 0 ? std::optional<int>(join) : std::nullopt;
    e.leftMonth = left > 0 ? std::optional<int>(left) : std::nullopt;
    e.resident = m_resident->isChecked();
    e.options.fromJanuary = m_fromJanuary->isChecked();
    e.options.annualDeduction = m_annualDeduction->isChecked();
    said(m_sheet.putEmployee(e));
    refreshChoices();
    showEmployee();
}

void LedgerWindow::idTypeChanged() {
    const MonthLine* line = currentLine();
    if (m_showing || !line) return;
    const PersonKey from = line->employee.key;
    const PersonKey to{fromQString(m_idType->currentText()), from.idNumber};
    said(m_sheet.changeKey(from, to));
    refreshChoices();
    showEmployee();
}

void LedgerWindow::switchBonusMethod() {
    if (!m_bonus) return;
    const BonusMethod other =
        m_bonus->entered == BonusMethod::Separate ? BonusMethod::Combined : BonusMethod::Separate;
    const int row = m_sheet.grid().currentRow();
    said(m_sheet.setBonusMethod(*m_bonus, other));
    refreshChoices();
    if (m_sheet.month() == m_bonus->month || m_sheet.lineAt(row))
        m_sheet.grid().setCurrentCell(m_sheet.rowOf(m_bonus->employee.key), kBonusMethodColumn);
    showEmployee();
}

} // namespace iit::ledger
