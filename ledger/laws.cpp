#include "ledger/laws.h"
#include "ledger/book.h"

#include "engine/rate_table_check.h"
#include "engine/text_table.h"

#include <charconv>

namespace iit::ledger {

namespace {

std::string bracketText(const engine::BracketTable& table) {
    std::string out;
    char figure[32];
    for (std::int32_t r = 1; r <= table.recordCount(); ++r) {
        out += "record";
        for (int f = 1; f <= engine::kRateTableFields; ++f) {
            const std::to_chars_result written =
                std::to_chars(figure, figure + sizeof figure, table.number(r, f));
            out += ' ';
            out.append(figure, written.ptr);
        }
        out += '\n';
    }
    return out;
}

Outcome<engine::BracketTable> parseBracket(std::string_view text) {
    std::vector<engine::BracketTable::Record> records;
    for (const engine::TextTableLine& l : engine::textTableLines(text)) {
        if (l.words[0] != "record" || l.words.size() != 1 + engine::kRateTableFields)
            return engine::lineProblem(l.number, "应为 record 和24个数");
        engine::BracketTable::Record record;
        for (int f = 0; f < engine::kRateTableFields; ++f) {
            const std::string_view w = l.words[static_cast<std::size_t>(f) + 1];
            double v = 0;
            const std::from_chars_result read = std::from_chars(w.data(), w.data() + w.size(), v);
            if (read.ec != std::errc{} || read.ptr != w.data() + w.size())
                return engine::lineProblem(l.number, "数字不对");
            record[static_cast<std::size_t>(f)] = Value::number(v);
        }
        records.push_back(std::move(record));
    }
    if (records.empty()) return fail(sysText("税率表是空的"));
    engine::BracketTable table(std::move(records));
    if (Outcome<void> checked = engine::checkBracketTable(table); !checked)
        return checked.problem();
    return table;
}

// The law's name before its problem.
Problem named(const char* law, const Problem& p) {
    return Problem{sysText(law) + sysText("有误：") + p.message, p.code};
}

} // namespace

KeptLaws keptLaws(const LedgerTables& tables) {
    return KeptLaws{engine::formatWithholdingTables(tables.annual), bracketText(tables.bracket),
                    insurance::formatRules(tables.insurance)};
}

Outcome<LedgerTables> lawTables(const KeptLaws& laws) {
    Outcome<engine::WithholdingTables> annual = engine::parseWithholdingTables(laws.annual);
    if (!annual) return named("年度预扣率表", annual.problem());
    Outcome<engine::BracketTable> bracket = parseBracket(laws.bracket);
    if (!bracket) return named("税率表", bracket.problem());
    Outcome<std::vector<engine::TaxBand>> monthly = engine::monthlyWageBands(*bracket);
    if (!monthly) return named("税率表", monthly.problem());
    Outcome<insurance::Rules> rules = insurance::parseRules(laws.insurance);
    if (!rules) return named("社保公积金规则", rules.problem());
    return LedgerTables{std::move(*annual), std::move(*bracket), std::move(*monthly),
                        std::move(*rules), Text{}};
}

Text lawsNotice(const KeptLaws& desk, const KeptLaws& kept) {
    Text names;
    for (const auto& [mine, theirs, name] :
         {std::tuple{&desk.annual, &kept.annual, "年度预扣率表"},
          std::tuple{&desk.bracket, &kept.bracket, "税率表"},
          std::tuple{&desk.insurance, &kept.insurance, "社保公积金规则"}})
        if (*mine != *theirs) names += (names.empty() ? Text{} : sysText("、")) + sysText(name);
    if (names.empty()) return {};
    return sysText("本机的") + names +
           sysText("与台账服务器上的不同：本台账按服务器上的计算，各台电脑算出的相同");
}

Outcome<void> Ledger::followKeptLaws() {
    Book& book = *m_book;
    Outcome<std::optional<KeptLaws>> kept = book.store->laws();
    if (!kept) return kept.problem();
    if (!*kept) return {}; // each desk computes by its own
    if (!book.deskLaws) book.deskLaws = keptLaws(book.tables);
    if ((*kept)->version == 0) {
        // The first desk to open the ledger: its laws become every desk's.
        if (book.store->readOnly()) return {};
        return keepDeskLaws();
    }
    if ((*kept)->version == book.lawsVersion) return {};
    Outcome<LedgerTables> theirs = lawTables(**kept);
    if (!theirs) return fail(sysText("台账服务器上保存的") + theirs.problem().message);
    Text notice = book.lawsVersion == 0 ? book.tables.notice : Text{};
    const Text differ = lawsNotice(*book.deskLaws, **kept);
    if (!differ.empty()) notice += (notice.empty() ? Text{} : sysText("\n")) + differ;
    book.tables = std::move(*theirs);
    book.tables.notice = std::move(notice);
    book.fingerprints.clear();
    book.lawsVersion = (*kept)->version;
    return {};
}

bool Ledger::keepsLaws() const {
    return m_book->deskLaws.has_value();
}

std::int64_t Ledger::keptLawsVersion() const {
    return m_book->lawsVersion;
}

Outcome<void> Ledger::keepDeskLaws() {
    Book& book = *m_book;
    if (!book.deskLaws) return fail(sysText("本台账不保存税率表：各台电脑按自己数据目录中的计算"));
    Outcome<LedgerTables> mine = lawTables(*book.deskLaws);
    if (!mine) return mine.problem();
    Outcome<std::int64_t> version = book.store->putLaws(*book.deskLaws);
    if (!version) return version.problem();
    mine->notice = book.lawsVersion == 0 ? book.tables.notice : Text{};
    book.tables = std::move(*mine);
    book.fingerprints.clear();
    book.lawsVersion = *version;
    return {};
}

} // namespace iit::ledger
