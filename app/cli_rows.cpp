#include "app/cli_rows.h"

#include "engine/payroll_row.h"

#include "app/cli_sheet.h"
#include "app/cli_util.h"
#include "base/convert.h"
#include "base/delimited.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace iit::cli {

std::string lowerExtension(const std::string& name) {
    std::string ext = std::filesystem::path(name).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::optional<sheets::Sheet> readPayroll(const std::string& input, sheets::ReadOptions options) {
    SheetInput in;
    std::string problem;
    if (!readSheetInput(input, in, problem, sheets::kMaxInputBytes)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return std::nullopt;
    }
    options.rowCap = static_cast<std::size_t>(-1); // a year's payroll has no row cap
    Outcome<sheets::Sheet> sheet = sheets::readSheetBytes(in.bytes, options);
    if (!sheet) {
        std::cerr << "iitcalc-cli: " << input << ": " << oneLine(sheet.problem().message).toUtf8()
                  << "\n";
        return std::nullopt;
    }
    return std::move(*sheet);
}

bool keyCellsSound(const std::string& input, sheets::SheetRow& row,
                   const std::vector<std::size_t>& keyColumns) {
    bool sound = true;
    for (std::size_t column : keyColumns) {
        if (column >= row.cells.size()) continue;
        sheets::Cell& cell = row.cells[column];
        Outcome<std::string> key = sheets::keyCellText(cell);
        if (key) {
            cell.text = std::move(*key);
            continue;
        }
        std::cerr << "iitcalc-cli: " << input << ": " << sheets::cellName(column, row.number)
                  << ": a number whose last digits the spreadsheet lost (" << cell.text
                  << "); format the column as text and enter the numbers again\n";
        sound = false;
    }
    return sound;
}

bool sheetProblemsNone(const std::string& input, const sheets::Sheet& sheet) {
    for (const sheets::RowProblem& p : sheet.problems)
        std::cerr << "iitcalc-cli: " << input << ": " << p.message << "\n";
    return sheet.problems.empty();
}

bool cellsSound(const std::string& input, sheets::Sheet& sheet,
                const std::vector<std::size_t>& keyColumns) {
    bool sound = sheetProblemsNone(input, sheet);
    for (sheets::SheetRow& row : sheet.rows)
        sound = keyCellsSound(input, row, keyColumns) && sound;
    if (!sound) std::cerr << "iitcalc-cli: nothing was computed or written\n";
    return sound;
}

std::vector<CellRow> numberedRows(sheets::Sheet&& sheet, std::optional<std::size_t> header) {
    std::vector<CellRow> rows;
    if (sheet.rows.empty()) return rows;
    rows.resize(sheet.rows.back().number);
    const std::size_t first = header.value_or(0);
    for (std::size_t i = first; i < sheet.rows.size(); ++i) {
        sheets::SheetRow& row = sheet.rows[i];
        const std::size_t at = header && i == *header ? 0 : row.number - 1;
        CellRow& cells = rows[at];
        cells.reserve(row.cells.size());
        for (sheets::Cell& c : row.cells)
            cells.push_back(std::move(c.text));
        std::vector<sheets::Cell>().swap(row.cells); // its memory serves the next rows
    }
    return rows;
}

sheets::Table payrollTable(std::vector<std::string> captions, std::vector<CellRow> rows) {
    // Texts (a 工号 of "007" keeps its zeros): these, and the employee's declaration facts.
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> names = {"姓名",
                                          "身份证号",
                                          "证件号码",
                                          "证件类型",
                                          "月份",
                                          "预扣率",
                                          "年度",
                                          "银行卡号",
                                          "入职月份",
                                          "离职月份",
                                          "居民",
                                          "计税方法",
                                          "奖金计税方式",
                                          "较低的计税方式",
                                          "证件号码校验",
                                          "预测月数",
                                          "减除费用从1月起算",
                                          "全年减除6万元"};
        for (auto f = static_cast<int>(engine::PayrollField::StaffNumber);
             f <= static_cast<int>(engine::PayrollField::DeferredPensionThroughPayroll); ++f)
            names.emplace_back(engine::fieldName(static_cast<engine::PayrollField>(f)));
        return names;
    }();
    sheets::Table table;
    for (std::string& caption : captions) {
        const bool text = std::find(texts.begin(), texts.end(), caption) != texts.end();
        const double width =
            caption == "证件号码" || caption == "身份证号" || caption == "银行卡号" ? 21 : 12;
        table.columns.push_back(
            sheets::Column{std::move(caption), width,
                           text ? sheets::ColumnKind::Text : sheets::ColumnKind::Amount});
    }
    table.rows = std::move(rows);
    return table;
}

bool tsvOutput(const std::optional<std::string>& output) {
    if (!output) return true;
    const std::string ext = lowerExtension(*output);
    return ext != ".csv" && ext != ".xlsx";
}

void TsvText::append(const CellRow& row) {
    constexpr std::size_t kPart = 1 << 20;
    if (m_parts.empty() || m_parts.back().size() > kPart - 4096)
        m_parts.emplace_back().reserve(kPart);
    appendDelimitedRow(m_parts.back(), row, Delimiter::Tab, "\n");
}

bool writeTsv(const std::optional<std::string>& output, const TsvText& tsv,
              const CellRow& captions) {
    if (!output) {
        // A failed write is told when standard output is closed.
        for (const std::string& part : tsv.parts())
            std::cout.write(part.data(), static_cast<std::streamsize>(part.size()));
        return true;
    }
    // A file has the header, as every file written by -o has.
    std::string whole;
    appendDelimitedRow(whole, captions, Delimiter::Tab, "\n");
    for (const std::string& part : tsv.parts())
        whole += part;
    std::string problem;
    if (!writeOutput(std::filesystem::path(*output), whole, problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return false;
    }
    return true;
}

bool writeTable(const std::optional<std::string>& output, const sheets::Table& table) {
    if (tsvOutput(output)) {
        TsvText tsv;
        for (const CellRow& row : table.rows)
            tsv.append(row);
        CellRow captions;
        for (const sheets::Column& c : table.columns)
            captions.push_back(c.caption);
        return writeTsv(output, tsv, captions);
    }
    const std::filesystem::path path(*output);
    if (lowerExtension(*output) == ".xlsx") {
        if (Outcome<void> r = sheets::writeXlsx(path, table); !r) {
            std::cerr << "iitcalc-cli: " << oneLine(r.problem().message).toUtf8() << "\n";
            return false;
        }
        return true;
    }
    std::string problem;
    if (!writeOutput(path, sheets::tableToCsv(table), problem)) {
        std::cerr << "iitcalc-cli: " << problem << "\n";
        return false;
    }
    return true;
}

std::optional<int> parseYear(const std::string& word) {
    if (word.empty() || word.size() > 4 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int year = std::stoi(word);
    return year >= 1 ? std::optional<int>(year) : std::nullopt;
}

std::optional<int> parseMonth(const std::string& word) {
    if (word.empty() || word.size() > 2 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int month = std::stoi(word);
    return month >= 1 && month <= 12 ? std::optional<int>(month) : std::nullopt;
}

int thisYear() {
    return YearOf(Now());
}

} // namespace iit::cli
