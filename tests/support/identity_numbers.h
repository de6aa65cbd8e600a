#pragma once
// Identity-card numbers for tests: as many different ones as a test needs, each with a date of
// birth that exists and the check character that holds it.

#include <cstdio>
#include <string>

namespace iit::testing {

// The i-th number (i from 0 to well over a million).
inline std::string identityNumber(int i) {
    const unsigned n = static_cast<unsigned>(i) % 13'440'000u; // 40 years of 336,000
    char first17[32];
    std::snprintf(first17, sizeof first17, "110101%04u%02u%02u%03u", 1960 + n / 336000,
                  n / 28000 % 12 + 1, n / 1000 % 28 + 1, n % 1000);
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (int k = 0; k < 17; ++k)
        sum += (first17[k] - '0') * weights[k];
    const int check = (12 - sum % 11) % 11;
    return std::string(first17) + (check == 10 ? 'X' : static_cast<char>('0' + check));
}

} // namespace iit::testing
