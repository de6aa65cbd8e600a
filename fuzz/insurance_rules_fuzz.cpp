// libFuzzer target: any bytes as the rules file of social insurance and the housing fund. A
// text that is not rules is refused with a message; rules that are read are written back to a
// text that reads as the same rules, and every section computes an employee's items without
// failing for a base and rates within the section's own range.
#include "insurance/contributions.h"
#include "insurance/rules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit::insurance;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    iit::Outcome<Rules> rules = parseRules(text);
    if (!rules) {
        if (rules.problem().message.empty()) std::abort();
        return 0;
    }
    iit::Outcome<Rules> again = parseRules(formatRules(*rules));
    if (!again || again->sections() != rules->sections()) std::abort();
    for (const CityRules& r : rules->sections()) {
        const Bases bases{r.baseCeiling, r.fundFloor, r.fundRateHighest, r.fundExtraLowest};
        iit::Outcome<Contributions> c = contribute(r, bases);
        if (!c || c->employee.sign() < 0) std::abort();
    }
    return 0;
}
