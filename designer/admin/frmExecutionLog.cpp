#include "admin/frmExecutionLog.h"

#include <QPointer>

#include "app/ScreenRegistry.h"

frmExecutionLog::frmExecutionLog(QWidget* Parent)
    : cHistoryScreen(QStringLiteral("frmExecutionLog"), QStringLiteral("Execution Log"), executiondata,
                     {
                         {{QStringLiteral("NAME"), QStringLiteral("Integration Name"), 300}, QStringLiteral("NAME")},
                         {{QStringLiteral("START"), QStringLiteral("Runtime")}, QStringLiteral("RUNTIME")},
                         {{QStringLiteral("END"), QStringLiteral("End")}, QStringLiteral("END")},
                         {{QStringLiteral("ROWS"), QStringLiteral("Rows")}, QStringLiteral("ROWS")},
                         {{QStringLiteral("INSERT"), QStringLiteral("Inserts")}, QStringLiteral("RINSERTS")},
                         {{QStringLiteral("UPDATE"), QStringLiteral("Updates")}, QStringLiteral("RUPDATES")},
                         {{QStringLiteral("DELETE"), QStringLiteral("Deleted")}, QStringLiteral("RDELETED")},
                         {{QStringLiteral("ERRORS"), QStringLiteral("Errors")}, QStringLiteral("RERRORS")},
                         {{QStringLiteral("RESULT"), QStringLiteral("Result")}, QStringLiteral("RESULT")},
                     },
                     Parent)
{
}

frmExecutionLog* frmExecutionLog::Instance()
{
    static QPointer<frmExecutionLog> instance;
    if (!instance)
        instance = new frmExecutionLog;
    return instance;
}

frmExecErrorLog::frmExecErrorLog(QWidget* Parent)
    : cHistoryScreen(QStringLiteral("frmExecErrorLog"), QStringLiteral("Execution Errors"), executionlogdata,
                     {
                         {{QStringLiteral("ID"), QStringLiteral("ID"), 30}, QStringLiteral("ID")},
                         {{QStringLiteral("RECORD"), QStringLiteral("Record"), 55}, QStringLiteral("RECORD")},
                         {{QStringLiteral("NAME"), QStringLiteral("Integration Name"), 200}, QStringLiteral("NAME")},
                         {{QStringLiteral("RUNTIME"), QStringLiteral("Time"), 120}, QStringLiteral("RUNTIME")},
                         {{QStringLiteral("ERRNUMBER"), QStringLiteral("Err Num"), 75}, QStringLiteral("ERRNUMBER")},
                         {{QStringLiteral("ERRDESC"), QStringLiteral("Description"), 360}, QStringLiteral("ERRDESC")},
                     },
                     Parent)
{
}

frmExecErrorLog* frmExecErrorLog::Instance()
{
    static QPointer<frmExecErrorLog> instance;
    if (!instance)
        instance = new frmExecErrorLog;
    return instance;
}

namespace {
const bool registered = [] {
    ScreenRegistry::Register(QStringLiteral("frmExecutionLog"), QStringLiteral("ActionEdit"),
                             [] { frmExecutionLog::Instance()->ActionEdit(); });
    ScreenRegistry::Register(QStringLiteral("frmExecErrorLog"), QStringLiteral("ActionEdit"),
                             [] { frmExecErrorLog::Instance()->ActionEdit(); });
    return true;
}();
}  // namespace
