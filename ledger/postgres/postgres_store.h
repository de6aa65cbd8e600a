#pragma once
// The ledger's store on a PostgreSQL server: one payroll kept by several desks.
//
// The connection string (a libpq URI, "postgresql://…") names the server, the database and,
// with options=-csearch_path=NAME, the schema: one database or one schema per employer, as one
// data directory per employer on a desk. The tables are made from the descriptions of
// ledger/schema.h, as the file's are, with amounts as integers of fen; their layout's version
// is kept in the database, an earlier one upgraded when the ledger is opened, a newer one
// refused. A transaction of the book is a serializable transaction of the server (nested ones
// are savepoints). Each change is announced to the other desks (NOTIFY), so that
// changedElsewhere() tells a window to read again.
#include "ledger/ledger.h"
#include "ledger/store.h"

#include <memory>
#include <string>
#include <string_view>

namespace iit::ledger {

// True when `where` names a server ledger (a postgresql:// or postgres:// URI).
bool isServerLedger(std::string_view where);

// Connects and makes or upgrades the tables (not with Access::Read: a ledger that is not there
// yet is then an error).
Outcome<std::unique_ptr<LedgerStore>> openPostgresStore(const std::string& conninfo,
                                                        Access access = Access::ReadWrite);

// The book over the server's store.
Outcome<Ledger> openLedgerServer(const std::string& conninfo, LedgerTables tables,
                                 Access access = Access::ReadWrite);

} // namespace iit::ledger
