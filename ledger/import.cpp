// The import of a month, and of opening balances, from rows of cells: the header names the
// columns (by any of the names of engine/payroll_row.h); every faulty row is named, and then
// nothing changes.
#include "ledger/book.h"

#include "base/cell_text.h"
#include "engine/amount.h"
#include "ledger/month_cells.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;
using engine::PayrollField;

namespace {

// The month's own fields, then every field of the declaration from the items to the employee's
// facts (contiguous in PayrollField).
constexpr PayrollField kMonthFields[] = {PayrollField::IdType,
                                         PayrollField::IdNumber,
                                         PayrollField::Name,
                                         PayrollField::BankCard,
                                         PayrollField::Resident,
                                         PayrollField::FromJanuary,
                                         PayrollField::AnnualDeduction,
                                         PayrollField::Income,
                                         PayrollField::TaxFree,
                                         PayrollField::Special,
                                         PayrollField::SpecialAdditional,
                                         PayrollField::Other,
                                         PayrollField::Relief,
                                         PayrollField::Bonus,
                                         PayrollField::BonusMethod,
                                         PayrollField::Remark};
constexpr std::size_t kDeclarationFields =
    engine::kPayrollFields - static_cast<std::size_t>(PayrollField::Pension);
constexpr auto kImportFields = [] {
    std::array<PayrollField, std::size(kMonthFields) + kDeclarationFields> fields{};
    std::size_t n = 0;
    for (const PayrollField f : kMonthFields)
        fields[n++] = f;
    for (std::size_t i = 0; i < kDeclarationFields; ++i)
        fields[n++] =
            static_cast<PayrollField>(static_cast<std::size_t>(PayrollField::Pension) + i);
    return fields;
}();

constexpr std::array kOpeningFields = {PayrollField::IdType,
                                       PayrollField::IdNumber,
                                       PayrollField::Name,
                                       PayrollField::ThroughMonth,
                                       PayrollField::CumulativeIncome,
                                       PayrollField::CumulativeTaxFree,
                                       PayrollField::CumulativeBasic,
                                       PayrollField::CumulativeSpecial,
                                       PayrollField::CumulativeSpecialAdditional,
                                       PayrollField::CumulativeOther,
                                       PayrollField::CumulativeRelief,
                                       PayrollField::CumulativeWithheld};

// A row's cells by field, from the header's columns.
class RowCells {
public:
    RowCells(const std::vector<Text>& header, std::span<const PayrollField> fields) {
        m_column.fill(-1);
        for (std::size_t c = 0; c < header.size(); ++c)
            if (const auto f = engine::fieldNamed(header[c].toUtf8(), fields))
                m_column[static_cast<std::size_t>(*f)] = static_cast<int>(c);
    }
    bool has(PayrollField f) const { return m_column[static_cast<std::size_t>(f)] >= 0; }
    const Text& of(const std::vector<Text>& row, PayrollField f) const {
        static const Text empty;
        const int c = m_column[static_cast<std::size_t>(f)];
        return c >= 0 && static_cast<std::size_t>(c) < row.size() ? row[static_cast<std::size_t>(c)]
                                                                  : empty;
    }
    // The cell as UTF-8 without the spaces around it.
    std::string trimmed(const std::vector<Text>& row, PayrollField f) const {
        const Text& t = of(row, f);
        // Numbers and amounts are ASCII, the same bytes in UTF-8: nothing to convert.
        const std::string_view bytes = t.view();
        if (std::all_of(bytes.begin(), bytes.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return std::string(engine::trimCell(bytes));
        return std::string(engine::trimCell(t.toUtf8()));
    }

private:
    std::array<int, engine::kPayrollFields> m_column{};
};

constexpr PayrollField kSumField[3] = {PayrollField::Special, PayrollField::SpecialAdditional,
                                       PayrollField::Other};

// What an employee's months before the imported one hold item by item: the sums of their items,
// and the groups that a month (or the opening balances) gave as a sum alone, whose items are
// not known. The year-to-date columns of the declaration's sheet become the month's amounts by
// the difference with these.
bool blankRow(const std::vector<Text>& row) {
    return std::all_of(row.begin(), row.end(),
                       [](const Text& c) { return engine::trimCell(c.toUtf8()).empty(); });
}

// A cell of an amount in fen, or the problem with the column's name.
Outcome<std::int64_t> amountCell(const std::string& utf8, PayrollField field) {
    Outcome<Exact> v = engine::parseAmount(utf8);
    if (!v) return fail(sysText(engine::fieldName(field)) + sysText("：") + v.problem().message);
    return engine::fenOf(*v);
}

// The groups whose items (or the declaration's year-to-date items) a sheet's header has.
int itemGroupsOf(const RowCells& cells) {
    int groups = 0;
    for (std::size_t i = 0; i < kItems; ++i)
        if (cells.has(kItemInfo[i].field) ||
            (kItemInfo[i].yearToDate && cells.has(*kItemInfo[i].yearToDate)))
            groups |= groupBit(kItemInfo[i].group);
    return groups;
}

const char* groupName(ItemGroup g) {
    return engine::fieldName(kSumField[static_cast<int>(g)]);
}

constexpr ItemGroup kGroups[] = {ItemGroup::Special, ItemGroup::SpecialAdditional,
                                 ItemGroup::Other};

// A row's items into its entry. The groups whose items the sheet has are itemised (each sum
// its items'; a sum given beside them must agree); a group the sheet gives as a sum alone is
// not itemised any more. A year-to-date item becomes the month's by the difference with the
// months before (`earlier`, none for an employee new to the year).
template <class Problem>
void readItems(const RowCells& cells, const std::vector<Text>& row, int sheetGroups,
               const EarlierItems* earlier, StoredEntry& e, Problem&& problem) {
    // A row that leaves a group's items empty and gives its sum gives the sum alone.
    for (const ItemGroup g : kGroups) {
        if (!(sheetGroups & groupBit(g))) continue;
        bool any = false;
        for (std::size_t i = 0; i < kItems; ++i)
            if (kItemInfo[i].group == g)
                any = any || !cells.trimmed(row, kItemInfo[i].field).empty() ||
                      (kItemInfo[i].yearToDate &&
                       !cells.trimmed(row, *kItemInfo[i].yearToDate).empty());
        if (!any && !cells.trimmed(row, kSumField[static_cast<int>(g)]).empty())
            sheetGroups &= ~groupBit(g);
    }
    for (const ItemGroup g : kGroups) {
        const int bit = groupBit(g);
        const bool itemsGiven = (sheetGroups & bit) != 0;
        if (!itemsGiven && !cells.has(kSumField[static_cast<int>(g)])) continue;
        if (!itemsGiven || !(e.itemised & bit))
            for (std::size_t i = 0; i < kItems; ++i)
                if (kItemInfo[i].group == g) e.items[i] = 0;
        if (!itemsGiven)
            e.itemised &= ~bit;
        else
            e.itemised |= bit;
    }
    for (std::size_t i = 0; i < kItems; ++i) {
        if (!(sheetGroups & groupBit(kItemInfo[i].group))) continue;
        const PayrollField field = kItemInfo[i].field;
        const std::string cell = cells.trimmed(row, field);
        const std::optional<PayrollField> cumulative = kItemInfo[i].yearToDate;
        const std::string cumulativeCell =
            cumulative ? cells.trimmed(row, *cumulative) : std::string();
        if (!cell.empty() || (cells.has(field) && cumulativeCell.empty())) {
            if (Outcome<std::int64_t> v = amountCell(cell, field))
                e.items[i] = *v;
            else
                problem(v.problem().message);
        } else if (!cumulativeCell.empty()) {
            Outcome<std::int64_t> v = amountCell(cumulativeCell, *cumulative);
            const std::int64_t before = earlier ? earlier->sums[i] : 0;
            if (!v) {
                problem(v.problem().message);
            } else if (earlier && (earlier->unknown & groupBit(kItemInfo[i].group))) {
                problem(sysText("此前月份的") + sysText(groupName(kItemInfo[i].group)) +
                        sysText("未分项，请给出本月的“") + sysText(engine::fieldName(field)) +
                        sysText("”"));
            } else if (*v < before) {
                problem(sysText(engine::fieldName(*cumulative)) + sysText("小于此前各月之和") +
                        ToText(engine::fromFen(before)));
            } else {
                e.items[i] = *v - before;
            }
        }
    }
    for (const ItemGroup g : kGroups) {
        if (!(sheetGroups & groupBit(g))) continue;
        std::int64_t sum = 0;
        for (std::size_t i = 0; i < kItems; ++i)
            if (kItemInfo[i].group == g) sum += e.items[i];
        const PayrollField sumField = kSumField[static_cast<int>(g)];
        if (!cells.trimmed(row, sumField).empty() && groupSum(e, g) != sum)
            problem(sysText(engine::fieldName(sumField)) + ToText(engine::fromFen(groupSum(e, g))) +
                    sysText("与其各项之和") + ToText(engine::fromFen(sum)) + sysText("不符"));
        groupSum(e, g) = sum;
    }
}

// The city, bases and housing fund rates of the social insurance, where the sheet has them (an
// empty city: not insured here). An insured row's items of 专项扣除 that it fills stand as
// given; where they equal what the rules give, they are the rules' again.
// A column of few values (the cities) read as the last row gave it when its cell is the same.
struct RepeatedCell {
    Text raw, value;
    const Text& of(const RowCells& cells, const std::vector<Text>& row, PayrollField field) {
        const Text& cell = cells.of(row, field);
        if (cell != raw) {
            raw = cell;
            value = Text::fromUtf8(cells.trimmed(row, field));
        }
        return value;
    }
};

template <class Problem>
void readInsurance(const RowCells& cells, const std::vector<Text>& row, RepeatedCell& city,
                   StoredEntry& e, Problem&& problem) {
    if (cells.has(PayrollField::InsuranceCity))
        e.insuranceCity = city.of(cells, row, PayrollField::InsuranceCity);
    for (const auto& [field, to] : {std::pair(PayrollField::SocialBase, &e.socialBase),
                                    std::pair(PayrollField::FundBase, &e.fundBase)}) {
        if (!cells.has(field)) continue;
        if (Outcome<std::int64_t> v = amountCell(cells.trimmed(row, field), field))
            *to = *v;
        else
            problem(v.problem().message);
    }
    // Without a base of its own, the housing fund is paid on the social-insurance base.
    if (cells.has(PayrollField::SocialBase) && !cells.has(PayrollField::FundBase))
        e.fundBase = e.socialBase;
    for (const auto& [field, to] : {std::pair(PayrollField::FundRate, &e.fundRate),
                                    std::pair(PayrollField::FundExtraRate, &e.fundExtraRate)}) {
        if (!cells.has(field)) continue;
        // A percentage in the grammar of an amount: 7 is 7 %, kept in ten-thousandths.
        Outcome<std::int64_t> hundredths = amountCell(cells.trimmed(row, field), field);
        if (!hundredths || *hundredths >= 100 * 100)
            problem(sysText(engine::fieldName(field)) +
                    sysText("：应为0到100之间的百分数（7表示7%）"));
        else
            *to = *hundredths * (kRateUnits / 100);
    }
    if (e.insuranceCity.empty()) return;
    for (int i = 0; i < kInsuranceItems; ++i) {
        const PayrollField field = kItemInfo[static_cast<std::size_t>(i)].field;
        if (cells.has(field) && !cells.trimmed(row, field).empty()) e.insuranceManual |= 1 << i;
    }
}

// The declaration's special cases are not a payroll's: an amount in them is not computed.
template <class Problem>
void refuseSpecialCases(const RowCells& cells, const std::vector<Text>& row, Problem&& problem) {
    for (const PayrollField f :
         {PayrollField::OfficialTransport, PayrollField::Communication, PayrollField::LawyerCosts,
          PayrollField::TibetDeduction, PayrollField::TreatyRelief}) {
        const std::string cell = cells.trimmed(row, f);
        if (cell.empty()) continue;
        Outcome<std::int64_t> v = amountCell(cell, f);
        if (!v)
            problem(v.problem().message);
        else if (*v != 0)
            problem(sysText("本程序不计算“") + sysText(engine::fieldName(f)) +
                    sysText("”，请在扣缴客户端中填写"));
    }
}

// The declaration's facts of an employee, where the row has them. An empty 任职受雇从业类型,
// 性别 or choice of paying through the payroll leaves what the employee has.
template <class Problem>
void readFacts(const RowCells& cells, const std::vector<Text>& row, int year, Employee& e,
               Problem&& problem) {
    for (const PayrollField f : factFields()) {
        if (!cells.has(f)) continue;
        const std::string cell = cells.trimmed(row, f);
        if (cell.empty() && (f == PayrollField::EmploymentType || f == PayrollField::Sex ||
                             f == PayrollField::HealthThroughPayroll ||
                             f == PayrollField::DeferredPensionThroughPayroll))
            continue;
        if (Outcome<void> r = setFact(e, f, cell, year); !r) problem(r.problem().message);
    }
}

// What the clerk should know of the deductions entered, warned of and never cut: a donation
// above 30 % of the year-to-date taxable income before it (some donations are deductible in
// full), and 个人养老金 and 商业健康保险 above their yearly caps.
Outcome<void> deductionNotes(LedgerStore& store, int month, const std::vector<Resolved>& changes,
                             const std::unordered_map<EmployeeId, EarlierItems>& earlier,
                             std::vector<Text>& notes) {
    static constexpr struct {
        std::size_t item;
        std::int64_t cap; // fen a year
    } kCaps[] = {{10, 1'200'000}, {kHealthInsuranceItem, 240'000}};
    for (const Resolved& c : changes) {
        if (!c.entry) continue;
        const StoredEntry& e = *c.entry;
        const Text who = rowMessage(c.row, whom(c.employee.employee));
        for (const auto& [item, cap] : kCaps) {
            if (e.items[item] <= 0) continue;
            const auto x = earlier.find(c.employee.id);
            const std::int64_t year =
                e.items[item] + (x != earlier.end() ? x->second.sums[item] : 0);
            if (year > cap)
                notes.push_back(
                    who + sysText("的") + sysText(engine::fieldName(kItemInfo[item].field)) +
                    sysText("本年累计") + ToText(engine::fromFen(year)) + sysText("元，超过每年") +
                    ToText(engine::fromFen(cap)) + sysText("元的限额"));
        }
        if (e.donation <= 0 || !c.employee.employee.resident) continue;
        Outcome<std::optional<StoredEntry>> stored = store.entry(c.employee.id, month);
        if (!stored) return stored.problem();
        if (!*stored) continue;
        const SumsFen& s = (*stored)->cum;
        const std::int64_t before =
            s.income - s.taxFree - s.basic - s.special - s.specialAdditional - s.other;
        if (s.donation * 10 > before * 3)
            notes.push_back(who + sysText("的准予扣除的捐赠额累计") +
                            ToText(engine::fromFen(s.donation)) +
                            sysText("元，超过扣除捐赠额前累计应纳税所得额的30%（") +
                            ToText(engine::fromFen(std::max<std::int64_t>(before, 0) * 3 / 10)) +
                            sysText("元）；按规定可全额扣除的捐赠除外"));
    }
    return {};
}

// The employee's facts that change nothing computed.
bool sameFacts(const Employee& a, const Employee& b) {
    return a.staffNumber == b.staffNumber && a.type == b.type && a.phone == b.phone &&
           a.employedSince == b.employedSince && a.leftOn == b.leftOn &&
           a.leftMonth == b.leftMonth && a.firstJob == b.firstJob &&
           a.nationality == b.nationality && a.sex == b.sex && a.birthDate == b.birthDate;
}

} // namespace

std::span<const PayrollField> importFields() {
    return kImportFields;
}

std::span<const PayrollField> openingFields() {
    return kOpeningFields;
}

Outcome<ChangeReport> Ledger::importMonth(int year, int month,
                                          const std::vector<std::vector<Text>>& rows,
                                          const Progress& progress,
                                          const std::vector<std::size_t>& rowNumbers,
                                          Missing missing) {
    return detail::retried(*m_book, [&]() -> Outcome<ChangeReport> {
        Book& book = *m_book;
        LedgerStore& store = *book.store;
        if (rows.empty()) return fail(sysText("没有标题行"));
        const RowCells cells(rows[0], kImportFields);
        if (!cells.has(PayrollField::IdNumber) || !cells.has(PayrollField::Name) ||
            !cells.has(PayrollField::Income))
            return fail(sysText("标题行应有“证件号码”（或“身份证号”）、“姓名”和“本月收入”"));

        Outcome<std::unique_ptr<StoreTransaction>> t = store.begin();
        if (!t) return t.problem();
        if (Outcome<void> r = checkMonthOpen(book, year, month); !r) return r.problem();

        // The year's employees, once, found by their numbers: a row finds its employee by number
        // and type, and a row without a type the one type that holds its number. The index holds
        // views of the employees' own numbers, not copies of them.
        Outcome<std::vector<StoredEmployee>> year_ = store.employees(year);
        if (!year_) return year_.problem();
        std::vector<StoredEmployee>& known = *year_;
        // The months before, item by item, where the sheet gives year-to-date items.
        const int sheetGroups = itemGroupsOf(cells);
        // (and where it gives the two items with a yearly cap, whose year is summed).
        bool yearToDateItems =
            cells.has(PayrollField::PersonalPension) || cells.has(PayrollField::HealthInsurance);
        for (std::size_t i = 0; i < kItems; ++i)
            yearToDateItems |= kItemInfo[i].yearToDate && cells.has(*kItemInfo[i].yearToDate);
        std::unordered_map<EmployeeId, EarlierItems> earlier;
        if (yearToDateItems)
            if (Outcome<void> r = earlierItems(store, year, month, known, earlier); !r)
                return r.problem();
        static const EarlierItems kNothingEarlier;
        std::unordered_multimap<std::string_view, std::size_t> byNumber; // number, index into known
        byNumber.reserve(known.size());
        for (std::size_t i = 0; i < known.size(); ++i)
            byNumber.emplace(known[i].employee.key.idNumber.view(), i);
        // The month's entries as they stand: an entry changes only in the columns the rows have.
        Outcome<std::vector<StoredLine>> current = store.month(year, month);
        if (!current) return current.problem();
        std::unordered_map<EmployeeId, const StoredEntry*> entryOf;
        entryOf.reserve(current->size());
        for (const StoredLine& l : *current)
            entryOf.emplace(l.employee.id, &l.entry);

        // The number a row is named by: its own, or its position with the header as row 1.
        auto numberOf = [&](std::size_t r) {
            return r < rowNumbers.size() ? rowNumbers[r] : r + 1;
        };
        Text errors;
        auto refuse = [&](std::size_t row, const Text& why) {
            if (!errors.empty()) errors += Text::fromBytes("\n");
            errors += rowMessage(row, why);
        };
        ChangeReport notes;
        // The row that named each employee first: the year's by their place in known, new ones by
        // their key.
        constexpr std::size_t kUnseen = static_cast<std::size_t>(-1);
        std::vector<std::size_t> seenKnown(known.size(), kUnseen);
        std::unordered_map<std::string, std::size_t> seenNew;
        std::vector<Resolved> changes;
        changes.reserve(rows.size());
        // Index into changes, for a new employee and an update of one; those whose options change,
        // whose year is computed again.
        std::vector<std::size_t> toWrite, recompute;
        std::vector<PersonKey> added;   // the new ones
        std::vector<Employee> previous; // employees as they were before an update
        const std::pair<PayrollField, std::int64_t EnteredMonth::*> amounts[] = {
            {PayrollField::TaxFree, &EnteredMonth::taxFree},
            {PayrollField::Special, &EnteredMonth::special},
            {PayrollField::SpecialAdditional, &EnteredMonth::specialAdditional},
            {PayrollField::Other, &EnteredMonth::other},
            {PayrollField::Relief, &EnteredMonth::relief},
            {PayrollField::Bonus, &EnteredMonth::bonus},
            {PayrollField::Donation, &EnteredMonth::donation}};
        RepeatedCell city;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const std::vector<Text>& row = rows[r];
            if (blankRow(row)) continue;
            Text why;
            auto problem = [&](const Text& reason) {
                if (!why.empty()) why += sysText("；");
                why += reason;
            };
            PersonKey key;
            const std::string number =
                engine::identityKey(cells.trimmed(row, PayrollField::IdNumber));
            key.idNumber = Text::fromUtf8(number);
            const auto [firstHolder, lastHolder] = byNumber.equal_range(key.idNumber.view());
            if (const std::string type = cells.trimmed(row, PayrollField::IdType); !type.empty()) {
                Outcome<Text> given = engine::identityTypeOf(type);
                if (given)
                    key.idType = std::move(*given);
                else
                    problem(given.problem().message);
            } else {
                // Without a 证件类型, the number is the year's employee's who holds it, else an
                // identity card's (none, or several: the row must say which).
                key.idType = firstHolder != lastHolder && std::next(firstHolder) == lastHolder
                                 ? known[firstHolder->second].employee.key.idType
                                 : identityCardType();
            }
            const StoredEmployee* found = nullptr;
            const StoredEmployee* otherType = nullptr;
            std::size_t foundAt = 0;
            for (auto h = firstHolder; h != lastHolder; ++h) {
                if (known[h->second].employee.key.idType == key.idType) {
                    foundAt = h->second;
                    found = &known[foundAt];
                } else {
                    otherType = &known[h->second];
                }
            }
            if (!key.idType.empty())
                if (Outcome<void> ok = engine::checkIdentityNumber(key.idType, key.idNumber); !ok)
                    problem(ok.problem().message);
            const Text& nameCell = cells.of(row, PayrollField::Name);
            const std::string nameUtf8 = nameCell.toUtf8();
            const std::string_view trimmedName = engine::trimCell(nameUtf8);
            // Converted back only when there was something to trim.
            const Text name =
                trimmedName.size() == nameUtf8.size() ? nameCell : Text::fromUtf8(trimmedName);
            if (name.empty()) problem(sysText("姓名为空"));
            // An entry the month has changes only in the columns the rows have.
            const auto had = found ? entryOf.find(found->id) : entryOf.end();
            StoredEntry e;
            if (had != entryOf.end()) {
                static_cast<EnteredMonth&>(e) = *had->second;
            } else {
                e.month = month;
                e.bonusMethod = BonusMethod::Combined;
            }
            if (const std::string income = cells.trimmed(row, PayrollField::Income);
                income.empty()) {
                e.income.reset();
            } else if (Outcome<std::int64_t> v = amountCell(income, PayrollField::Income); v) {
                e.income = *v;
            } else {
                problem(v.problem().message);
            }
            for (const auto& [field, to] : amounts) {
                if (!cells.has(field)) continue;
                Outcome<std::int64_t> v = amountCell(cells.trimmed(row, field), field);
                if (v)
                    e.*to = *v;
                else
                    problem(v.problem().message);
            }
            if (sheetGroups != 0 || cells.has(PayrollField::Special) ||
                cells.has(PayrollField::SpecialAdditional) || cells.has(PayrollField::Other)) {
                const EarlierItems* before = nullptr;
                if (found) {
                    const auto x = earlier.find(found->id);
                    before = x != earlier.end() ? &x->second : &kNothingEarlier;
                }
                readItems(cells, row, sheetGroups, before, e, problem);
            }
            readInsurance(cells, row, city, e, problem);
            refuseSpecialCases(cells, row, problem);
            // The employee's options for the year, where the rows have them.
            const auto yesNo = [&](PayrollField field, bool was) {
                const std::string cell = cells.trimmed(row, field);
                if (cell.empty()) return was;
                const std::optional<bool> v = field == PayrollField::Resident
                                                  ? engine::residentFromText(cell)
                                                  : engine::yesNoFromText(cell);
                if (!v)
                    problem(field == PayrollField::Resident ? engine::residentRefusal()
                                                            : engine::yesNoRefusal(field));
                return v.value_or(was);
            };
            Employee employee = found ? found->employee : Employee{};
            employee.resident = yesNo(PayrollField::Resident, employee.resident);
            employee.options.fromJanuary =
                yesNo(PayrollField::FromJanuary, employee.options.fromJanuary);
            employee.options.annualDeduction =
                yesNo(PayrollField::AnnualDeduction, employee.options.annualDeduction);
            readFacts(cells, row, year, employee, problem);
            if (!number.empty()) {
                std::size_t& first =
                    found ? seenKnown[foundAt]
                          : seenNew.try_emplace(personKeyString(key), kUnseen).first->second;
                if (first != kUnseen)
                    problem(sysText("证件号码与第") + Text::fromBytes(std::to_string(first)) +
                            sysText("行重复"));
                else
                    first = numberOf(r);
            }
            // The bonus's taxation as the row says it; without it, a new bonus is taxed on its own
            // where the law allows it, and a bonus the entry had keeps its way.
            const std::string method = cells.trimmed(row, PayrollField::BonusMethod);
            if (!method.empty()) {
                const std::optional<BonusMethod> m = engine::bonusMethodFromText(method);
                if (!m)
                    problem(engine::bonusMethodRefusal());
                else
                    e.bonusMethod = *m;
            } else if (cells.has(PayrollField::BonusMethod) || had == entryOf.end() ||
                       had->second->bonus == 0) {
                e.bonusMethod = e.bonus > 0 ? defaultBonusMethod(year, employee.resident)
                                            : BonusMethod::Combined;
            }
            if (cells.has(PayrollField::Remark))
                e.remark = Text::fromUtf8(cells.trimmed(row, PayrollField::Remark));
            if (!why.empty()) {
                refuse(numberOf(r), why);
                continue;
            }
            Resolved c;
            c.entry = std::move(e);
            c.row = numberOf(r);
            const Text card = Text::fromUtf8(cells.trimmed(row, PayrollField::BankCard));
            if (found) {
                c.employee = *found;
                const Employee& was = found->employee;
                const bool options =
                    employee.resident != was.resident ||
                    employee.options.fromJanuary != was.options.fromJanuary ||
                    employee.options.annualDeduction != was.options.annualDeduction ||
                    employee.healthThroughPayroll != was.healthThroughPayroll ||
                    employee.deferredPensionThroughPayroll != was.deferredPensionThroughPayroll;
                if (name != was.name || (!card.empty() && card != was.bankCard) || options ||
                    !sameFacts(employee, was)) {
                    if (options) {
                        Outcome<bool> declared = hasDeclaredEntry(book, year, found->id);
                        if (!declared) return declared.problem();
                        if (*declared) {
                            refuse(numberOf(r),
                                   sysText("此人已有申报的月份，居民身份和减除费用选项不能再改"));
                            continue;
                        }
                        Outcome<std::optional<int>> counting = countingMonthOf(book, *found);
                        if (!counting) return counting.problem();
                        if (Outcome<void> ok = checkOptions(employee, *counting); !ok) {
                            refuse(numberOf(r), ok.problem().message);
                            continue;
                        }
                        recompute.push_back(changes.size());
                    }
                    previous.push_back(was);
                    c.employee.employee = employee;
                    c.employee.employee.name = name;
                    if (!card.empty()) c.employee.employee.bankCard = card;
                    toWrite.push_back(changes.size()); // an update of name, card or options
                }
            } else {
                employee.key = key;
                employee.name = name;
                employee.bankCard = card;
                // A day of employment in this year, up to this month, is the month they joined
                // (without one, the first day of the month they joined is told the declaration).
                if (const int since = employee.employedSince.value_or(0);
                    since / 10000 == year && since / 100 % 100 <= month)
                    employee.joinMonth = since / 100 % 100;
                employee.idCheckFailed = engine::identityCheckFails(key.idType, key.idNumber);
                if (Outcome<void> ok = checkOptions(employee, month); !ok) {
                    refuse(numberOf(r), ok.problem().message);
                    continue;
                }
                if (otherType)
                    notes.notes.push_back(rowMessage(
                        numberOf(r), sysText("证件号码") + key.idNumber + sysText("已是") +
                                         whom(otherType->employee) + sysText("的") +
                                         otherType->employee.key.idType + sysText("号码，此行按") +
                                         key.idType + sysText("作为另一人")));
                c.employee.employee = std::move(employee);
                toWrite.push_back(changes.size());
            }
            changes.push_back(std::move(c));
        }
        if (!errors.empty()) return fail(std::move(errors));

        // The month's employees whom the rows do not hold: named, and with Missing::Remove their
        // entries of the month go.
        std::unordered_map<EmployeeId, std::size_t> place; // into known
        place.reserve(known.size());
        for (std::size_t i = 0; i < known.size(); ++i)
            place.emplace(known[i].id, i);
        for (const StoredLine& l : *current) {
            const auto p = place.find(l.employee.id);
            if (p == place.end() || seenKnown[p->second] != kUnseen) continue;
            notes.notInRows.push_back(l.employee.employee);
            if (missing == Missing::Remove)
                changes.push_back(Resolved{l.employee, std::nullopt, 0});
        }

        // New employees join in this month unless they say otherwise; changed names, cards and
        // options (the year computed again by their new options).
        std::vector<std::size_t> fresh;
        std::vector<Employee> freshEmployees;
        for (std::size_t index : toWrite) {
            StoredEmployee& e = changes[index].employee;
            if (e.id == 0) {
                fresh.push_back(index);
                freshEmployees.push_back(e.employee);
            } else if (Outcome<void> r = store.updateEmployee(e.id, e.employee); !r) {
                return r.problem();
            }
        }
        Outcome<std::vector<EmployeeId>> ids = store.addEmployees(year, freshEmployees);
        if (!ids) return ids.problem();
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            StoredEmployee& e = changes[fresh[i]].employee;
            e.id = (*ids)[i];
            added.push_back(e.employee.key);
        }
        for (std::size_t index : recompute) {
            const Resolved& c = changes[index];
            Outcome<Recomputed> n =
                recomputeEmployee(book, year, c.employee, 1, false, std::nullopt);
            if (!n) return fail(rowMessage(c.row, n.problem().message), n.problem().code);
            Outcome<std::vector<Text>> more = annualDeductionNotes(book, year, c.employee.employee);
            if (!more) return more.problem();
            notes.notes.insert(notes.notes.end(), more->begin(), more->end());
        }
        Outcome<ChangeReport> report = applyChanges(book, year, month, changes, progress);
        if (!report) return report;
        if (Outcome<void> r = deductionNotes(store, month, changes, earlier, notes.notes); !r)
            return r.problem();
        report->newEmployees = std::move(added);
        report->previousEmployees = std::move(previous);
        report->notInRows = std::move(notes.notInRows);
        report->notes = std::move(notes.notes);
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return report;
    });
}

Outcome<ChangeReport> Ledger::importOpening(int year, const std::vector<std::vector<Text>>& rows,
                                            const std::vector<std::size_t>& rowNumbers) {
    return detail::retried(*m_book, [&]() -> Outcome<ChangeReport> {
        Book& book = *m_book;
        LedgerStore& store = *book.store;
        if (rows.empty()) return fail(sysText("没有标题行"));
        Outcome<const engine::WithholdingTable*> table = tableOf(book, year);
        if (!table) return table.problem();
        const RowCells cells(rows[0], kOpeningFields);
        if (!cells.has(PayrollField::IdNumber) || !cells.has(PayrollField::Name) ||
            !cells.has(PayrollField::ThroughMonth))
            return fail(sysText("标题行应有“证件号码”（或“身份证号”）、“姓名”和“截至月份”"));
        Outcome<std::unique_ptr<StoreTransaction>> t = store.begin();
        if (!t) return t.problem();
        ChangeReport report;
        Text errors;
        auto refuse = [&](std::size_t r, const Text& why) {
            if (!errors.empty()) errors += Text::fromBytes("\n");
            errors += rowMessage(r < rowNumbers.size() ? rowNumbers[r] : r + 1, why);
        };
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const std::vector<Text>& row = rows[r];
            if (blankRow(row)) continue;
            Text why;
            auto problem = [&](const Text& reason) {
                if (!why.empty()) why += sysText("；");
                why += reason;
            };
            Employee employee;
            const std::string type = cells.trimmed(row, PayrollField::IdType);
            employee.key.idType = type.empty() ? identityCardType() : Text::fromUtf8(type);
            const std::string number =
                engine::identityKey(cells.trimmed(row, PayrollField::IdNumber));
            employee.key.idNumber = Text::fromUtf8(number);
            employee.name = Text::fromUtf8(cells.trimmed(row, PayrollField::Name));
            employee.idCheckFailed =
                engine::identityCheckFails(employee.key.idType, employee.key.idNumber);
            if (number.empty()) problem(sysText("证件号码为空"));
            StoredOpening o;
            const std::string through = cells.trimmed(row, PayrollField::ThroughMonth);
            if (through.size() >= 1 && through.size() <= 2 &&
                std::all_of(through.begin(), through.end(),
                            [](char c) { return c >= '0' && c <= '9'; }))
                o.throughMonth = std::stoi(through);
            if (o.throughMonth < 1 || o.throughMonth > 11) problem(sysText("截至月份应为1到11"));
            const std::pair<PayrollField, std::int64_t*> sums[] = {
                {PayrollField::CumulativeIncome, &o.sums.income},
                {PayrollField::CumulativeTaxFree, &o.sums.taxFree},
                {PayrollField::CumulativeBasic, &o.sums.basic},
                {PayrollField::CumulativeSpecial, &o.sums.special},
                {PayrollField::CumulativeSpecialAdditional, &o.sums.specialAdditional},
                {PayrollField::CumulativeOther, &o.sums.other},
                {PayrollField::CumulativeRelief, &o.sums.relief},
                {PayrollField::CumulativeWithheld, &o.sums.withheld}};
            for (const auto& [field, to] : sums) {
                Outcome<std::int64_t> v = amountCell(cells.trimmed(row, field), field);
                if (v)
                    *to = *v;
                else
                    problem(v.problem().message);
            }
            if (!why.empty()) {
                refuse(r, why);
                continue;
            }
            Outcome<std::optional<StoredEmployee>> found = store.findEmployee(year, employee.key);
            if (!found) return found.problem();
            StoredEmployee stored;
            if (*found) {
                stored = std::move(**found);
            } else {
                Outcome<EmployeeId> id = store.addEmployee(year, employee);
                if (!id) return id.problem();
                stored = StoredEmployee{*id, employee};
                report.newEmployees.push_back(employee.key);
            }
            // Without the figure, the basic deduction counts from the joining month (January).
            if (cells.trimmed(row, PayrollField::CumulativeBasic).empty()) {
                Outcome<std::int64_t> basic = engine::fenOf(
                    (*table)->basicDeduction *
                    Exact(o.throughMonth - stored.employee.joinMonth.value_or(1) + 1));
                if (!basic) return basic.problem();
                o.sums.basic = *basic;
            }
            Outcome<bool> declared = hasDeclaredEntry(book, year, stored.id);
            if (!declared) return declared.problem();
            Outcome<std::vector<StoredEntry>> entries = store.entries(stored.id);
            if (!entries) return entries.problem();
            if (*declared) {
                refuse(r, sysText("此人已有申报的月份，期初数不能再改"));
                continue;
            }
            if (!entries->empty() && entries->front().month <= o.throughMonth) {
                refuse(r, sysText("此人") + monthText(entries->front().month) +
                              sysText("已有工资，期初数只能截至此前的月份"));
                continue;
            }
            Outcome<std::optional<StoredOpening>> old = store.opening(stored.id);
            if (!old) return old.problem();
            if (*old)
                ++report.changed;
            else
                ++report.added;
            if (Outcome<void> w = store.putOpening(stored.id, o); !w) return w.problem();
            if (!entries->empty()) {
                Outcome<Recomputed> n =
                    recomputeEmployee(book, year, stored, 1, false, std::nullopt);
                if (!n) return n.problem();
                report.recomputed += n->recomputed;
            }
        }
        if (!errors.empty()) return fail(std::move(errors));
        if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
        return report;
    });
}

} // namespace iit::ledger
