#pragma once

// The three run-data stores (schedule, executions, errors), each a persisted
// recordset file in the run-data folder.
//
// Reading: getRS hands out a fresh, disconnected copy of a store.
// Changing: several programs (designer, runners, the scheduler service)
// change the same files at once, so every change goes through the locked
// members below (appendRow, updateRows, deleteRows, modify, Clear). Each one
// takes an exclusive lock on "<store>.lock", re-reads the file, applies the
// change to that fresh copy and writes the file atomically (temporary file,
// then rename), so no process overwrites rows another one added meanwhile.
// appendRow is the exception: it writes the new row in place of the closing
// tags, under the same lock, so its cost does not grow with the store (a run
// whose every record fails adds one error row each). A process keeps the
// store and its lock file open between its appends, and opens the store
// afresh when someone else changed it meanwhile; every row is in the file
// when appendRow returns. A reader that meets a file cut within its last row (the
// writer was killed) reads the rows before it; the next append rewrites such
// a file whole.
//
//   cMeridoxData data;                                   // folder from the settings
//   data.appendRow(executionlogdata, {{"RECORD", 7}, {"NAME", file}, {"RUNTIME", now},
//                                     {"ERRNUMBER", 13}, {"ERRDESC", text}}, StoreId::Next);
//   data.updateRowById(scheduleddata, jobId, {{"LASTRUN", due}});   // one job, others kept
//   ado::Recordset jobs = data.getRS(scheduleddata);     // read-only use

#include "data/Recordset.h"
#include "stores/JobId.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>


enum kindrecordset {
    scheduleddata = 0,
    executiondata = 1,
    executionlogdata = 2,
};

// How appendRow sets the new row's ID.
enum class StoreId {
    AsGiven, // the ID in Values (or none when Values has no ID)
    Next,    // the highest ID in the store + 1, chosen under the lock; for
             // the schedule, NextJobId's rule
};


// Outcome of a locked change. On failure nothing was written.
struct StoreResult {
    bool ok = false;
    int rows = 0;  // rows added, changed or deleted
    QVariant id;   // appendRow: the new row's ID (Null when it has none)
    QString error; // why it failed; empty on success
    explicit operator bool() const { return ok; }
};

class cMeridoxData {
public:
    // One row of a store as read: field name (upper case, as in the store)
    // -> value. Null fields are null QVariants; fixed text comes padded.
    using Row = QVariantMap;
    using RowMatch = std::function<bool(const Row&)>;
    // Message box shown by getRSFromFile: (text, style, title).
    using MessageBox = std::function<void(const QString&, int, const QString&)>;

    // The folder is fixed here, from the settings file (RunDataFolder()).
    cMeridoxData();
    // A store set in a given folder (tests, tools).
    explicit cMeridoxData(const QString& Folder);
    ~cMeridoxData();
    cMeridoxData(const cMeridoxData&) = default;
    cMeridoxData& operator=(const cMeridoxData&) = default;

    const QString& Folder() const { return m_folder; }
    // Full path of a kind's file; empty for other kinds.
    QString StoreFile(kindrecordset krs) const;

    // Any persisted recordset file (schedule import), open and disconnected.
    // When it cannot be read: the message "Error Opening File" (translated),
    // style 16, title "Error" (translated) goes to the message box set with
    // SetMessageBox (none: only LastError), and a recordset that is not open
    // is returned.
    ado::Recordset getRSFromFile(const QString& Filename);

    // A store's rows, open and disconnected, owned by the caller. A missing
    // file is created empty with the store's fields. A file that cannot be
    // parsed is moved aside as "<file>.corrupt-<yyyyMMdd-hhmmss>", reported in
    // LastError() (and the warning log), and a new empty store is created.
    // Kinds other than 0, 1, 2 give a recordset that is not open.
    // Change rows through the locked members, not by saving this copy.
    ado::Recordset getRS(kindrecordset krs);

    // Deletes a store's file (under its lock). A missing file is success; the
    // store comes back empty at the next getRS. Other kinds do nothing.
    bool Clear(kindrecordset krs);

    // Adds one row. Fields not in Values stay Null. Field names are matched
    // without regard to letter case; an unknown field fails the whole call.
    // Fixed text longer than its field is cut to fit when it is free text (a
    // result or an error description); a longer key value (a job's NAME or
    // STATUS) fails the call, since a cut one would name something else.
    StoreResult appendRow(kindrecordset krs, const Row& Values, StoreId Id = StoreId::AsGiven);
    // Adds rows as appendRow would one by one (with StoreId::Next, IDs
    // consecutive from the highest), under one lock and in one write when
    // the store takes them in place: either all of them are added, or none,
    // and a row that cannot be made fails them all. A store that has to be
    // created or repaired first is so by appendRow with the first row, and
    // takes the others in place. result.rows counts the rows added,
    // result.id is the last one's ID.
    StoreResult appendRows(kindrecordset krs, const std::vector<Row>& Rows, StoreId Id = StoreId::AsGiven);

    // Sets Changes on every row for which Match is true.
    StoreResult updateRows(kindrecordset krs, const RowMatch& Match, const Row& Changes);
    // Sets Changes on the rows whose ID equals ID (numerically).
    StoreResult updateRowById(kindrecordset krs, qlonglong ID, const Row& Changes);

    // Deletes every row for which Match is true.
    StoreResult deleteRows(kindrecordset krs, const RowMatch& Match);
    StoreResult deleteRowById(kindrecordset krs, qlonglong ID);

    // The general form: Change gets the freshly read store (open, positioned
    // on its first row) under the lock and edits it with the Recordset's own
    // members (AddNew, field values, Update, Delete). Returning true writes
    // the store, false leaves the file untouched. result.rows is left 0.
    StoreResult modify(kindrecordset krs, const std::function<bool(ado::Recordset&)>& Change);

    // Replaces the store's rows with the rows of Source (same fields by
    // name), under the lock. Only for callers that own the whole store.
    StoreResult replaceAll(kindrecordset krs, const ado::Recordset& Source);

    // Text of the last failure or repair (corrupt store moved aside); empty
    // after an operation that went cleanly.
    const QString& LastError() const { return m_lastError; }

    void SetMessageBox(MessageBox Box) { m_messageBox = std::move(Box); }

    // Where notices of repairs go (a damaged store set aside), process-wide.
    // Without a handler they go to stderr; the unattended programs send them
    // to the system log as well.
    using NoticeHandler = std::function<void(const QString&)>;
    static void SetNoticeHandler(NoticeHandler Handler);
    static void Notice(const QString& Text);

private:
    QString m_folder;
    QString m_lastError;
    MessageBox m_messageBox;
};
