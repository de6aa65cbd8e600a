#pragma once
// Reads the readable description of the built-in bracket table (resources/rate_table_default.txt)
// and builds the table file from it. Used by tools/make_rate_table and by the test that checks
// the committed file against its description.

#include "base/value.h"
#include "database/database.h"

#include <string>
#include <string_view>
#include <vector>

namespace iit::tools {

struct RateTableDescription {
    double creationDate = 0;
    std::vector<db::FieldSpec> fields;       // 24 int fields
    std::vector<std::vector<Value>> records; // 9 records of 24 values
};

// Parses the UTF-8 description; on a malformed line returns false with a message naming it.
bool parseRateTableDescription(std::string_view text, RateTableDescription& out,
                               std::string& error);

// The complete password-protected table file.
std::string buildRateTableFile(const RateTableDescription& description);

} // namespace iit::tools
