// The fingerprint of the laws a year's entries are computed with, kept with each entry: the
// check of a year judges the tax itself only where the tables are still the ones used.
#include "ledger/book.h"

#include <openssl/evp.h>

#include <cstring>

namespace iit::ledger::detail {

namespace {

void put(std::string& out, const Exact& v) {
    out += ToText(v).toUtf8();
    out += ';';
}

void put(std::string& out, const std::vector<engine::TaxBand>& bands) {
    for (const engine::TaxBand& b : bands) {
        put(out, b.lower);
        if (b.upper)
            put(out, *b.upper);
        else
            out += "-;";
        put(out, b.ratePercent);
        put(out, b.quickDeduction);
    }
    out += '|';
}

} // namespace

std::int64_t tablesFingerprint(const Book& book, int year) {
    if (const auto it = book.fingerprints.find(year); it != book.fingerprints.end())
        return it->second;
    // Every figure the computation of the year reads, in a canonical text: the annual table of
    // the year, the monthly wage bands of the bonus, the bracket table's wages.
    std::string canonical = "iitcalc tables 1|";
    if (const engine::WithholdingTable* t = book.tables.annual.forYear(year)) {
        canonical +=
            std::to_string(t->fromYear) + ';' + std::to_string(t->bonusSeparateUntil) + ';';
        put(canonical, t->basicDeduction);
        put(canonical, t->annualDeduction);
        put(canonical, t->bands);
    }
    put(canonical, book.tables.monthly);
    const engine::BracketTable& bracket = book.tables.bracket;
    for (std::int32_t r = 1; r <= static_cast<std::int32_t>(bracket.records().size()); ++r)
        for (int f = engine::firstField(engine::SubTable::Wages);
             f <= engine::fieldOf(engine::SubTable::Wages, engine::Field::Deduction); ++f) {
            const std::optional<Exact>& v = bracket.exact(r, f);
            if (v)
                put(canonical, *v);
            else
                canonical += "-;";
        }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    std::int64_t fingerprint = 0;
    if (EVP_Digest(canonical.data(), canonical.size(), digest, &length, EVP_md5(), nullptr) == 1 &&
        length >= sizeof fingerprint)
        std::memcpy(&fingerprint, digest, sizeof fingerprint);
    book.fingerprints.emplace(year, fingerprint);
    return fingerprint;
}

} // namespace iit::ledger::detail
