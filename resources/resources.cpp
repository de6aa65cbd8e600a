#include "resources/resources.h"
#include "resources/print_template.h"

#include <cstddef>

namespace iit::resources {

extern const unsigned char rate_table_default[];
extern const std::size_t rate_table_default_size;
extern const unsigned char withholding_table_default[];
extern const std::size_t withholding_table_default_size;
extern const unsigned char insurance_rules_default[];
extern const std::size_t insurance_rules_default_size;
extern const unsigned char print_template[];
extern const std::size_t print_template_size;

const ByteSet& defaultRateTable() {
    static const ByteSet bytes(rate_table_default, rate_table_default + rate_table_default_size);
    return bytes;
}

std::string_view defaultWithholdingTable() {
    return {reinterpret_cast<const char*>(withholding_table_default),
            withholding_table_default_size};
}

std::string_view defaultInsuranceRules() {
    return {reinterpret_cast<const char*>(insurance_rules_default), insurance_rules_default_size};
}

const ByteSet& builtInPrintTemplate() {
    static const ByteSet bytes(print_template, print_template + print_template_size);
    return bytes;
}

} // namespace iit::resources
