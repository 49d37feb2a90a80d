#include "data/CommitGroup.h"

#include "data/StatePrivate.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <sqlite3.h>

namespace ado {

namespace detail {

bool isReadOnlySql(const QString& sql)
{
    static const QRegularExpression readOnly(QStringLiteral(R"re(^\s*(SELECT|WITH|PRAGMA|VALUES|EXPLAIN)\b)re"),
                                             QRegularExpression::CaseInsensitiveOption);
    return readOnly.match(sql).hasMatch();
}

void enterStatement(ConnectionState& c, bool writes)
{
    if (c.group)
        c.group->before(c, writes);
}

namespace {

// What a SQLite connection waits for a lock (as the connection is opened).
constexpr int kSqliteBusyMs = 10000;
// How often a busy BEGIN or COMMIT is tried again before the group gives up:
// a writer that waits behind several others may need more than one wait.
constexpr int kBusyAttempts = 6;

DataError sqliteError(sqlite3* h, char* message)
{
    DataError e = makeError(adErrProviderFailure, QString::fromUtf8(message ? message : sqlite3_errmsg(h)),
                            QStringLiteral("QSQLITE"));
    sqlite3_free(message);
    return e;
}

// Runs a transaction-control statement; SQLite through its own handle.
// Returns SQLite's result code (0 for success on other providers, 1 else).
int control(ConnectionState& c, const char* sql, DataError* error)
{
    if (c.sqlite) {
        char* message = nullptr;
        const int rc = sqlite3_exec(c.sqlite, sql, nullptr, nullptr, &message);
        if (rc == SQLITE_OK)
            return rc;
        if (error)
            *error = sqliteError(c.sqlite, message);
        else
            sqlite3_free(message);
        return rc;
    }
    if (!c.control)
        c.control = std::make_unique<QSqlQuery>(c.db());
    const bool ok = c.control->exec(QString::fromLatin1(sql));
    if (!ok && error)
        *error = sqlError(c.control->lastError(), QString(), c.db().driverName());
    c.control->finish();
    return ok ? 0 : 1;
}

bool isBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY; }

// The database a connection reaches: two connections with the same key see
// each other's committed work only.
const QString& databaseOf(ConnectionState& c)
{
    if (c.databaseKeyOpen == c.generation + 1)
        return c.databaseKey;
    c.databaseKeyOpen = c.generation + 1;
    const QString self = QStringLiteral("connection:%1").arg(quintptr(&c));
    if (c.sqlite) {
        const char* file = sqlite3_db_filename(c.sqlite, "main");
        const QString path = file ? QString::fromUtf8(file) : QString();
        const QString canonical = path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
        c.databaseKey = path.isEmpty() ? self : QStringLiteral("sqlite:") + (canonical.isEmpty() ? path : canonical);
    } else if (c.kind == ProviderKind::PostgreSQL) {
        const QSqlDatabase db = c.db();
        c.databaseKey = QStringLiteral("postgresql:%1:%2/%3").arg(db.hostName().toLower()).arg(db.port()).arg(db.databaseName());
    } else {
        c.databaseKey = self;
    }
    return c.databaseKey;
}

} // namespace

void GroupState::before(ConnectionState& c, bool writes)
{
    for (size_t i = 0; i < open.size();) {
        ConnectionState& o = *open[i];
        if (&o == &c || (o.groupReads && !writes)) {
            ++i;
            continue;
        }
        // Whatever this statement reads, it sees every row written before it
        // in its own database; a write never waits behind this run's own
        // reader of its file. A PostgreSQL write may wait for a row lock of
        // another run, which waits for a server this run holds locks on: no
        // server could see that deadlock, so nothing is held while it waits.
        const bool sameDatabase = databaseOf(o) == databaseOf(c);
        if (!sameDatabase
            && !(writes && o.kind == ProviderKind::PostgreSQL && c.kind == ProviderKind::PostgreSQL)) {
            ++i;
            continue;
        }
        // Each record commits here anyway: the group gains nothing.
        if (!o.groupReads)
            stayPerRecord = perRecord = true;
        commitOne(o);   // removes it, and may remove others: look again
        i = 0;
    }
    if (c.groupOpen && c.groupReads && writes)
        commitOne(c);   // a reader cannot become a writer while another one waits: take the write lock anew
    if (c.groupOpen || c.transLevel > 0 || !c.open)
        return;
    // Only where a failed statement is known to undo itself alone.
    if (c.kind != ProviderKind::SQLite && c.kind != ProviderKind::PostgreSQL)
        return;
    if (!writes) {
        // SQLite: reads of the group share one read transaction, instead of
        // taking and dropping the file's lock for every statement.
        if (!c.sqlite || !sharedReads)
            return;
        sqlite3_busy_timeout(c.sqlite, 0);
        int rc = control(c, "BEGIN", nullptr);
        if (rc == SQLITE_OK && (rc = control(c, "SELECT 1 FROM sqlite_master LIMIT 1", nullptr)) != SQLITE_OK)
            control(c, "ROLLBACK", nullptr);
        sqlite3_busy_timeout(c.sqlite, kSqliteBusyMs);
        if (rc == SQLITE_OK) {
            c.groupReads = true;
            opened(c);
        } else {
            sharedReads = false;   // a writer is at work: read as without a group
        }
        return;
    }
    if (c.kind == ProviderKind::PostgreSQL) {
        if (control(c, "BEGIN", nullptr) != 0)
            return;   // the statement commits on its own, as without a group
        // Deferred checks fail the statement that breaks them, as they would
        // with a commit per statement, instead of the group's commit.
        control(c, "SET CONSTRAINTS ALL IMMEDIATE", nullptr);
    } else if (!c.sqlite || !beginSqlite(c, "BEGIN IMMEDIATE", nullptr)) {
        return;   // the statement commits on its own, as without a group
    }
    c.groupReads = false;
    opened(c);
}

void GroupState::opened(ConnectionState& c)
{
    c.groupOpen = true;
    if (open.empty() && !sinceFirstBegin.isValid())
        sinceFirstBegin.start();
    open.push_back(&c);
}

bool GroupState::beginSqlite(ConnectionState& c, const char* begin, const char* lock)
{
    // Take the lock now (the write lock, or a reader's), so that no later
    // statement of the group waits for it. Never wait for it while holding
    // another database's lock: commit those first.
    const auto take = [&] {
        int rc = control(c, begin, nullptr);
        if (rc == SQLITE_OK && lock) {
            rc = control(c, lock, nullptr);
            if (rc != SQLITE_OK)
                control(c, "ROLLBACK", nullptr);
        }
        return rc;
    };
    int rc = SQLITE_BUSY;
    if (!open.empty()) {
        sqlite3_busy_timeout(c.sqlite, 0);
        rc = take();
        sqlite3_busy_timeout(c.sqlite, kSqliteBusyMs);
        if (isBusy(rc))
            while (!open.empty())
                commitOne(*open.front());
    }
    for (int attempt = 0; isBusy(rc) && attempt < kBusyAttempts; ++attempt)
        rc = take();
    return rc == SQLITE_OK;
}

bool GroupState::commitOne(ConnectionState& c, bool midGroup)
{
    std::erase(open, &c);
    if (!c.groupOpen)
        return true;
    c.groupOpen = false;
    if (c.groupReads) {
        // Nothing to keep; the file's readers let writers in again.
        c.groupReads = false;
        if (c.open && (!c.sqlite || !sqlite3_get_autocommit(c.sqlite)) && control(c, "COMMIT", nullptr) != 0)
            control(c, "ROLLBACK", nullptr);
        return true;
    }
    // A commit waits for the file's readers: this run's go first.
    for (size_t i = 0; i < open.size();) {
        if (open[i]->groupReads)
            commitOne(*open[i]);
        else
            ++i;
    }
    // Finished statements hold no locks that a commit would wait for.
    for (auto& s : c.statements)
        s->finish();
    DataError error;
    bool ok = false;
    if (c.open) {
        int rc = SQLITE_BUSY;
        if (c.sqlite && sharedReads) {
            // Readers of the file in other processes: from now on this run's
            // readers do not hold the lock for a whole group either.
            sqlite3_busy_timeout(c.sqlite, 0);
            rc = control(c, "COMMIT", &error);
            sqlite3_busy_timeout(c.sqlite, kSqliteBusyMs);
            if (isBusy(rc))
                sharedReads = false;
        }
        if (!c.sqlite || isBusy(rc))
            rc = control(c, "COMMIT", &error);
        // SQLite keeps the transaction when its commit meets a reader: wait
        // again, as a writer would, instead of losing the work.
        for (int attempt = 0; c.sqlite && isBusy(rc) && !sqlite3_get_autocommit(c.sqlite) && attempt < kBusyAttempts;
             ++attempt)
            rc = control(c, "COMMIT", &error);
        ok = rc == 0;
    } else {
        error = makeError(adErrObjectClosed, QStringLiteral("The connection was closed."));
    }
    if (ok) {
        // Part of the group's work is kept on its own: running its records
        // again would write it twice.
        if (midGroup)
            replayable = false;
        return true;
    }
    if (c.open && (!c.sqlite || !sqlite3_get_autocommit(c.sqlite)))
        control(c, "ROLLBACK", nullptr);
    undo(error);
    return false;
}

void GroupState::rollbackAll()
{
    while (!open.empty()) {
        ConnectionState& c = *open.front();
        open.erase(open.begin());
        if (!c.groupOpen)
            continue;
        c.groupOpen = false;
        c.groupReads = false;
        for (auto& s : c.statements)
            s->finish();
        if (c.open && (!c.sqlite || !sqlite3_get_autocommit(c.sqlite)))
            control(c, "ROLLBACK", nullptr);
    }
}

void GroupState::undo(const DataError& why)
{
    if (!undone) {
        undone = true;
        undoneBy = why;
        undoneByConflict = false;
    }
    rollbackAll();
}

void GroupState::conflict(const DataError& why)
{
    const bool first = !undone;
    undo(why);
    if (first)
        undoneByConflict = true;
}

void GroupState::lostBy(ConnectionState& c)
{
    std::erase(open, &c);
    c.groupOpen = false;
    if (c.groupReads) {
        c.groupReads = false;   // only reads: nothing is lost
        return;
    }
    undo(makeError(adErrProviderFailure,
                   QStringLiteral("The database rolled back the open transaction after a failed statement.")));
}

int GroupState::settle()
{
    bool anyCommitted = false;
    while (!undone && !open.empty()) {
        ConnectionState& c = *open.front();
        const bool wrote = !c.groupReads;
        anyCommitted = (commitOne(c, false) && wrote) || anyCommitted;
    }
    pending = 0;
    sinceFirstBegin.invalidate();
    if (!undone) {
        committed = kept = records;
        replayable = true;
        return CommitGroup::Committed;
    }
    undone = false;
    rollbackAll();
    if (anyCommitted)
        replayable = false;
    if (perRecord) {
        // The record's own work is lost: the caller counts it so.
        committed = records;
        replayable = true;
        return CommitGroup::Undone;
    }
    if (!replayable) {
        // Part of it is kept: the rest is reported lost.
        if (onFailure) {
            DataError e = undoneBy;
            e.Description = QStringLiteral("The work of records %1 to %2 could not be committed: %3")
                                .arg(committed + 1)
                                .arg(records)
                                .arg(undoneBy.Description);
            onFailure(e);
        }
        committed = records;
        replayable = true;
        return CommitGroup::Committed;
    }
    // Those records run again.
    records = committed;
    return CommitGroup::Undone;
}

} // namespace detail

CommitGroup::CommitGroup(int maxRecords, int maxMilliseconds) : d_(std::make_shared<detail::GroupState>())
{
    d_->maxRecords = std::max(1, maxRecords);
    d_->maxMilliseconds = std::max(0, maxMilliseconds);
    d_->perRecord = d_->maxRecords == 1;
}

CommitGroup::~CommitGroup()
{
    d_->settle();
    for (const auto& w : d_->members)
        if (auto c = w.lock(); c && c->group == d_)
            c->group.reset();
}

void CommitGroup::join(const Connection& connection)
{
    const auto& c = connection.d_;
    if (!c || c->group == d_)
        return;
    // A connection belongs to one group: another run's group lets it go.
    if (c->group && c->groupOpen)
        c->group->commitOne(*c);
    c->group = d_;
    d_->members.push_back(c);
}

void CommitGroup::setFailureHandler(FailureHandler handler) { d_->onFailure = std::move(handler); }

CommitGroup::Outcome CommitGroup::recordDone()
{
    auto& g = *d_;
    ++g.records;
    if (g.undone || g.open.empty())
        return Outcome(g.settle());
    ++g.pending;
    if (g.perRecord || g.pending >= g.maxRecords || g.sinceFirstBegin.elapsed() >= g.maxMilliseconds)
        return Outcome(g.settle());
    return Pending;
}

CommitGroup::Outcome CommitGroup::commit() { return Outcome(d_->settle()); }

void CommitGroup::setPerRecord(bool perRecord)
{
    d_->perRecord = perRecord || d_->stayPerRecord || d_->maxRecords == 1;
}

bool CommitGroup::perRecord() const { return d_->perRecord; }

DataError CommitGroup::undoneBy() const { return d_->undoneBy; }

bool CommitGroup::undoneByConflict() const { return d_->undoneByConflict; }

void CommitGroup::setRetryConflicts(bool retry) { d_->retryConflicts = retry; }

long CommitGroup::committedRecords() const { return d_->kept; }

} // namespace ado
