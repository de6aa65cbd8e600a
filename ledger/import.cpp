// The import of a month, and of opening balances, from rows of cells: the header names the
// columns (by any of the names of engine/payroll_row.h); every faulty row is named, and then
// nothing changes.
#include "ledger/book.h"

#include "engine/amount.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;
using engine::PayrollField;

namespace {

constexpr std::array kImportFields = {
    PayrollField::IdType,      PayrollField::IdNumber, PayrollField::Name,
    PayrollField::BankCard,    PayrollField::Resident, PayrollField::Income,
    PayrollField::TaxFree,     PayrollField::Special,  PayrollField::SpecialAdditional,
    PayrollField::Other,       PayrollField::Relief,   PayrollField::Bonus,
    PayrollField::BonusMethod, PayrollField::Remark};

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
        return std::string(engine::trimCell(of(row, f).toUtf8()));
    }

private:
    std::array<int, 32> m_column{};
};

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
                                          const std::vector<std::size_t>& rowNumbers) {
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
    std::unordered_multimap<std::string_view, std::size_t> byNumber; // number, index into known
    byNumber.reserve(known.size());
    for (std::size_t i = 0; i < known.size(); ++i)
        byNumber.emplace(known[i].employee.key.idNumber.view(), i);

    // The number a row is named by: its own, or its position with the header as row 1.
    auto numberOf = [&](std::size_t r) { return r < rowNumbers.size() ? rowNumbers[r] : r + 1; };
    Text errors;
    auto refuse = [&](std::size_t row, const Text& why) {
        if (!errors.empty()) errors += Text::fromBytes("\n");
        errors += rowMessage(row, why);
    };
    // The row that named each employee first: the year's by their place in known, new ones by
    // their key.
    constexpr std::size_t kUnseen = static_cast<std::size_t>(-1);
    std::vector<std::size_t> seenKnown(known.size(), kUnseen);
    std::unordered_map<std::string, std::size_t> seenNew;
    std::vector<Resolved> changes;
    changes.reserve(rows.size());
    // Index into changes, for a new employee and an update of one.
    std::vector<std::size_t> toWrite;
    std::vector<PersonKey> added;   // the new ones
    std::vector<Employee> previous; // employees as they were before an update
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<Text>& row = rows[r];
        if (blankRow(row)) continue;
        Text why;
        auto problem = [&](const Text& reason) {
            if (!why.empty()) why += sysText("；");
            why += reason;
        };
        PersonKey key;
        key.idType = Text::fromUtf8(cells.trimmed(row, PayrollField::IdType));
        const std::string number = engine::identityKey(cells.trimmed(row, PayrollField::IdNumber));
        key.idNumber = Text::fromUtf8(number);
        // Without a 证件类型, the number is the year's employee's who holds it, else an
        // identity card's.
        const auto [firstHolder, lastHolder] = byNumber.equal_range(key.idNumber.view());
        if (key.idType.empty())
            key.idType = firstHolder != lastHolder && std::next(firstHolder) == lastHolder
                             ? known[firstHolder->second].employee.key.idType
                             : identityCardType(); // none, or several: the row must say which
        const StoredEmployee* found = nullptr;
        std::size_t foundAt = 0;
        for (auto h = firstHolder; h != lastHolder; ++h)
            if (known[h->second].employee.key.idType == key.idType) {
                foundAt = h->second;
                found = &known[foundAt];
            }
        if (number.empty()) problem(sysText("证件号码为空"));
        const Text& nameCell = cells.of(row, PayrollField::Name);
        const std::string nameUtf8 = nameCell.toUtf8();
        const std::string_view trimmedName = engine::trimCell(nameUtf8);
        // Converted back only when there was something to trim.
        const Text name =
            trimmedName.size() == nameUtf8.size() ? nameCell : Text::fromUtf8(trimmedName);
        if (name.empty()) problem(sysText("姓名为空"));
        StoredEntry e;
        e.month = month;
        const std::pair<PayrollField, std::int64_t*> amounts[] = {
            {PayrollField::TaxFree, &e.taxFree},
            {PayrollField::Special, &e.special},
            {PayrollField::SpecialAdditional, &e.specialAdditional},
            {PayrollField::Other, &e.other},
            {PayrollField::Relief, &e.relief},
            {PayrollField::Bonus, &e.bonus}};
        if (const std::string income = cells.trimmed(row, PayrollField::Income); !income.empty()) {
            Outcome<std::int64_t> v = amountCell(income, PayrollField::Income);
            if (v)
                e.income = *v;
            else
                problem(v.problem().message);
        }
        for (const auto& [field, to] : amounts) {
            Outcome<std::int64_t> v = amountCell(cells.trimmed(row, field), field);
            if (v)
                *to = *v;
            else
                problem(v.problem().message);
        }
        std::optional<bool> resident;
        if (const std::string rs = cells.trimmed(row, PayrollField::Resident); !rs.empty()) {
            resident = engine::residentFromText(rs);
            if (!resident) problem(engine::residentRefusal());
        }
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
        const bool isResident = resident.value_or(found ? found->employee.resident : true);
        if (const std::string m = cells.trimmed(row, PayrollField::BonusMethod); !m.empty()) {
            const std::optional<BonusMethod> method = engine::bonusMethodFromText(m);
            if (!method)
                problem(engine::bonusMethodRefusal());
            else
                e.bonusMethod = *method;
        } else {
            // A bonus without a method is taxed on its own where the law allows it.
            e.bonusMethod =
                e.bonus > 0 ? defaultBonusMethod(year, isResident) : BonusMethod::Combined;
        }
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
            if (name != was.name || (!card.empty() && card != was.bankCard) ||
                (resident && *resident != was.resident)) {
                if (resident && *resident != was.resident) {
                    refuse(numberOf(r), sysText("已有此人，居民身份请在职工信息中修改"));
                    continue;
                }
                previous.push_back(was);
                c.employee.employee.name = name;
                if (!card.empty()) c.employee.employee.bankCard = card;
                toWrite.push_back(changes.size()); // an update of name or card
            }
        } else {
            Employee n;
            n.key = key;
            n.name = name;
            n.bankCard = card;
            n.resident = isResident;
            n.idCheckFailed = engine::identityCheckFails(n.key.idType, n.key.idNumber);
            c.employee.employee = std::move(n);
            toWrite.push_back(changes.size());
        }
        changes.push_back(std::move(c));
    }
    if (!errors.empty()) return fail(std::move(errors));

    // New employees join in this month unless they say otherwise; changed names and cards.
    for (std::size_t index : toWrite) {
        StoredEmployee& e = changes[index].employee;
        if (e.id != 0) {
            if (Outcome<void> r = store.updateEmployee(e.id, e.employee); !r) return r.problem();
            continue;
        }
        Outcome<EmployeeId> id = store.addEmployee(year, e.employee);
        if (!id) return id.problem();
        e.id = *id;
        added.push_back(e.employee.key);
    }
    Outcome<ChangeReport> report = applyChanges(book, year, month, changes, progress);
    if (!report) return report;
    report->newEmployees = std::move(added);
    report->previousEmployees = std::move(previous);
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return report;
}

Outcome<ChangeReport> Ledger::importOpening(int year, const std::vector<std::vector<Text>>& rows,
                                            const std::vector<std::size_t>& rowNumbers) {
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
        const std::string number = engine::identityKey(cells.trimmed(row, PayrollField::IdNumber));
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
            Outcome<std::int64_t> basic =
                engine::fenOf((*table)->basicDeduction *
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
            Outcome<Recomputed> n = recomputeEmployee(book, year, stored, 1, false, std::nullopt);
            if (!n) return n.problem();
            report.recomputed += n->recomputed;
        }
    }
    if (!errors.empty()) return fail(std::move(errors));
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return report;
}

} // namespace iit::ledger
