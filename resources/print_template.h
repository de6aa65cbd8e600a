#pragma once
// The built-in print template, written as "print.dbf" when the data directory has none.

#include "base/value.h"

namespace iit::resources {

// 1,197 bytes, made by tools/make_print_template from print_template.txt.
const ByteSet& builtInPrintTemplate();

} // namespace iit::resources
