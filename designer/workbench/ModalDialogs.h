#pragma once

// How the step dialogs and the formula editor are shown modally. A test
// replaces the runner to fill a dialog and press its buttons without a
// nested event loop; the designer itself always uses exec().

#include <functional>

class QDialog;

using ModalRunner = std::function<void(QDialog& Dialog)>;

// Shows Dialog modally and returns when it has been closed, or hands it to
// the runner a test has set.
void RunModalDialog(QDialog& Dialog);

// Replaces the runner; an empty function restores exec(). Returns the
// previous runner.
ModalRunner SetModalRunner(ModalRunner Runner);

// Sets a runner for the lifetime of the guard and restores the previous one.
class cModalRunnerGuard {
public:
    explicit cModalRunnerGuard(ModalRunner Runner) : m_previous(SetModalRunner(std::move(Runner))) {}
    ~cModalRunnerGuard() { SetModalRunner(std::move(m_previous)); }
    cModalRunnerGuard(const cModalRunnerGuard&) = delete;
    cModalRunnerGuard& operator=(const cModalRunnerGuard&) = delete;

private:
    ModalRunner m_previous;
};
