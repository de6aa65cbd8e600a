#pragma once
// What a shell command prints on standard output, and how it ended.
#include <cstdio>
#include <string>

namespace iit::testing {

struct ShellOutput {
    std::string out;
    int status = -1; // as pclose gives it
};

inline ShellOutput shellOutput(const std::string& command) {
    ShellOutput r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        r.out.append(buf, n);
    r.status = ::pclose(pipe);
    return r;
}

} // namespace iit::testing
