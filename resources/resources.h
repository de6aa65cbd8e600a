#pragma once
// The built-in files the program writes into its data directory when they are missing.

#include "base/value.h"

namespace iit::resources {

// The default bracket table, a 2,744-byte password-protected table file.
const ByteSet& DefaultRateTable();

} // namespace iit::resources
