#pragma once

// The writes of a run committed in groups of records instead of one commit
// (and its flushes to disk) per statement.
//
//   ado::CommitGroup group;                 // every 1,000 records or 200 ms
//   group.join(source); group.join(target); // every connection of the run
//   group.setFailureHandler([](const ado::DataError& e) { report(e); });
//   while (...) { /* statements on the joined connections */ group.recordDone(); }
//   group.commit();                         // end, cancel, critical stop
//
// The first statement that writes on a joined connection opens a transaction
// there (SQLite: BEGIN IMMEDIATE, so a concurrent writer waits for the
// group's short lock instead of failing); it stays open across records until
// the group is due. Visibility inside the run is that of a commit per
// statement: before any statement runs on one joined connection, the open
// transaction of every other joined connection is committed, so a read
// through another connection sees every row written before it. A failing
// statement undoes only itself (PostgreSQL runs each statement of a group
// under a savepoint). ODBC connections, whose savepoint support is unknown,
// and connections inside a transaction of their own (BeginTrans, a test run)
// are left alone: their statements commit as before.
//
// The destructor commits and detaches every connection. Nothing throws; a
// commit that fails is rolled back and reported to the failure handler.

#include "data/Connection.h"
#include "data/DataError.h"

#include <functional>
#include <memory>

namespace ado {

namespace detail { struct GroupState; }

class CommitGroup {
public:
    using FailureHandler = std::function<void(const DataError&)>;

    explicit CommitGroup(int maxRecords = 1000, int maxMilliseconds = 200);
    ~CommitGroup();
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Joining a connection twice, or one that is still closed, is fine.
    void join(const Connection& connection);
    void setFailureHandler(FailureHandler handler);

    // One record of the run is done: commits when the group is due.
    void recordDone();
    // Commits every open transaction of the group now. False when one failed
    // (its work is lost and was reported).
    bool commit();
    // Records whose work is committed (counted by recordDone).
    long committedRecords() const;

private:
    std::shared_ptr<detail::GroupState> d_;
};

} // namespace ado
