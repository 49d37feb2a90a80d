#include "data/CommitGroup.h"

#include "data/StatePrivate.h"

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

void enterStatement(ConnectionState& c, bool writes, bool grouped)
{
    if (c.group)
        c.group->before(c, writes, grouped);
}

namespace {

// Runs a transaction-control statement; SQLite through its own handle.
bool control(ConnectionState& c, const char* sql, DataError* error)
{
    if (c.sqlite) {
        char* message = nullptr;
        if (sqlite3_exec(c.sqlite, sql, nullptr, nullptr, &message) == SQLITE_OK)
            return true;
        if (error)
            *error = makeError(adErrProviderFailure, QString::fromUtf8(message ? message : sqlite3_errmsg(c.sqlite)),
                               QStringLiteral("QSQLITE"));
        sqlite3_free(message);
        return false;
    }
    if (!c.control)
        c.control = std::make_unique<QSqlQuery>(c.db());
    const bool ok = c.control->exec(QString::fromLatin1(sql));
    if (!ok && error)
        *error = sqlError(c.control->lastError(), QString(), c.db().driverName());
    c.control->finish();
    return ok;
}

} // namespace

void GroupState::before(ConnectionState& c, bool writes, bool grouped)
{
    // Whatever this statement reads, it sees every row written before it.
    for (size_t i = 0; i < open.size();) {
        if (open[i] != &c)
            commitOne(*open[i]);   // removes it from open
        else
            ++i;
    }
    if (writes && !grouped) {
        // Its failure would undo the whole group: it commits on its own.
        if (c.groupOpen)
            commitOne(c);
        return;
    }
    if (!writes || c.groupOpen || c.transLevel > 0 || !c.open)
        return;
    // Only where a failed statement is known to undo itself alone.
    if (c.kind != ProviderKind::SQLite && c.kind != ProviderKind::PostgreSQL)
        return;
    // SQLite: take the write lock now (waiting out the busy timeout), so a
    // concurrent writer cannot make a later statement fail mid-group.
    DataError ignored;
    if (!control(c, c.kind == ProviderKind::SQLite ? "BEGIN IMMEDIATE" : "BEGIN", &ignored))
        return;   // the statement commits on its own, as without a group
    c.groupOpen = true;
    if (open.empty() && !sinceFirstBegin.isValid())
        sinceFirstBegin.start();
    open.push_back(&c);
}

bool GroupState::commitOne(ConnectionState& c)
{
    std::erase(open, &c);
    if (!c.groupOpen)
        return true;
    c.groupOpen = false;
    // Finished statements hold no locks that a commit would wait for.
    for (auto& s : c.statements)
        s->finish();
    DataError error;
    bool ok = c.open && control(c, "COMMIT", &error);
    if (!ok && c.open) {
        DataError ignored;
        control(c, "ROLLBACK", &ignored);
    }
    if (!ok && onFailure) {
        error.Description = QStringLiteral("The work of records %1 to %2 could not be committed: %3")
                                .arg(committed)
                                .arg(records)
                                .arg(error.Description);
        onFailure(error);
    }
    if (open.empty()) {
        pending = 0;
        sinceFirstBegin.invalidate();
        // Lost work is not pending any more either.
        committed = records;
        if (ok)
            kept = records;
    }
    return ok;
}

bool GroupState::commitAll()
{
    bool ok = true;
    while (!open.empty())
        ok = commitOne(*open.front()) && ok;
    pending = 0;
    sinceFirstBegin.invalidate();
    return ok;
}

void GroupState::lostBy(ConnectionState& c)
{
    std::erase(open, &c);
    c.groupOpen = false;
    if (onFailure)
        onFailure(makeError(adErrProviderFailure,
                            QStringLiteral("The database rolled back the open transaction after a failed statement: "
                                           "the work of records %1 to %2 on this connection is lost.")
                                .arg(committed)
                                .arg(records)));
    if (open.empty()) {
        pending = 0;
        sinceFirstBegin.invalidate();
        committed = records;
    }
}

} // namespace detail

CommitGroup::CommitGroup(int maxRecords, int maxMilliseconds) : d_(std::make_shared<detail::GroupState>())
{
    d_->maxRecords = std::max(1, maxRecords);
    d_->maxMilliseconds = std::max(0, maxMilliseconds);
}

CommitGroup::~CommitGroup()
{
    d_->commitAll();
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

void CommitGroup::recordDone()
{
    auto& g = *d_;
    ++g.records;
    if (g.open.empty()) {
        g.committed = g.kept = g.records;
        return;
    }
    ++g.pending;
    if (g.pending >= g.maxRecords || g.sinceFirstBegin.elapsed() >= g.maxMilliseconds)
        g.commitAll();
}

bool CommitGroup::commit() { return d_->commitAll(); }

long CommitGroup::committedRecords() const { return d_->kept; }

} // namespace ado
