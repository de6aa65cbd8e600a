// Undo and redo of a grid's cell texts: steps, amendments and the memory bound.
#include "grid/grid_history.h"

#include <utility>

namespace iit {
namespace {

// Bytes a journal holds: its entries and the buffers of texts too long for the string itself.
std::size_t bytesOf(const std::vector<CellChange>& changes) {
    static const std::size_t inPlace = std::string().capacity();
    std::size_t bytes = changes.capacity() * sizeof(CellChange);
    for (const CellChange& c : changes) {
        const std::size_t capacity = c.text.bytes().capacity();
        if (capacity > inPlace) bytes += capacity + 1;
    }
    return bytes;
}

} // namespace

GridHistory::GridHistory(Grid& grid, std::size_t memoryLimit)
    : m_grid(grid), m_memoryLimit(memoryLimit) {
    m_rowInserted = grid.events().rowInserted.connect([this](int) { rowsChanged(); });
    m_rowRemoved = grid.events().rowRemoved.connect([this](int) { rowsChanged(); });
}

GridHistory::~GridHistory() {
    if (m_depth > 0) m_grid.setJournal(nullptr);
}

GridHistory::Step::Step(GridHistory* history) : m_history(history) {
    if (m_history) m_history->open(false);
}

GridHistory::Step::~Step() {
    if (m_history) m_history->close();
}

GridHistory::Amendment::Amendment(GridHistory* history) : m_history(history) {
    if (m_history) m_history->open(true);
}

GridHistory::Amendment::~Amendment() {
    if (m_history) m_history->close();
}

bool GridHistory::canAmend() const {
    return m_lastStepOpen && m_present > 0 && m_present == m_steps.size() &&
           m_grid.textRevision() == m_lastStepRevision;
}

void GridHistory::open(bool amendment) {
    if (m_depth++ > 0) {
        // A step inside an amendment that cannot amend: what the amendment changed so far is
        // settled, and a new step records from here on.
        if (!amendment && m_recording == Recording::Scratch) {
            finishScratch();
            m_recording = Recording::NewStep;
            m_grid.setJournal(&m_pending);
        }
        return;
    }
    m_pending.clear();
    if (!amendment) {
        m_recording = Recording::NewStep;
        m_grid.setJournal(&m_pending);
    } else if (canAmend()) {
        m_recording = Recording::LastStep;
        m_grid.setJournal(&m_steps.back().changes);
    } else {
        // Only the redo steps could suffer from what it changes; without them nothing is
        // journaled at all.
        m_recording = Recording::Scratch;
        m_grid.setJournal(m_present < m_steps.size() ? &m_pending : nullptr);
    }
}

void GridHistory::close() {
    if (--m_depth > 0) return;
    m_grid.setJournal(nullptr);
    switch (m_recording) {
    case Recording::NewStep:
        finishStep();
        break;
    case Recording::LastStep:
        recount(m_steps.back());
        m_lastStepRevision = m_grid.textRevision();
        enforceLimit();
        changed();
        break;
    case Recording::Scratch:
        finishScratch();
        break;
    case Recording::Off:
        break;
    }
    m_pending = {};
}

void GridHistory::finishStep() {
    if (m_pending.empty()) return; // nothing changed: no step, and the redo steps stay
    dropRedo();
    m_steps.push_back({std::exchange(m_pending, {}), 0});
    recount(m_steps.back());
    m_present = m_steps.size();
    m_lastStepOpen = true;
    m_lastStepRevision = m_grid.textRevision();
    enforceLimit();
    changed();
}

void GridHistory::finishScratch() {
    // The first record of a cell holds its state before the calculation; the calculation
    // changed the grid when any cell no longer has that state.
    std::vector<bool> seen(static_cast<std::size_t>(m_grid.rowCount()) *
                           static_cast<std::size_t>(m_grid.columnCount()));
    const int columns = m_grid.columnCount();
    bool changedCells = false;
    for (const CellChange& c : m_pending) {
        if (c.cell >= seen.size() || seen[c.cell]) continue;
        seen[c.cell] = true;
        const int row = static_cast<int>(c.cell / static_cast<std::uint32_t>(columns));
        const int column = static_cast<int>(c.cell % static_cast<std::uint32_t>(columns));
        if (m_grid.text(row, column) != c.text) {
            changedCells = true;
            break;
        }
    }
    m_pending.clear();
    if (changedCells && m_present < m_steps.size()) {
        dropRedo();
        changed();
    }
}

void GridHistory::recount(StepRecord& step) {
    m_memory -= step.bytes;
    step.bytes = sizeof(StepRecord) + bytesOf(step.changes);
    m_memory += step.bytes;
}

void GridHistory::dropRedo() {
    while (m_steps.size() > m_present) {
        m_memory -= m_steps.back().bytes;
        m_steps.pop_back();
    }
}

void GridHistory::enforceLimit() {
    while (m_memory > m_memoryLimit) {
        const std::size_t keep = m_present > 0 ? m_present - 1 : 0;
        if (keep > 0) {
            m_memory -= m_steps.front().bytes;
            m_steps.pop_front();
            --m_present;
        } else if (m_steps.size() > keep + 1) {
            m_memory -= m_steps.back().bytes;
            m_steps.pop_back();
        } else {
            break;
        }
    }
}

bool GridHistory::undo() {
    if (!canUndo()) return false;
    StepRecord& step = m_steps[--m_present];
    m_grid.exchange(step.changes, true);
    recount(step); // the step now holds the texts it replaced, which may be larger
    m_lastStepOpen = false;
    enforceLimit();
    changed();
    return true;
}

bool GridHistory::redo() {
    if (!canRedo()) return false;
    StepRecord& step = m_steps[m_present++];
    m_grid.exchange(step.changes, false);
    recount(step);
    m_lastStepOpen = false;
    enforceLimit();
    changed();
    return true;
}

void GridHistory::clear() {
    if (m_depth > 0 && m_recording == Recording::LastStep) {
        // The step being amended goes too; the rest of the scope records nothing.
        m_grid.setJournal(nullptr);
        m_recording = Recording::Off;
    }
    const bool had = !m_steps.empty();
    m_steps.clear();
    m_present = 0;
    m_memory = 0;
    m_lastStepOpen = false;
    if (had) changed();
}

void GridHistory::setMemoryLimit(std::size_t bytes) {
    m_memoryLimit = bytes;
    enforceLimit();
    changed();
}

void GridHistory::rowsChanged() {
    clear();
    if (m_depth > 0) {
        // What the open scope recorded names cells by their old positions.
        m_grid.setJournal(nullptr);
        m_pending.clear();
        m_recording = Recording::Off;
    }
}

} // namespace iit
