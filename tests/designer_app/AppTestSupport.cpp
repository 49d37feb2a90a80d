#include "AppTestSupport.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPointer>

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

bool cFakeService::QueryStatus(QObject* Receiver, std::function<void(int Installed, int State)> Done)
{
    if (*m_inFlight) {
        ++DroppedQueries;
        return false;
    }
    *m_inFlight = true;
    const int installed = CheckServiceInstalled();
    const int state = installed == 0 ? GetServiceState() : ServiceState::Unknown;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [inFlight = m_inFlight, receiver = QPointer<QObject>(Receiver), Done = std::move(Done), installed, state] {
            *inFlight = false;
            if (receiver)
                Done(installed, state);
        },
        Qt::QueuedConnection);
    return true;
}

void cFakeService::Settle()
{
    // Each answer may ask again (a queued request); a few rounds settle it.
    for (int round = 0; round < 20 && *m_inFlight; ++round)
        QCoreApplication::processEvents();
}
