#pragma once

// The writes of a run committed in groups of records instead of one commit
// (and its flushes to disk) per statement, with the outcome of a commit per
// record: what a group keeps, counts and reports is what the same records
// would give committed one by one.
//
//   ado::CommitGroup group;                 // every 1,000 records or 200 ms
//   group.join(source); group.join(target); // every connection of the run
//   group.setFailureHandler([](const ado::DataError& e) { report(e); });
//   while (...) {
//       /* statements on the joined connections */
//       switch (group.recordDone()) {
//       case Pending: break;                // the record's work waits in the group
//       case Committed: break;              // every record so far is settled
//       case Undone: /* run the group's records again, perRecord() set */ break;
//       }
//   }
//   group.commit();                         // end, cancel, critical stop
//
// The first statement that writes on a joined connection opens a transaction
// there (SQLite: BEGIN IMMEDIATE, so a concurrent writer waits for the
// group's short lock instead of failing; PostgreSQL: deferred constraints
// made immediate, so they fail the statement that breaks them as a commit
// per statement would). It stays open across records until the group is due.
// SQLite reads of a group share one read transaction per connection (not one
// lock per statement) until another process is seen at the file's lock; a
// commit first ends this run's read transactions, which would hold it up.
// Visibility inside the run is that of a commit per statement: before a
// statement on one connection, the open transactions of the other members
// that reach the same database are committed. A failing statement undoes
// only itself (PostgreSQL runs each statement of a group under a savepoint).
//
// When a group's transaction is undone by anything other than the one
// failing statement (a commit that fails, a deadlock, a ROLLBACK from a
// trigger, a lost session), the whole group is rolled back and recordDone()
// or commit() answers Undone: the caller runs those records again with one
// commit each, and only that outcome counts. In that mode (perRecord()) an
// Undone outcome means the record's own work is lost.
//
// A connection never waits for a lock while the group holds a transaction on
// another one: it commits those first, so runs that write several databases
// in different orders cannot deadlock each other.
//
// ODBC connections, whose savepoint support is unknown, and connections
// inside a transaction of their own (BeginTrans, a test run) are left alone:
// their statements commit as before. The destructor commits and detaches
// every connection. Nothing throws.

#include "data/Connection.h"
#include "data/DataError.h"

#include <functional>
#include <memory>

namespace ado {

namespace detail { struct GroupState; }

class CommitGroup {
public:
    using FailureHandler = std::function<void(const DataError&)>;
    enum Outcome { Pending, Committed, Undone };

    explicit CommitGroup(int maxRecords = 1000, int maxMilliseconds = 200);
    ~CommitGroup();
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Joining a connection twice, or one that is still closed, is fine.
    void join(const Connection& connection);
    // Work lost where no rerun can restore it (see recordDone).
    void setFailureHandler(FailureHandler handler);

    // One record of the run is done: commits when the group is due.
    Outcome recordDone();
    // Commits every open transaction of the group now.
    Outcome commit();
    // One commit per record (every recordDone commits).
    void setPerRecord(bool perRecord);
    bool perRecord() const;
    // Why the last Undone outcome came about; whether that was a deadlock
    // or a serialization failure.
    DataError undoneBy() const;
    bool undoneByConflict() const;
    // With one commit per record, a deadlock or serialization failure
    // undoes the record's work as well (Undone), so that the caller can try
    // the record again; otherwise only the failing statement fails.
    void setRetryConflicts(bool retry);
    // Records whose work is committed (counted by recordDone).
    long committedRecords() const;

private:
    std::shared_ptr<detail::GroupState> d_;
};

} // namespace ado
