#pragma once
// The built-in files the program writes into its data directory when they are missing.

#include "base/value.h"

#include <string_view>

namespace iit::resources {

// The default bracket table, a 2,744-byte password-protected table file.
const ByteSet& defaultRateTable();

// The description of the built-in annual withholding table of residents' wages, a text.
std::string_view defaultWithholdingTable();

// The built-in rules of social insurance and the housing fund, a UTF-8 text.
std::string_view defaultInsuranceRules();

} // namespace iit::resources
