#pragma once
// Reads the readable description of the built-in print template (resources/print_template.txt)
// into a PrintTemplate. Used by tools/make_print_template and by the test that checks the
// committed print_template.dbf against its description.

#include "printing/print_template.h"

#include <string>
#include <string_view>

namespace iit::tools {

// Parses the UTF-8 description; on a malformed line returns false with a message naming it.
bool parsePrintTemplateDescription(std::string_view text, printing::PrintTemplate& out,
                                   std::string& error);

} // namespace iit::tools
