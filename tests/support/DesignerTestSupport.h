#pragma once

// Set-up shared by the designer test binaries: the one offscreen
// QApplication a binary runs under, an optional library folder shared by
// all its tests, the clearing away of windows a test left behind, and small
// helpers over SQLite databases and integrations.

#include <QString>
#include <QStringList>

#include "document/clsProcess.h"

// Registers, at load time, the environment that creates the binary's
// QApplication (offscreen unless a platform is set) when the tests run, not
// when they are listed. Name stands as the program name. With SharedHome the
// library folder, the settings file (and, with PrivateXdgConfig, the
// desktop settings folder) point into one temporary folder for the whole
// binary; see SharedHomeFolder. Returns the environment, for a static.
const void* RegisterDesignerEnvironment(const char* Name, bool SharedHome, bool PrivateXdgConfig = true);

// The temporary folder that stands for the engine library's folder when the
// environment was registered with SharedHome.
QString SharedHomeFolder();

// Runs the deferred deletions, then deletes every top-level window (guarded:
// deleting a window deletes the windows it owns).
void DeleteTopLevelWindows();

// Opens the database of a connection string (creating the file when
// missing) and runs the statements, in one transaction when asked; fails
// the current test on the first error.
void ExecStatements(const QString& ConnectionString, const QStringList& Statements, bool InTransaction);

// COUNT(*) of a table, read through a connection of its own (so it sees only
// committed rows); -1 when the database or the table cannot be read.
int CountRows(const QString& ConnectionString, const QString& Table);

// The nodes of START -> SRC -> TGT -> END.
struct cCopyFlow {
    cShapeRef Start;
    cShapeRef Src;
    cShapeRef Tgt;
    cShapeRef Stop;
};

// Builds START -> SRC (table src of SourceConn, connection "source") -> TGT
// (Insert into table tgt of TargetConn, connection "target", mapping id and
// name from SRC; name of NameSize characters) -> END in Process.
cCopyFlow BuildCopyFlow(clsProcess& Process, const QString& SourceConn, const QString& TargetConn, int NameSize);
