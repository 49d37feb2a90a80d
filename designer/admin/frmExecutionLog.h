#pragma once

// "Execution Log": the execution history, one line per finished run.

#include "admin/cHistoryScreen.h"

class frmExecutionLog : public cHistoryScreen {
    Q_OBJECT
public:
    explicit frmExecutionLog(QWidget* Parent = nullptr);

    // The screen's single window, created on first use.
    static frmExecutionLog* Instance();
};

// "Execution Errors": the error history, one line per recorded error.
class frmExecErrorLog : public cHistoryScreen {
    Q_OBJECT
public:
    explicit frmExecErrorLog(QWidget* Parent = nullptr);

    static frmExecErrorLog* Instance();
};
