// The grid view on the batch sheet's 10,001 x 8 grid and on a 14 x 9 grid laid out as the
// rate-table window's (merges, hidden rows and columns), driven by real key and mouse events.
#include "batch/sheet.h"
#include "grid/grid_history.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/clipboard.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "tests/support/modal_watchdog.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(iit::CellRange)

namespace iit {
// What QCOMPARE prints for a cell range.
char* toString(const CellRange& r) {
    return QTest::toString(
        QStringLiteral("(%1, %2)-(%3, %4)").arg(r.top).arg(r.left).arg(r.bottom).arg(r.right));
}
char* toString(const std::optional<CellRange>& r) {
    return r ? toString(*r) : QTest::toString(QStringLiteral("none"));
}
} // namespace iit

using iit::CellRange;
using iit::Connection;
using iit::Grid;
using iit::GridHistory;
using iit::Text;
using iit::gui::GridModel;
using iit::gui::GridView;

namespace {

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The rate-table window's grid: 14 x 9, row 0 and column 0 fixed, columns 6 and 8 and rows 1
// and 2 hidden, header cells merged.
iit::GridSetup rateTableSetup() {
    return {14, 9, 1, 1, 26, 80, 0x800000, 0xFFFFFF, 0x800000};
}

void layOutRateTable(Grid& g) {
    g.setColumnWidth(0, 40);
    g.setAlignment(0, 0, 14, 9, iit::Align::Centre);
    for (int i = 1; i <= 13; ++i) {
        g.setText(i, 0, Text::fromBytes(std::to_string(i)));
        if (i <= 8) g.setText(0, i, Text::fromBytes(std::to_string(i)));
    }
    g.setColumnWidth(3, 22);
    g.setColumnWidth(4, 100);
    g.setColumnWidth(6, 0);
    g.setColumnWidth(8, 0);
    g.setRowHeight(1, 0);
    g.setRowHeight(2, 0);
    g.mergeCells(1, 1, 1, 8);
    g.mergeCells(2, 1, 2, 2);
    g.mergeCells(3, 1, 3, 8);
    g.mergeCells(4, 2, 4, 4);
    g.mergeCells(4, 5, 4, 6);
    g.mergeCells(4, 7, 4, 8);
    g.setText(3, 1, U("税率表"));
    g.setText(4, 1, U("起征点"));
    g.setText(4, 2, U("个人所得税征税范围"));
    g.setText(5, 3, U("至"));
    for (int r = 5; r <= 13; ++r)
        for (int c : {2, 4, 5, 7})
            g.setText(r, c, Text::fromBytes(std::to_string(r * 10 + c)));
}

// Every cell's text, to compare whole grids.
std::vector<std::string> texts(const Grid& g) {
    std::vector<std::string> out;
    for (int r = 0; r < g.rowCount(); ++r)
        for (int c = 0; c < g.columnCount(); ++c)
            out.push_back(g.text(r, c).bytes());
    return out;
}

} // namespace

class GridViewTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void oneDataChangedPerOperation();
    void editThroughKeys();
    void editStartsAndEnds_data();
    void editStartsAndEnds();
    void fixedCellsAreNeverEdited();
    void endPendingEditCommitsTheEditor();
    void aMessageBoxOnCommitCommitsOnce();
    void selectionFromMouseAndKeysIsTheGrids_data();
    void selectionFromMouseAndKeysIsTheGrids();
    void programSelectionIsShown();
    void deleteCutAndUndoThroughKeys();
    void copyAndPasteRoundTrip();
    void spreadsheetTextFillsExactlyItsRows_data();
    void spreadsheetTextFillsExactlyItsRows();
    void hugeClipboardsStayBounded();
    void keyReleaseAndRightButtonSignals();
    void rateTableLayout();
    void rateTableCopyAndPasteSkipHiddenCells();
    void aGridWalkedByAScreenReaderClosesQuickly();
    void frozenColumnsStayWhileTheRestScrolls();

private:
    void show(Grid& grid, GridHistory* history);
    QPoint cellCentre(int row, int column) const;
    void click(int row, int column, Qt::KeyboardModifiers mods = {});
    void key(int k, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(k), mods);
    }
    // Each character to the widget that has the focus then: the first one typed into a cell
    // opens its editor, which takes the rest.
    void type(const char* text) {
        for (const QChar ch : Q(text)) {
            if (ch.unicode() < 0x80)
                QTest::keyClicks(QApplication::focusWidget(), QString(ch));
            else // what an input method delivers: a text without a key of its own
                QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown,
                                    QString(ch), Qt::NoModifier);
        }
    }
    std::optional<CellRange> viewSelection() const;
    QLineEdit* editor() const { return m_view->findChild<QLineEdit*>("gridEditor"); }

    std::unique_ptr<iit::testing::ModalWatchdog> m_watchdog;
    std::unique_ptr<iit::batch::BatchSheet> m_sheet;
    std::unique_ptr<GridHistory> m_history;
    std::unique_ptr<GridView> m_view;
};

void GridViewTest::init() {
    m_watchdog = std::make_unique<iit::testing::ModalWatchdog>();
    m_sheet = std::make_unique<iit::batch::BatchSheet>();
    m_history = std::make_unique<GridHistory>(m_sheet->grid());
    show(m_sheet->grid(), m_history.get());
}

void GridViewTest::cleanup() {
    m_view.reset();
    m_history.reset();
    m_sheet.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QStringList unexpected = m_watchdog->unexpected();
    m_watchdog.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable("unexpected dialog: " + unexpected.join(" | ")));
}

void GridViewTest::show(Grid& grid, GridHistory* history) {
    m_view = std::make_unique<GridView>();
    m_view->setGrid(grid, history);
    m_view->resize(813, 558);
    m_view->show();
    m_view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    m_view->setFocus();
}

QPoint GridViewTest::cellCentre(int row, int column) const {
    const GridModel* model = m_view->gridModel();
    m_view->scrollTo(model->indexOf(row, column));
    return m_view->visualRect(model->indexOf(row, column)).center();
}

void GridViewTest::click(int row, int column, Qt::KeyboardModifiers mods) {
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, mods, cellCentre(row, column));
}

// The bounding rectangle of the view's selection model, in grid cells.
std::optional<CellRange> GridViewTest::viewSelection() const {
    const QItemSelection s = m_view->selectionModel()->selection();
    if (s.isEmpty()) return std::nullopt;
    CellRange r{INT_MAX, INT_MAX, -1, -1};
    for (const QItemSelectionRange& range : s) {
        r.top = std::min(r.top, range.top() + 1);
        r.left = std::min(r.left, range.left() + 1);
        r.bottom = std::max(r.bottom, range.bottom() + 1);
        r.right = std::max(r.right, range.right() + 1);
    }
    return r;
}

void GridViewTest::oneDataChangedPerOperation() {
    Grid& g = m_sheet->grid();
    QSignalSpy changed(m_view->gridModel(), &QAbstractItemModel::dataChanged);
    QSignalSpy headers(m_view->gridModel(), &QAbstractItemModel::headerDataChanged);
    struct Case {
        const char* name;
        std::function<void()> run;
        int data, header;
        QModelIndex topLeft, bottomRight; // of the one dataChanged
    };
    const GridModel* m = m_view->gridModel();
    const Case cases[] = {
        {"set text", [&] { g.setText(5, 3, U("8000")); }, 1, 0, m->index(4, 2), m->index(4, 2)},
        {"clear 70,000 cells", [&] { m_sheet->ClearGrid(); }, 1, 0, m->index(0, 0),
         m->index(9999, 6)},
        {"paste",
         [&] {
             g.setCurrentCell(2, 1);
             g.paste(U("a\tb\r\nc\td\te\r\n"));
         },
         1, 0, m->index(1, 0), m->index(2, 2)},
        {"many stores in one scope",
         [&] {
             Grid::UpdateScope scope(g);
             for (int r = 1; r <= 10000; ++r)
                 g.setText(r, 4, Text::fromBytes(std::to_string(r)));
         },
         1, 0, m->index(0, 3), m->index(9999, 3)},
        {"undo",
         [&] {
             g.setCurrentCell(7, 2);
             {
                 GridHistory::Step step(*m_history);
                 g.paste(U("x\ny\nz"));
             }
             changed.clear();
             m_history->undo();
         },
         1, 0, m->index(6, 1), m->index(8, 1)},
        {"header caption", [&] { g.setText(0, 3, U("收入")); }, 0, 1, {}, {}},
        {"row number", [&] { g.setText(9, 0, U("九")); }, 0, 1, {}, {}},
    };
    for (const Case& c : cases) {
        changed.clear();
        headers.clear();
        c.run();
        QVERIFY2(changed.size() == c.data, c.name);
        QVERIFY2(headers.size() == c.header, c.name);
        if (c.data == 1) {
            QVERIFY2(changed[0][0].toModelIndex() == c.topLeft, c.name);
            QVERIFY2(changed[0][1].toModelIndex() == c.bottomRight, c.name);
        }
    }
    QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), Q("收入"));
    QCOMPARE(m->headerData(8, Qt::Vertical).toString(), Q("九"));
}

void GridViewTest::editThroughKeys() {
    Grid& g = m_sheet->grid();
    std::vector<std::pair<int, int>> commits;
    const Connection onCommit =
        g.events().cellEditCommitted.connect([&](int r, int c) { commits.emplace_back(r, c); });
    click(1, 3);
    type("8000");
    QVERIFY(editor());
    QCOMPARE(editor()->text(), Q("8000")); // typing replaced the (empty) text
    key(Qt::Key_Return);
    QVERIFY(!m_view->isEditing());
    QCOMPARE(g.text(1, 3), U("8000"));
    QVERIFY(g.isModified(1, 3));
    QCOMPARE(commits, (std::vector<std::pair<int, int>>{{1, 3}}));
    QCOMPARE(std::pair(g.currentRow(), g.currentColumn()), std::pair(2, 3)); // moved down
    QCOMPARE(m_history->undoCount(), std::size_t(1));

    // Typing over a filled cell replaces it; a CJK text goes through unchanged.
    key(Qt::Key_Up);
    type("张");
    key(Qt::Key_Tab);
    QCOMPARE(g.text(1, 3), U("张"));
    QCOMPARE(std::pair(g.currentRow(), g.currentColumn()), std::pair(1, 4)); // moved right
    QCOMPARE(commits.size(), std::size_t(2));

    key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(g.text(1, 3), U("8000"));
    key(Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(g.text(1, 3).empty());
    key(Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(g.text(1, 3), U("8000"));
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(g.text(1, 3), U("张"));
}

void GridViewTest::editStartsAndEnds_data() {
    QTest::addColumn<QString>("start"); // "type", "F2" or "double click"
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("end"); // the key that ends the edit
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("commits");
    QTest::addColumn<int>("row"); // where the current cell is afterwards
    QTest::addColumn<int>("column");
    QTest::newRow("type, Enter") << "type"
                                 << "9" << int(Qt::Key_Return) << "9" << 1 << 4 << 3;
    QTest::newRow("type, keypad Enter") << "type"
                                        << "9" << int(Qt::Key_Enter) << "9" << 1 << 4 << 3;
    QTest::newRow("type, Escape") << "type"
                                  << "9" << int(Qt::Key_Escape) << "old" << 0 << 3 << 3;
    QTest::newRow("F2 appends") << "F2"
                                << "9" << int(Qt::Key_Return) << "old9" << 1 << 4 << 3;
    QTest::newRow("double click appends") << "double click"
                                          << "9" << int(Qt::Key_Tab) << "old9" << 1 << 3 << 4;
    QTest::newRow("F2, Backtab") << "F2"
                                 << "" << int(Qt::Key_Backtab) << "old" << 1 << 3 << 2;
    QTest::newRow("F2, Down") << "F2"
                              << "1" << int(Qt::Key_Down) << "old1" << 1 << 4 << 3;
}

void GridViewTest::editStartsAndEnds() {
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(int, end);
    QFETCH(QString, stored);
    QFETCH(int, commits);
    QFETCH(int, row);
    QFETCH(int, column);
    Grid& g = m_sheet->grid();
    g.setText(3, 3, U("old"));
    int committed = 0;
    const Connection onCommit =
        g.events().cellEditCommitted.connect([&](int, int) { ++committed; });
    click(3, 3);
    if (start == "type") {
        type(typed.toUtf8().constData());
    } else {
        if (start == "F2")
            key(Qt::Key_F2);
        else
            QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, cellCentre(3, 3));
        QVERIFY(editor());
        type(typed.toUtf8().constData());
    }
    QVERIFY(m_view->isEditing());
    key(end);
    QVERIFY(!m_view->isEditing());
    QCOMPARE(iit::toQString(g.text(3, 3)), stored);
    QCOMPARE(committed, commits);
    QCOMPARE(std::pair(g.currentRow(), g.currentColumn()), std::pair(row, column));
}

void GridViewTest::fixedCellsAreNeverEdited() {
    Grid& g = m_sheet->grid();
    const std::vector<std::string> before = texts(g);
    // The fixed cells are the headers: no model cell, no editor.
    const GridModel* m = m_view->gridModel();
    QCOMPARE(m->rowCount(), 10000);
    QCOMPARE(m->columnCount(), 7);
    QCOMPARE(m->rowCount(m->index(0, 0)), 0);
    QVERIFY(!m->indexOf(0, 3).isValid() && !m->indexOf(5, 0).isValid());
    QTest::mouseDClick(m_view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                       QPoint(m_view->horizontalHeader()->sectionViewportPosition(2) + 10, 10));
    QTest::mouseDClick(m_view->verticalHeader()->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(!m_view->isEditing());
    // A fixed current cell: typing, F2 and a paste do nothing.
    for (auto [r, c] : {std::pair(0, 3), std::pair(4, 0), std::pair(0, 0)}) {
        g.setCurrentCell(r, c);
        type("x");
        key(Qt::Key_F2);
        QVERIFY(!m_view->isEditing());
        QApplication::clipboard()->setText(Q("pasted"));
        key(Qt::Key_V, Qt::ControlModifier);
    }
    // A read-only cell is not edited either.
    g.setReadOnly(2, 2, true);
    click(2, 2);
    type("x");
    QVERIFY(!m_view->isEditing());
    QVERIFY(!m_view->gridModel()->commitText(m->indexOf(2, 2), U("x")));
    QVERIFY(texts(g) == before);
}

void GridViewTest::endPendingEditCommitsTheEditor() {
    Grid& g = m_sheet->grid();
    std::vector<std::string> log;
    const Connection onCommit = g.events().cellEditCommitted.connect([&](int r, int c) {
        log.push_back("commit " + std::to_string(r) + "," + std::to_string(c) + " " +
                      g.text(r, c).bytes());
    });
    const Connection onMoved = g.events().currentCellMoved.connect([&] {
        log.push_back("moved " + std::to_string(g.currentRow()) + "," +
                      std::to_string(g.currentColumn()));
    });
    click(4, 3);
    log.clear();
    type("77");
    QVERIFY(m_view->isEditing());
    // What the rate-table window does when it is asked to close.
    g.setCurrentCell(1, 2);
    QVERIFY(!m_view->isEditing());
    QCOMPARE(log, (std::vector<std::string>{"commit 4,3 77", "moved 1,2"}));
    QCOMPARE(m_history->undoCount(), std::size_t(1));

    // The view's own call, and a focus moving away, commit too.
    click(5, 3);
    type("5");
    QVERIFY(m_view->commitPendingEdit());
    QCOMPARE(g.text(5, 3), U("5"));
    QVERIFY(!m_view->commitPendingEdit());
    QLineEdit elsewhere(m_view.get());
    elsewhere.show();
    click(6, 3);
    type("6");
    elsewhere.setFocus(Qt::MouseFocusReason);
    QCOMPARE(g.text(6, 3), U("6"));
    QVERIFY(!m_view->isEditing());
    // A click on another cell stores the edit and selects that cell.
    click(7, 3);
    type("7");
    click(8, 4);
    QCOMPARE(g.text(7, 3), U("7"));
    QVERIFY(!m_view->isEditing());
    QCOMPARE(g.selection(), std::optional<CellRange>(CellRange{8, 4, 8, 4}));
}

void GridViewTest::aMessageBoxOnCommitCommitsOnce() {
    // The batch window's computation of an edited row may show a message (an income below the
    // threshold) from the commit event; the box takes the focus from nothing of the edit's.
    Grid& g = m_sheet->grid();
    int commits = 0;
    const Connection onCommit = g.events().cellEditCommitted.connect([&](int, int) {
        ++commits;
        iit::gui::messageBox(U("  个人所得收入小于纳税标准, 不计税! . . .    "));
    });
    m_watchdog->expect([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
    click(2, 3);
    type("100");
    key(Qt::Key_Return);
    QTRY_COMPARE(m_watchdog->pending(), std::size_t(0));
    QCOMPARE(commits, 1);
    QCOMPARE(g.text(2, 3), U("100"));
    QVERIFY(!m_view->isEditing());
    QCOMPARE(std::pair(g.currentRow(), g.currentColumn()), std::pair(3, 3));
}

void GridViewTest::selectionFromMouseAndKeysIsTheGrids_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<CellRange>("want");
    QTest::newRow("click") << "click" << CellRange{3, 2, 3, 2};
    QTest::newRow("drag") << "drag" << CellRange{2, 2, 5, 4};
    QTest::newRow("drag up and left") << "drag back" << CellRange{2, 2, 5, 4};
    QTest::newRow("shift click") << "shift click" << CellRange{3, 2, 6, 5};
    QTest::newRow("shift arrows") << "shift arrows" << CellRange{3, 2, 5, 3};
    QTest::newRow("shift page down") << "shift page down" << CellRange{3, 2, 3 + 20, 2};
    QTest::newRow("ctrl A") << "ctrl A" << CellRange{1, 1, 10000, 7};
    QTest::newRow("column header") << "column header" << CellRange{1, 3, 10000, 3};
    QTest::newRow("row header") << "row header" << CellRange{4, 1, 4, 7};
    QTest::newRow("corner") << "corner" << CellRange{1, 1, 10000, 7};
    QTest::newRow("ctrl end") << "ctrl end" << CellRange{10000, 7, 10000, 7};
}

void GridViewTest::selectionFromMouseAndKeysIsTheGrids() {
    QFETCH(QString, action);
    QFETCH(CellRange, want);
    Grid& g = m_sheet->grid();
    for (int r = 1; r <= 10000; r += 1)
        g.setText(r, 2, Text::fromBytes(std::to_string(r)));
    click(3, 2);
    QWidget* viewport = m_view->viewport();
    if (action == "drag" || action == "drag back") {
        const bool back = action == "drag back";
        QTest::mousePress(viewport, Qt::LeftButton, {}, cellCentre(back ? 5 : 2, back ? 4 : 2));
        QTest::mouseMove(viewport, cellCentre(3, 3));

        QTest::mouseMove(viewport, cellCentre(back ? 2 : 5, back ? 2 : 4));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, cellCentre(back ? 2 : 5, back ? 2 : 4));
    } else if (action == "shift click") {
        click(6, 5, Qt::ShiftModifier);
    } else if (action == "shift arrows") {
        key(Qt::Key_Down, Qt::ShiftModifier);
        key(Qt::Key_Down, Qt::ShiftModifier);
        key(Qt::Key_Right, Qt::ShiftModifier);
    } else if (action == "shift page down") {
        key(Qt::Key_PageDown, Qt::ShiftModifier);
        // A page is as many rows as the view shows; the test's view shows 20 full rows.
        want.bottom = g.currentRow();
        QVERIFY(want.bottom > 10);
    } else if (action == "ctrl A") {
        key(Qt::Key_A, Qt::ControlModifier);
    } else if (action == "column header") {
        QHeaderView* h = m_view->horizontalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(2) + 5, 10));
    } else if (action == "row header") {
        QHeaderView* v = m_view->verticalHeader();
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {},
                          QPoint(10, v->sectionViewportPosition(3) + 5));
    } else if (action == "corner") {
        auto* corner = m_view->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(corner);
        QTest::mouseClick(corner, Qt::LeftButton);
    } else if (action == "ctrl end") {
        key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(std::pair(g.currentRow(), g.currentColumn()), std::pair(10000, 7));
        QVERIFY(m_view->visualRect(m_view->currentIndex()).intersects(viewport->rect()));
    }
    QCOMPARE(g.selection(), std::optional<CellRange>(want));
    QCOMPARE(viewSelection(), std::optional<CellRange>(want));
    // What the user sees selected is what a copy takes.
    QVERIFY(m_view->copySelection());
    QCOMPARE(QApplication::clipboard()->text(), iit::toQString(*g.copy()));
    QCOMPARE(QApplication::clipboard()->text().count(u'\n'), want.bottom - want.top);
}

void GridViewTest::programSelectionIsShown() {
    Grid& g = m_sheet->grid();
    m_sheet->SelectAll();
    QCOMPARE(viewSelection(), std::optional<CellRange>(CellRange{1, 1, 10000, 7}));
    g.setSelection(0, 0, 3, 3); // fixed cells: the view shows the part it has cells for
    QCOMPARE(viewSelection(), std::optional<CellRange>(CellRange{1, 1, 3, 3}));
    g.setCurrentCell(8, 5); // clears the selection
    QVERIFY(!viewSelection().has_value());
    QCOMPARE(m_view->currentIndex(), m_view->gridModel()->indexOf(8, 5));
    g.setCurrentCell(0, 5);
    QVERIFY(!m_view->currentIndex().isValid());
    // Moving the current cell far down scrolls it into view.
    g.setCurrentCell(9000, 2);
    QVERIFY(m_view->visualRect(m_view->currentIndex()).intersects(m_view->viewport()->rect()));
}

void GridViewTest::deleteCutAndUndoThroughKeys() {
    Grid& g = m_sheet->grid();
    for (int r = 1; r <= 6; ++r)
        for (int c = 1; c <= 7; ++c)
            g.setText(r, c, Text::fromBytes(std::to_string(r * 10 + c)));
    const std::vector<std::string> filled = texts(g);
    click(2, 2);
    click(4, 3, Qt::ShiftModifier);
    key(Qt::Key_Delete);
    for (int r = 1; r <= 6; ++r) {
        for (int c = 1; c <= 7; ++c) {
            const bool inside = r >= 2 && r <= 4 && c >= 2 && c <= 3;
            QCOMPARE(g.text(r, c).empty(), inside);
        }
    }
    QCOMPARE(g.text(3, 0), U("3")); // the row numbers stay
    key(Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(texts(g) == filled);

    // Cut: the clipboard gets the cells, then they are emptied; undone in one step.
    click(5, 6);
    click(6, 7, Qt::ShiftModifier);
    key(Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), Q("56\t57\r\n66\t67"));
    QVERIFY(g.text(6, 7).empty());
    key(Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(texts(g) == filled);
    key(Qt::Key_Y, Qt::ControlModifier);
    QVERIFY(g.text(5, 6).empty());
    // Delete of a program's selection that takes in fixed cells empties only the others.
    g.setSelection(0, 0, 1, 1);
    key(Qt::Key_Delete);
    QCOMPARE(g.text(0, 1), U("姓  名"));
    QCOMPARE(g.text(1, 0), U("1"));
    QVERIFY(g.text(1, 1).empty());
}

void GridViewTest::copyAndPasteRoundTrip() {
    Grid& g = m_sheet->grid();
    for (int r = 1; r <= 10000; ++r) {
        const std::string n = std::to_string(r);
        g.setText(r, 1, U("职工") + Text::fromBytes(n));
        g.setText(r, 2, Text::fromBytes("110101198001" + std::to_string(100000 + r)));
        g.setText(r, 3, Text::fromBytes(std::to_string(5000 + r) + ".5"));
        if (r % 3 == 0) g.setText(r, 7, U("已发放"));
    }
    const std::vector<std::string> filled = texts(g);
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), iit::toQString(*g.copy()));
    QApplication::clipboard()->clear();
    key(Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), iit::toQString(*g.copy()));

    m_sheet->ClearGrid();
    g.setCurrentCell(1, 1);
    key(Qt::Key_V, Qt::ControlModifier);
    QVERIFY(texts(g) == filled);
    QCOMPARE(m_history->undoCount(), std::size_t(1));
    m_sheet->ClearGrid();
    g.setCurrentCell(1, 1);
    key(Qt::Key_Insert, Qt::ShiftModifier);
    QVERIFY(texts(g) == filled);
}

void GridViewTest::spreadsheetTextFillsExactlyItsRows_data() {
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<int>("row");      // where the paste starts, column 1
    QTest::addColumn<QString>("want"); // rows 4 to 8, columns 1 to 3
    QTest::newRow("CR LF, closing line break") << "a\tb\r\nc\td\r\n"
                                               << 5 << "o|o|o/a|b|o/c|d|o/o|o|o/o|o|o";
    QTest::newRow("LF, closing line break") << "a\tb\nc\td\n"
                                            << 5 << "o|o|o/a|b|o/c|d|o/o|o|o/o|o|o";
    QTest::newRow("no closing line break")
        << "a\tb\r\nc\td" << 5 << "o|o|o/a|b|o/c|d|o/o|o|o/o|o|o";
    QTest::newRow("an empty line inside") << "a\r\n\r\nc\r\n"
                                          << 4 << "a|o|o/o|o|o/c|o|o/o|o|o/o|o|o";
    QTest::newRow("one cell") << "x\r\n" << 8 << "o|o|o/o|o|o/o|o|o/o|o|o/x|o|o";
}

void GridViewTest::spreadsheetTextFillsExactlyItsRows() {
    QFETCH(QString, clipboard);
    QFETCH(int, row);
    QFETCH(QString, want);
    Grid& g = m_sheet->grid();
    for (int r = 4; r <= 9; ++r)
        for (int c = 1; c <= 3; ++c)
            g.setText(r, c, U("o"));
    QApplication::clipboard()->setText(clipboard);
    click(row, 1);
    key(Qt::Key_V, Qt::ControlModifier);
    QString got;
    for (int r = 4; r <= 8; ++r)
        for (int c = 1; c <= 3; ++c)
            got += (c > 1 ? "|" : r > 4 ? "/" : "") + iit::toQString(g.text(r, c));
    QCOMPARE(got, want);
    QCOMPARE(g.text(9, 1), U("o"));
}

void GridViewTest::hugeClipboardsStayBounded() {
    Grid& g = m_sheet->grid();
    struct Case {
        const char* name;
        QString text;
        int row, column; // a cell to check
        const char* cell;
    };
    QString lines;
    for (int i = 0; i < 500'000; ++i)
        lines += QStringLiteral("姓名%1\t%1\r\n").arg(i);
    const Case cases[] = {
        {"500,000 lines", lines, 10000, 2, "9999"},
        {"a line of a million TABs", "a" + QString(1'000'000, u'\t') + "b\r\nz", 2, 1, "z"},
        {"a field of 8 million characters", QString(8'000'000, u'q'), 2, 1, ""},
    };
    for (const Case& c : cases) {
        m_sheet->ClearGrid();
        m_history->clear();
        QApplication::clipboard()->setText(c.text);
        g.setCurrentCell(1, 1);
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(m_view->pasteAtCurrentCell(), c.name);
        m_view->viewport()->repaint(); // the cell with the whole field among them
        const qint64 ms = timer.elapsed();
        QVERIFY2(ms < 2000, qPrintable(QStringLiteral("%1: %2 ms").arg(c.name).arg(ms)));
        QCOMPARE(g.text(c.row, c.column), U(c.cell));
        QCOMPARE(g.rowCount(), 10001);
    }
    QCOMPARE(g.text(1, 1).size(), std::size_t(8'000'000));
    // Undo gives the huge text back to the history, redo to the cell.
    QVERIFY(m_view->undo());
    QVERIFY(g.text(1, 1).empty());
    QVERIFY(m_view->redo());
    QCOMPARE(g.text(1, 1).size(), std::size_t(8'000'000));
}

void GridViewTest::keyReleaseAndRightButtonSignals() {
    Grid& g = m_sheet->grid();
    QSignalSpy released(m_view.get(), &GridView::keyReleased);
    QSignalSpy right(m_view.get(), &GridView::rightButtonPressed);
    QApplication::clipboard()->setText(Q("x"));
    click(2, 2);
    // A key with modifiers is released before them; Ctrl alone is reported as well.
    key(Qt::Key_V, Qt::ControlModifier);
    key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(m_view.get(), Qt::Key_Control);
    // Releases in the editor are the editor's: only the one of the key that opened it counts.
    type("1");
    QTest::keyClick(editor(), Qt::Key_2);
    key(Qt::Key_Escape);
    QList<int> keys;
    for (const QList<QVariant>& r : released)
        keys << r[0].toInt();
    QCOMPARE(keys, (QList<int>{Qt::Key_V, Qt::Key_Control, Qt::Key_V, Qt::Key_Control,
                               Qt::Key_Shift, Qt::Key_Control, Qt::Key_1}));
    QCOMPARE(released[2][1].value<Qt::KeyboardModifiers>(),
             Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(g.text(2, 2), U("x"));

    // A right click inside the selection keeps it; outside it makes the clicked cell current.
    m_sheet->SelectAll();
    const QPoint inside = cellCentre(3, 3);
    QTest::mouseClick(m_view->viewport(), Qt::RightButton, {}, inside);
    QCOMPARE(right.size(), 1);
    QCOMPARE(right[0][0].toPoint(), m_view->viewport()->mapTo(m_view.get(), inside));
    QCOMPARE(g.selection(), std::optional<CellRange>(CellRange{1, 1, 10000, 7}));
    g.setSelection(1, 1, 2, 2);
    QTest::mouseClick(m_view->viewport(), Qt::RightButton, {}, cellCentre(5, 4));
    QCOMPARE(std::pair(g.currentRow(), g.currentColumn()), std::pair(5, 4));
    QCOMPARE(g.selection(), std::optional<CellRange>(CellRange{5, 4, 5, 4}));
    QTest::mouseClick(m_view->horizontalHeader()->viewport(), Qt::RightButton, {}, QPoint(5, 5));
    QCOMPARE(right.size(), 3);
    QCOMPARE(g.selection(), std::optional<CellRange>(CellRange{5, 4, 5, 4}));
}

void GridViewTest::rateTableLayout() {
    Grid rates(rateTableSetup());
    layOutRateTable(rates);
    // The batch sheet's view moves to the rate table: nothing of the old grid stays.
    m_view->setGrid(rates, nullptr);
    const GridModel* m = m_view->gridModel();
    QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
    m_sheet->grid().setText(1, 1, U("old grid"));
    QCOMPARE(changed.size(), 0);
    QCOMPARE(m->rowCount(), 13);
    QCOMPARE(m->columnCount(), 8);
    // Rows 1 and 2, columns 6 and 8 hidden; model rows and columns are one less.
    for (int r = 0; r < 13; ++r)
        QCOMPARE(m_view->isRowHidden(r), r == 0 || r == 1);
    for (int c = 0; c < 8; ++c)
        QCOMPARE(m_view->isColumnHidden(c), c == 5 || c == 7);
    QCOMPARE(m_view->columnWidth(2), 22);
    QCOMPARE(m_view->columnWidth(3), 100);
    QCOMPARE(m_view->rowHeight(5), 26);
    QCOMPARE(m_view->horizontalHeader()->height(), 26);
    QCOMPARE(m_view->verticalHeader()->width(), 40);
    // The merges are spans.
    QCOMPARE(m_view->columnSpan(2, 0), 8); // (3,1)-(3,8)
    QCOMPARE(m_view->columnSpan(3, 1), 3); // (4,2)-(4,4)
    QCOMPARE(m_view->columnSpan(3, 4), 2); // (4,5)-(4,6)
    QCOMPARE(m_view->rowSpan(4, 1), 1);
    QCOMPARE(m->headerData(4, Qt::Horizontal).toString(), Q("5"));
    QCOMPARE(m->data(m->indexOf(3, 1)).toString(), Q("税率表"));
    QCOMPARE(m->data(m->indexOf(5, 2), Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignHCenter | Qt::AlignVCenter);
    // A click on the merged caption makes its first cell current; the user can edit it.
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      m_view->visualRect(m->indexOf(3, 5)).center());
    QCOMPARE(std::pair(rates.currentRow(), rates.currentColumn()), std::pair(3, 1));
    // Moving down skips nothing visible; Enter from row 13 stays.
    rates.setCurrentCell(12, 2);
    key(Qt::Key_Return);
    key(Qt::Key_Return);
    QCOMPARE(rates.currentRow(), 13);
    // A width the program sets, and one the user drags, reach the other side.
    rates.setColumnWidth(4, 120);
    QCOMPARE(m_view->columnWidth(3), 120);
    m_view->horizontalHeader()->resizeSection(3, 90);
    QCOMPARE(rates.columnWidth(4), 90);
    rates.setRowHeight(7, 0);
    QVERIFY(m_view->isRowHidden(6));
    rates.setRowHeight(7, 30);
    QVERIFY(!m_view->isRowHidden(6));
    QCOMPARE(m_view->rowHeight(6), 30);
    m_view.reset(); // before the grid it shows
}

void GridViewTest::rateTableCopyAndPasteSkipHiddenCells() {
    Grid rates(rateTableSetup());
    layOutRateTable(rates);
    show(rates, nullptr);
    click(5, 4);
    click(6, 7, Qt::ShiftModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    // Column 6 is hidden: three fields a line.
    QCOMPARE(QApplication::clipboard()->text(), Q("54\t55\t57\r\n64\t65\t67"));
    QApplication::clipboard()->setText(Q("1\t2\t3\r\n4\t5\t6\r\n"));
    click(10, 4);
    key(Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(rates.text(10, 5), U("2"));
    QCOMPARE(rates.text(10, 6), Text());
    QCOMPARE(rates.text(10, 7), U("3"));
    QCOMPARE(rates.text(11, 7), U("6"));
    QCOMPARE(rates.text(12, 4), U("124")); // the closing line break writes nothing
    m_view.reset();
}

// A screen reader that walked every cell of a grid of 10,000 rows leaves an accessible
// interface for each; the view then goes in a moment (it took minutes when each cell's index
// was removed from the model one by one).
void GridViewTest::aGridWalkedByAScreenReaderClosesQuickly() {
    Grid big(iit::GridSetup{.rows = 10'001, .columns = 6, .fixedRows = 1, .fixedColumns = 1});
    show(big, nullptr);
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(m_view.get());
    QVERIFY(view && view->tableInterface());
    QAccessibleTableInterface* table = view->tableInterface();
    int cells = 0;
    for (int r = 0; r < table->rowCount(); ++r)
        for (int c = 0; c < table->columnCount(); ++c)
            cells += table->cellAt(r, c) != nullptr;
    QCOMPARE(cells, 10'000 * 5);
    QElapsedTimer timer;
    timer.start();
    m_view.reset();
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

// A grid of 20 columns of 80 pixels in a view of a third of that: 姓名 (column 1) frozen at
// the left, the last two at the right.
void GridViewTest::frozenColumnsStayWhileTheRestScrolls() {
    Grid wide(iit::GridSetup{.rows = 41, .columns = 21, .fixedRows = 1, .fixedColumns = 1});
    for (int r = 1; r <= 40; ++r)
        for (int c = 1; c <= 20; ++c)
            wide.setText(r, c, Text::fromBytes(std::to_string(r * 100 + c)));
    show(wide, nullptr);
    m_view->resize(600, 400);
    m_view->setFrozenColumns(1, 2);
    QApplication::processEvents();
    const GridModel* m = m_view->gridModel();
    QWidget* viewport = m_view->viewport();
    QScrollBar* bar = m_view->horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);
    const int width = viewport->width();
    auto band = [&](int x, int w) { return viewport->grab(QRect(x, 0, w, viewport->height())); };
    auto rectOf = [&](int row, int column) { return m_view->visualRect(m->indexOf(row, column)); };

    // At the start the right band stands pinned at the edge, the left one at its own place;
    // scrolled to the end, the other way round. Either way each band looks the same.
    QCOMPARE(rectOf(3, 20).right(), width - 1);
    QCOMPARE(rectOf(3, 1).left(), 0);
    const QImage leftAtStart = band(0, 80).toImage();
    const QImage rightAtStart = band(width - 160, 160).toImage();
    bar->setValue(bar->maximum());
    QApplication::processEvents();
    QCOMPARE(rectOf(3, 1).left(), 0);
    QCOMPARE(rectOf(3, 19).left(), width - 160);
    QCOMPARE(band(0, 80).toImage(), leftAtStart);
    QCOMPARE(band(width - 160, 160).toImage(), rightAtStart);

    // A click on a pinned cell takes that cell and scrolls nothing; the cells under the bands
    // are never hit.
    const int scrolled = bar->value();
    for (const auto& [column, at] :
         {std::pair(1, rectOf(7, 1).center()), std::pair(19, rectOf(7, 19).center()),
          std::pair(20, QPoint(width - 2, rectOf(7, 20).center().y()))}) {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QCOMPARE(std::pair(wide.currentRow(), wide.currentColumn()), std::pair(7, column));
        QCOMPARE(bar->value(), scrolled);
    }

    // Walking the row by the keys: every scrolled cell comes out beside the bands, whole.
    bar->setValue(0);
    click(5, 1);
    for (int column = 2; column <= 20; ++column) {
        key(Qt::Key_Right);
        QCOMPARE(wide.currentColumn(), column);
        const QRect r = rectOf(5, column);
        QVERIFY2(r.left() >= 0 && r.right() < width, qPrintable(QString::number(column)));
        if (column <= 18)
            QVERIFY2(r.left() >= 80 && r.right() < width - 160,
                     qPrintable(QString::number(column)));
    }
    for (int column = 19; column >= 2; --column)
        key(Qt::Key_Left);
    QCOMPARE(rectOf(5, 2).left(), 80);

    // An edit of the frozen column while scrolled opens over its pinned cell and is stored.
    bar->setValue(bar->maximum());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rectOf(9, 1).center());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, rectOf(9, 1).center());
    QVERIFY(editor());
    QCOMPARE(editor()->geometry(), rectOf(9, 1).adjusted(0, 0, -1, -1));
    QCOMPARE(bar->value(), bar->maximum());
    editor()->selectAll();
    QTest::keyClicks(editor(), Q("Zhang"));
    QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(wide.text(9, 1), U("Zhang"));

    // The pinned caption selects its own column, not the one scrolled under it.
    QSignalSpy header(m_view.get(), &GridView::columnHeaderClicked);
    QTest::mouseClick(m_view->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(40, 5));
    QCOMPARE(wide.selection(), std::optional<CellRange>(CellRange{1, 1, 40, 1}));
    QCOMPARE(header.size(), 1);
    QCOMPARE(header[0][0].toInt(), 1);
    m_view.reset(); // before the grid
}

QTEST_MAIN(GridViewTest)
#include "grid_view_test.moc"
