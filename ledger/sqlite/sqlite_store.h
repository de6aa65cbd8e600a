#pragma once
// The ledger's store in an SQLite file: one desk's payroll in "工资台账.db" of the data directory.
//
// The file is opened in write-ahead-log mode, with a shared flock on it for as long as it is
// open (a damaged file is set aside under an exclusive one, so never while another program has
// it). Its texts are UTF-8, its amounts integers of fen, and its tables are made and read from
// the descriptions of ledger/schema.h; a file of an earlier layout is upgraded when it is
// opened, one newer than this program is refused. Damage met after the open stops the
// connection (sqlite.h): the operation fails with the damaged-ledger message, and the file is
// set aside when the store is closed.

#include "ledger/ledger.h"
#include "ledger/store.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace iit::ledger {

constexpr const char* kLedgerFileName = "工资台账.db";
// The ledger of the data directory.
std::filesystem::path ledgerPath();
// The laws of the data directory: its annual withholding table and its bracket table's wage
// bands, read once.
Outcome<LedgerTables> loadLedgerTables();

class SqliteStore;

// Opens the ledger file, creating it (0600) when it is missing. A file newer than this program
// is refused; a damaged file (an empty one where a ledger was, tables without the format's
// version) is set aside under a new name (with its -wal and -shm files) when no other program
// holds it open, and the problem says so.
// Another program's change is waited for up to `busyWait`.
Outcome<std::unique_ptr<SqliteStore>>
openSqliteStore(const std::filesystem::path& path, Access access = Access::ReadWrite,
                std::chrono::milliseconds busyWait = std::chrono::seconds(10));

// Writes a whole, consistent copy of the ledger (what its log holds included) to `to`, private
// (0600), while other programs use the ledger; `to` is replaced whole or not at all.
Outcome<void> backupLedger(const std::filesystem::path& ledger, const std::filesystem::path& to);

// Puts the copy `from` in the ledger's place. The copy must be a ledger this program reads and
// sound (SQLite's integrity check, then `check` of the copy where it will stand, when given);
// the ledger must not be open in another program; the current ledger is set aside as a damaged
// one is. Gives where it went (none when there was no ledger).
Outcome<std::optional<std::filesystem::path>>
restoreLedger(const std::filesystem::path& ledger, const std::filesystem::path& from,
              const std::function<Outcome<void>(const std::filesystem::path&)>& check = {});

// Checks every year of the ledger file at `path` as Ledger::checkYear checks one, with the data
// directory's tables; fails naming the first figure that is not as it must be.
Outcome<void> checkLedgerFile(const std::filesystem::path& path);

// The book over the file (ledger.h).
Outcome<Ledger> openLedgerFile(const std::filesystem::path& path, LedgerTables tables,
                               Access access = Access::ReadWrite,
                               std::chrono::milliseconds busyWait = std::chrono::seconds(10));

class SqliteStore final : public LedgerStore {
public:
    ~SqliteStore() override;
    const std::filesystem::path& path() const;

    Outcome<std::unique_ptr<StoreTransaction>> begin() override;

    Outcome<std::vector<int>> years() override;
    Outcome<std::vector<StoredEmployee>> employees(int year) override;
    Outcome<std::optional<StoredEmployee>> findEmployee(int year, const PersonKey& key) override;
    Outcome<EmployeeId> addEmployee(int year, const Employee& employee) override;
    Outcome<void> updateEmployee(EmployeeId id, const Employee& employee) override;
    Outcome<void> removeEmployee(EmployeeId id) override;

    Outcome<std::vector<StoredEntry>> entries(EmployeeId id) override;
    Outcome<std::optional<StoredEntry>> entry(EmployeeId id, int month) override;
    Outcome<std::optional<StoredEntry>> entryBefore(EmployeeId id, int month) override;
    Outcome<std::vector<StoredEntry>> entriesFrom(EmployeeId id, int month) override;
    Outcome<void> putEntry(EmployeeId id, const StoredEntry& entry) override;
    Outcome<void> removeEntry(EmployeeId id, int month) override;

    Outcome<std::vector<StoredLine>> month(int year, int month) override;
    Outcome<bool> monthHasEntries(int year, int month) override;
    Outcome<std::vector<EmployeeEntry>> monthEntries(int month, EmployeeId first,
                                                     EmployeeId last) override;
    Outcome<std::vector<EmployeeId>> employeesWithEntriesFrom(int month, EmployeeId first,
                                                              EmployeeId last) override;
    Outcome<std::vector<EmployeeMonth>> separateBonuses(EmployeeId first, EmployeeId last) override;
    Outcome<std::vector<ItemsBefore>> itemsBefore(int month, EmployeeId first,
                                                  EmployeeId last) override;
    void readItemsAhead(int year, int month) override;
    Outcome<std::vector<EmployeeYear>> residentsWithBonus(int year) override;

    Outcome<std::optional<StoredOpening>> opening(EmployeeId id) override;
    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings(int year) override;
    Outcome<void> putOpening(EmployeeId id, const StoredOpening& opening) override;
    Outcome<void> removeOpening(EmployeeId id) override;

    Outcome<DeclaredDetails> detailsDeclaredBefore(int year, int month) override;
    Outcome<void> putDetailsDeclared(int year, int month, const DeclaredDetails& details) override;
    Outcome<std::vector<int>> declaredMonths(int year) override;
    Outcome<void> declare(int year, int month) override;
    Outcome<void> undeclare(int year, int month) override;
    Outcome<bool> changedElsewhere() override;
    void whileOthersChange(WaitFn stillWaiting) override;
    Outcome<std::vector<Text>> checkStorage(int limit) override;

    struct File;

private:
    friend Outcome<void> backupLedger(const std::filesystem::path&, const std::filesystem::path&);
    friend Outcome<std::unique_ptr<SqliteStore>> openSqliteStore(const std::filesystem::path&,
                                                                 Access, std::chrono::milliseconds);
    explicit SqliteStore(std::unique_ptr<File> file);
    std::unique_ptr<File> m_file;
    // The items read ahead, on a connection of their own; ended before the file is closed.
    struct Ahead;
    std::unique_ptr<Ahead> m_ahead;
};

} // namespace iit::ledger
