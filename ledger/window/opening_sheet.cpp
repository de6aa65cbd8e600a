#include "ledger/window/opening_sheet.h"

#include "base/convert.h"
#include "engine/amount.h"

#include <algorithm>

namespace iit::ledger {
namespace {

GridSetup setupFor(std::size_t people) {
    return GridSetup{.rows = static_cast<int>(people) + 1,
                     .columns = kOpeningColumns,
                     .fixedRows = 1,
                     .fixedColumns = 1,
                     .rowHeight = 24,
                     .columnWidth = 92};
}

bool blank(const Text& t) {
    return engine::trimCell(t.toUtf8()).empty();
}

} // namespace

OpeningSheet::OpeningSheet(std::vector<OpeningPerson> people, int month)
    : m_people(std::move(people)), m_month(month), m_grid(setupFor(m_people.size())) {
    Grid::UpdateScope scope(m_grid);
    const std::span<const PayrollField> names = openingFields();
    m_grid.setText(0, kOpeningNumber, sysText("序号"));
    m_grid.setText(0, kOpeningName, sysText("姓名"));
    m_grid.setText(0, kOpeningId, sysText("身份证号"));
    m_grid.setText(0, kOpeningThrough, sysText(engine::fieldName(names[3])));
    for (int k = 0; k < 8; ++k)
        m_grid.setText(0, kOpeningFirstAmount + k,
                       sysText(engine::fieldName(names[static_cast<std::size_t>(4 + k)])));
    m_grid.setColumnWidth(kOpeningNumber, 44);
    m_grid.setColumnWidth(kOpeningName, 72);
    m_grid.setColumnWidth(kOpeningId, 160);
    m_grid.setColumnWidth(kOpeningThrough, 72);
    m_grid.setRowHeight(0, 44);
    m_grid.setWordWrap(0, 0, 0, kOpeningColumns - 1, true);
    m_grid.setAlignment(0, 0, 0, kOpeningColumns - 1, Align::Centre);
    const int last = static_cast<int>(m_people.size());
    if (last >= 1) {
        m_grid.setAlignment(1, kOpeningThrough, last, kOpeningColumns - 1, Align::Right);
        m_grid.setAlignment(1, kOpeningNumber, last, kOpeningNumber, Align::Centre);
    }
    for (int row = 1; row <= last; ++row) {
        const OpeningPerson& p = m_people[static_cast<std::size_t>(row - 1)];
        m_grid.setText(row, kOpeningNumber, ToText(row));
        m_grid.setText(row, kOpeningName, p.employee.name);
        m_grid.setText(row, kOpeningId, p.employee.key.idNumber);
        m_grid.setReadOnly(row, kOpeningName, true);
        m_grid.setReadOnly(row, kOpeningId, true);
        if (!p.opening) continue;
        const Opening& o = *p.opening;
        m_grid.setText(row, kOpeningThrough, ToText(o.throughMonth));
        const Exact* amounts[] = {&o.income,  &o.taxFree,           &o.basicDeduction,
                                  &o.special, &o.specialAdditional, &o.other,
                                  &o.relief,  &o.withheld};
        for (int k = 0; k < 8; ++k)
            m_grid.setText(row, kOpeningFirstAmount + k, ToText(*amounts[k]));
    }
}

OpeningSheet::Changes OpeningSheet::changes() const {
    Changes out;
    std::vector<Text> header;
    for (PayrollField f : openingFields())
        header.push_back(sysText(engine::fieldName(f)));
    out.rows.push_back(std::move(header));
    out.rowNumbers.push_back(0);
    for (int row = 1; row <= static_cast<int>(m_people.size()); ++row) {
        const OpeningPerson& p = m_people[static_cast<std::size_t>(row - 1)];
        bool any = false;
        for (int c = kOpeningThrough; c < kOpeningColumns; ++c)
            any = any || !blank(m_grid.text(row, c));
        if (!any) {
            if (p.opening) out.removed.push_back(p.employee.key);
            continue;
        }
        Text through = m_grid.text(row, kOpeningThrough);
        if (blank(through)) through = ToText(std::max(m_month - 1, 1));
        std::vector<Text> cells{p.employee.key.idType, p.employee.key.idNumber, p.employee.name,
                                through};
        for (int c = kOpeningFirstAmount; c < kOpeningColumns; ++c)
            cells.push_back(m_grid.text(row, c));
        out.rows.push_back(std::move(cells));
        out.rowNumbers.push_back(static_cast<std::size_t>(row));
    }
    return out;
}

} // namespace iit::ledger
