#pragma once
// What the sheets tests share: reading from bytes with a readable failure, and a sheet shown as
// text so that a whole expected sheet fits in one comparison.

#include "sheets/sheet.h"

#include <gtest/gtest.h>

#include <string>

namespace iit::sheets::testing {

inline char kindLetter(Cell::Kind kind) {
    switch (kind) {
    case Cell::Kind::Empty:
        return '_';
    case Cell::Kind::Text:
        return 'T';
    case Cell::Kind::Number:
        return 'N';
    case Cell::Kind::Boolean:
        return 'B';
    case Cell::Kind::Date:
        return 'D';
    case Cell::Kind::Error:
        return 'E';
    }
    return '?';
}

// "5: T张三 N12500.5 _ D2024-03-01" per row, rows joined by "\n".
inline std::string show(const Sheet& sheet) {
    std::string out;
    for (const SheetRow& row : sheet.rows) {
        out += std::to_string(row.number) + ":";
        for (const Cell& c : row.cells)
            out += std::string(" ") + kindLetter(c.kind) + c.text;
        out += "\n";
    }
    return out;
}

inline std::string showProblems(const Sheet& sheet) {
    std::string out;
    for (const RowProblem& p : sheet.problems)
        out += std::to_string(p.row) + " " + p.message + "\n";
    return out;
}

inline Sheet readOk(std::string_view bytes, const ReadOptions& options = {}) {
    Outcome<Sheet> sheet = readSheetBytes(bytes, options);
    EXPECT_TRUE(sheet) << (sheet ? "" : sheet.problem().message.toUtf8());
    return sheet ? std::move(*sheet) : Sheet();
}

inline std::string readProblem(std::string_view bytes, const ReadOptions& options = {}) {
    Outcome<Sheet> sheet = readSheetBytes(bytes, options);
    return sheet ? std::string("(read)") : sheet.problem().message.toUtf8();
}

} // namespace iit::sheets::testing
