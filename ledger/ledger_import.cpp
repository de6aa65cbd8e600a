// The import of a month from rows of cells: the header names the columns; every faulty row is
// named, and then nothing changes.
#include "ledger/ledger_internal.h"

#include "engine/amount.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>

namespace iit::ledger {

using namespace detail;

Outcome<ChangeReport> Ledger::importMonth(int year, int month,
                                          const std::vector<std::vector<Text>>& rows,
                                          const Progress& progress,
                                          const std::vector<std::size_t>& rowNumbers) {
    Impl& impl = *m_impl;
    if (rows.empty()) return fail(sysText("没有标题行"));
    // The header names the columns; spaces inside names are ignored.
    enum Col {
        Type,
        Number,
        Name,
        Card,
        Resident,
        Income,
        TaxFree,
        Special,
        SpecialAdd,
        Other,
        Relief,
        Bonus,
        Method,
        Remark,
        kCols
    };
    int at[kCols];
    std::fill(std::begin(at), std::end(at), -1);
    for (std::size_t c = 0; c < rows[0].size(); ++c) {
        const std::string name = withoutSpaces(rows[0][c]);
        for (int k = 0; k < kCols; ++k)
            if (name == utf8(importColumns()[static_cast<std::size_t>(k)]) ||
                (k == Number && name == "身份证号"))
                at[k] = static_cast<int>(c);
    }
    if (at[Number] < 0 || at[Name] < 0 || at[Income] < 0)
        return fail(sysText("标题行应有“证件号码”（或“身份证号”）、“姓名”和“本月收入”"));

    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*impl.db);
    if (!t) return t.problem();
    if (Outcome<void> r = checkMonthOpen(impl, year, month); !r) return r.problem();

    // The year's employees, once, found by their numbers: a row finds its employee by number
    // and type, and a row without a type the one type that holds its number. The index holds
    // views of the employees' own numbers, not copies of them.
    std::vector<EmployeeRow> known;
    std::unordered_multimap<std::string_view, std::size_t> byNumber; // number, index into known
    {
        static const std::string sql =
            std::string("SELECT e.id, ") + kEmployeeColumns + " FROM employee e WHERE e.year = ?1";
        Outcome<sql::Statement*> s = impl.db->cached(sql.c_str());
        if (!s) return s.problem();
        (*s)->bind(1, year);
        known.reserve(rows.size());
        if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
                known.push_back(EmployeeRow{row.int64(0), readEmployee(row, 1)});
            });
            !r)
            return r.problem();
        byNumber.reserve(known.size());
        for (std::size_t i = 0; i < known.size(); ++i)
            byNumber.emplace(known[i].employee.key.idNumber.view(), i);
    }

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
    // Index into changes and the employee, for a new employee and an update of one.
    std::vector<std::pair<std::size_t, Employee>> toAdd;
    std::vector<PersonKey> added;   // the new ones
    std::vector<Employee> previous; // employees as they were before an update
    const Text empty;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<Text>& row = rows[r];
        auto cell = [&](int k) -> const Text& {
            return at[k] >= 0 && static_cast<std::size_t>(at[k]) < row.size()
                       ? row[static_cast<std::size_t>(at[k])]
                       : empty;
        };
        const bool blank = std::all_of(row.begin(), row.end(), [](const Text& c) {
            return engine::trimCell(utf8(c)).empty();
        });
        if (blank) continue;
        Text why;
        auto problem = [&](const Text& reason) {
            if (!why.empty()) why += sysText("；");
            why += reason;
        };
        PersonKey key;
        key.idType = Text::fromUtf8(engine::trimCell(utf8(cell(Type))));
        std::string number(engine::trimCell(utf8(cell(Number))));
        for (char& ch : number)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        key.idNumber = Text::fromUtf8(number);
        // Without a 证件类型, the number is the year's employee's who holds it, else an
        // identity card's.
        const auto [firstHolder, lastHolder] = byNumber.equal_range(key.idNumber.view());
        if (key.idType.empty())
            key.idType = firstHolder != lastHolder && std::next(firstHolder) == lastHolder
                             ? known[firstHolder->second].employee.key.idType
                             : identityCardType(); // none, or several: the row must say which
        const EmployeeRow* found = nullptr;
        std::size_t foundAt = 0;
        for (auto h = firstHolder; h != lastHolder; ++h)
            if (known[h->second].employee.key.idType == key.idType) {
                foundAt = h->second;
                found = &known[foundAt];
            }
        if (number.empty()) problem(sysText("证件号码为空"));
        const std::string nameUtf8 = utf8(cell(Name));
        const std::string_view trimmedName = engine::trimCell(nameUtf8);
        // Converted back only when there was something to trim.
        const Text name =
            trimmedName.size() == nameUtf8.size() ? cell(Name) : Text::fromUtf8(trimmedName);
        if (name.empty()) problem(sysText("姓名为空"));
        StoredEntry e;
        e.month = month;
        const int amountCols[] = {Income, TaxFree, Special, SpecialAdd, Other, Relief, Bonus};
        std::int64_t* fields[] = {nullptr,  &e.taxFree, &e.special, &e.specialAdditional,
                                  &e.other, &e.relief,  &e.bonus};
        for (int i = 0; i < 7; ++i) {
            const int k = amountCols[i];
            Outcome<Exact> v = engine::parseAmount(utf8(cell(k)));
            if (!v) {
                problem(importColumns()[static_cast<std::size_t>(k)] + sysText("：") +
                        v.problem().message);
            } else if (k == Income) {
                if (!engine::trimCell(utf8(cell(k))).empty()) e.income = fen(*v);
            } else {
                *fields[i] = fen(*v);
            }
        }
        std::optional<bool> resident;
        if (const std::string rs = withoutSpaces(cell(Resident)); !rs.empty()) {
            if (rs == "是" || rs == "居民" || rs == "居民个人")
                resident = true;
            else if (rs == "否" || rs == "非居民" || rs == "非居民个人")
                resident = false;
            else
                problem(sysText("“居民”应填是或否"));
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
        if (!withoutSpaces(cell(Method)).empty()) {
            const std::optional<BonusMethod> m = bonusMethodFromText(cell(Method));
            if (!m)
                problem(sysText("奖金计税方式应为单独计税或并入综合所得"));
            else
                e.bonusSeparate = *m == BonusMethod::Separate;
        } else {
            // A bonus without a method is taxed on its own where the law allows it.
            e.bonusSeparate =
                e.bonus > 0 && defaultBonusMethod(year, isResident) == BonusMethod::Separate;
        }
        e.remark = engine::trimCell(utf8(cell(Remark)));
        if (!why.empty()) {
            refuse(numberOf(r), why);
            continue;
        }
        Resolved c;
        c.entry = e;
        c.row = numberOf(r);
        if (found) {
            c.employee = *found;
            const bool rename = c.employee.employee.name != name;
            const Text card = Text::fromUtf8(engine::trimCell(utf8(cell(Card))));
            if (rename || (!card.empty() && card != c.employee.employee.bankCard) ||
                (resident && *resident != c.employee.employee.resident)) {
                Employee updated = c.employee.employee;
                updated.name = name;
                if (!card.empty()) updated.bankCard = card;
                if (resident) updated.resident = *resident;
                if (updated.resident != c.employee.employee.resident) {
                    refuse(numberOf(r), sysText("已有此人，居民身份请在职工信息中修改"));
                    continue;
                }
                previous.push_back(c.employee.employee);
                c.employee.employee = updated;
                toAdd.emplace_back(changes.size(), updated); // an update of name or card
            }
        } else {
            Employee n;
            n.key = key;
            n.name = name;
            n.bankCard = Text::fromUtf8(engine::trimCell(utf8(cell(Card))));
            n.resident = isResident;
            c.employee.employee = n;
            toAdd.emplace_back(changes.size(), n);
        }
        changes.push_back(std::move(c));
    }
    if (!errors.empty()) return fail(std::move(errors));

    // New employees join in this month unless they say otherwise; changed names and cards.
    for (auto& [index, employee] : toAdd) {
        Resolved& c = changes[index];
        if (c.employee.id != 0) {
            Outcome<sql::Statement*> s =
                impl.db->cached("UPDATE employee SET name = ?2, bank_card = ?3 WHERE id = ?1");
            if (!s) return s.problem();
            (*s)->bind(1, c.employee.id);
            (*s)->bind(2, utf8(employee.name));
            (*s)->bind(3, utf8(employee.bankCard));
            if (Outcome<void> r = (*s)->run(); !r) return r.problem();
            continue;
        }
        Outcome<sql::Statement*> s = impl.db->cached(
            "INSERT INTO employee (year, id_type, id_number, name, bank_card, resident, "
            "id_check_failed) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        if (!s) return s.problem();
        const bool badCheck = employee.key.idType == identityCardType() &&
                              utf8(employee.key.idNumber).size() == 18 &&
                              !identityCardCheckHolds(utf8(employee.key.idNumber));
        (*s)->bind(1, year);
        (*s)->bind(2, utf8(employee.key.idType));
        (*s)->bind(3, utf8(employee.key.idNumber));
        (*s)->bind(4, utf8(employee.name));
        (*s)->bind(5, utf8(employee.bankCard));
        (*s)->bind(6, employee.resident ? 1 : 0);
        (*s)->bind(7, badCheck ? 1 : 0);
        if (Outcome<void> r = (*s)->run(); !r) return r.problem();
        c.employee.id = impl.db->lastInsertRowid();
        c.employee.employee.idCheckFailed = badCheck;
        added.push_back(employee.key);
    }
    Outcome<ChangeReport> report = Apply(impl, year, month, changes, progress);
    if (!report) return report;
    report->newEmployees = std::move(added);
    report->previousEmployees = std::move(previous);
    if (Outcome<void> r = (*t)->commit(); !r) return r.problem();
    return report;
}

} // namespace iit::ledger
