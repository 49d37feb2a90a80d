#include "workbench/ModalDialogs.h"

#include <QDialog>

namespace {

ModalRunner& CurrentRunner()
{
    static ModalRunner runner;
    return runner;
}

}  // namespace

void RunModalDialog(QDialog& Dialog)
{
    // Copied first: the runner may replace itself while the dialog is up.
    const ModalRunner runner = CurrentRunner();
    if (runner)
        runner(Dialog);
    else
        Dialog.exec();
}

ModalRunner SetModalRunner(ModalRunner Runner)
{
    ModalRunner previous = std::move(CurrentRunner());
    CurrentRunner() = std::move(Runner);
    return previous;
}
