#include "AppTestSupport.h"

#include <QCloseEvent>

#include "DesignerTestSupport.h"

namespace {

const void* const environment = RegisterDesignerEnvironment("test_designer_app", true);

}  // namespace

QString TestHomeFolder()
{
    return SharedHomeFolder();
}

void cRecordingChild::closeEvent(QCloseEvent* Event)
{
    Calls << QStringLiteral("closeEvent");
    if (RefuseClose)
        Event->ignore();
    else
        Event->accept();
}
