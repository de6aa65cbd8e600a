#pragma once
// Undo and redo of a grid's cell texts.
//
// A GridHistory records one step per user operation: an in-place edit, a paste, a cut, Delete
// of the selection, a clear of the grid, the open of a file that replaces the sheet. The
// operation runs inside a Step scope; while it is open the grid journals the previous state
// (text and modified bit) of every cell it changes, and when the outermost scope closes the
// journal becomes one step. undo() puts the recorded states back and keeps the ones they
// replaced, so that redo() can bring them back again: a step is undone and redone as a whole.
//
// Calculations are not steps of their own. The calculation a window runs right after an
// operation (the row computed when an edit is committed, every row after a Ctrl+V paste) runs
// inside an Amendment scope, whose changes join the last step as long as nothing has changed
// the grid's texts since that step (no undo, no redo, no other store): undoing then restores
// the tax cells and the totals row too, and redo brings both back. A calculation that follows
// anything else (an undo, a redo, an unrecorded change) cannot amend: it records nothing,
// undo steps stay as they are, and the redo steps are dropped if the calculation changed any
// cell, since redoing them would bring back results that the calculation has replaced.
//
// Scopes nest: a Step or Amendment opened inside another joins the outer one, except that a
// Step inside an Amendment that cannot amend starts a new step, which takes the rest of the
// outer scope's changes as well.
//
// The history is bounded by memory: when the recorded steps exceed the limit, the oldest undo
// steps are dropped first, then the farthest redo steps; the step nearest to the present is
// always kept. A clear of the whole batch sheet costs no copies: the cleared texts move into
// the step. Inserting or removing a row renumbers the cells, so it clears the history.

#include "base/signal.h"
#include "grid/grid.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace iit {

class GridHistory {
public:
    static constexpr std::size_t kDefaultMemoryLimit = std::size_t{64} << 20;

    explicit GridHistory(Grid& grid, std::size_t memoryLimit = kDefaultMemoryLimit);
    ~GridHistory();
    GridHistory(const GridHistory&) = delete;
    GridHistory& operator=(const GridHistory&) = delete;

    // Records the grid's changes while it exists as one step. A null history records nothing.
    class Step {
    public:
        explicit Step(GridHistory* history);
        explicit Step(GridHistory& history) : Step(&history) {}
        ~Step();
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        GridHistory* m_history;
    };

    // Adds the grid's changes while it exists to the last step, when that step is still the
    // last thing done to the grid (see above). A null history records nothing.
    class Amendment {
    public:
        explicit Amendment(GridHistory* history);
        explicit Amendment(GridHistory& history) : Amendment(&history) {}
        ~Amendment();
        Amendment(const Amendment&) = delete;
        Amendment& operator=(const Amendment&) = delete;

    private:
        GridHistory* m_history;
    };

    bool canUndo() const { return m_depth == 0 && m_present > 0; }
    bool canRedo() const { return m_depth == 0 && m_present < m_steps.size(); }
    // False when there is nothing to undo or redo, or while a scope is open.
    bool undo();
    bool redo();
    // Forgets every step.
    void clear();

    std::size_t undoCount() const { return m_present; }
    std::size_t redoCount() const { return m_steps.size() - m_present; }
    // Bytes the recorded steps hold (their journals and the texts' buffers).
    std::size_t memoryUsed() const { return m_memory; }
    std::size_t memoryLimit() const { return m_memoryLimit; }
    void setMemoryLimit(std::size_t bytes);
    bool isRecording() const { return m_depth > 0; }

    // After anything that may change canUndo() or canRedo().
    Signal<> changed;

private:
    struct StepRecord {
        std::vector<CellChange> changes;
        std::size_t bytes = 0;
    };
    enum class Recording {
        NewStep,  // into m_pending
        LastStep, // into the last step
        Scratch,  // an amendment that cannot amend: only to tell whether it changed a cell
        Off,      // the rows changed while recording: the rest of the scope is not recorded
    };

    void open(bool amendment);
    void close();
    bool canAmend() const;
    void finishStep();
    void finishScratch();
    void recount(StepRecord& step);
    void dropRedo();
    void enforceLimit();
    void rowsChanged();

    Grid& m_grid;
    std::size_t m_memoryLimit;
    std::deque<StepRecord> m_steps; // oldest first
    std::size_t m_present = 0;      // steps before it are undone by undo(), from it redone
    std::size_t m_memory = 0;
    int m_depth = 0;
    Recording m_recording = Recording::NewStep;
    std::vector<CellChange> m_pending;
    // The grid's text revision when the last step was closed or amended; an amendment joins
    // that step only while the revision is unchanged.
    std::uint64_t m_lastStepRevision = 0;
    bool m_lastStepOpen = false;
    Connection m_rowInserted;
    Connection m_rowRemoved;
};

} // namespace iit
