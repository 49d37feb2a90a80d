#include "admin/frmStatistics.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "admin/AdminCommon.h"
#include "admin/frmExecutionLog.h"
#include "app/FormTranslation.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "document/clsProcess.h"
#include "stores/basUtils.h"

namespace {

const QString kAmbient = QStringLiteral("frmStatistics");

QString Tr(const QString& Text)
{
    return Translate(Text, kAmbient);
}

QLineEdit* NewTextBox(const QString& Name, QWidget* Parent)
{
    auto* box = new QLineEdit(Parent);
    box->setObjectName(Name);
    box->setReadOnly(true);
    // Shown, not edited: Tab goes straight to the buttons, a click still
    // selects the text for copying.
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

// With seconds: most runs start and end within the same minute.
QString TimeText(const QDateTime& Time)
{
    return Time.isValid() ? AdminScreens::CellText(Time) : QString();
}

}  // namespace

frmStatistics::frmStatistics(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("frmStatistics"));
    setWindowTitle(QStringLiteral("Execution Statistics"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* top = new QGridLayout;
    const auto addLabelled = [&](int Row, const QString& Caption, QLineEdit* Box) {
        auto* label = new QLabel(Caption, this);
        label->setObjectName(QStringLiteral("lbl") + Box->objectName().mid(3));
        label->setBuddy(Box);
        top->addWidget(label, Row, 0);
        top->addWidget(Box, Row, 1);
    };
    m_txtIntegration = NewTextBox(QStringLiteral("txtIntegration"), this);
    m_txtStartTime = NewTextBox(QStringLiteral("txtStartTime"), this);
    m_txtEndTime = NewTextBox(QStringLiteral("txtEndTime"), this);
    addLabelled(0, QStringLiteral("Integration Name:"), m_txtIntegration);
    addLabelled(1, QStringLiteral("Started:"), m_txtStartTime);
    addLabelled(2, QStringLiteral("Finished:"), m_txtEndTime);

    // The counters: one row per operation (and the total), one column per result.
    auto* counters = new QGridLayout;
    const QStringList columns = {QStringLiteral("Success"), QStringLiteral("Errors"), QStringLiteral("Skipped"),
                                 QStringLiteral("Total")};
    for (int c = 0; c < columns.size(); ++c) {
        auto* header = new QLabel(columns.at(c), this);
        header->setObjectName(QStringLiteral("lblColumn%1").arg(c));
        header->setAlignment(Qt::AlignCenter);
        counters->addWidget(header, 0, c + 1);
    }
    const QStringList rows = {QStringLiteral("Inserts:"), QStringLiteral("Updates:"), QStringLiteral("Lookups:"),
                              QStringLiteral("Deleted:"), QStringLiteral("Total:")};
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(rows.at(i), this);
        label->setObjectName(QStringLiteral("lblRow%1").arg(i));
        counters->addWidget(label, i + 1, 0);
        m_txtSuccess[i] = NewTextBox(QStringLiteral("txtSuccess_%1").arg(i), this);
        m_txtError[i] = NewTextBox(QStringLiteral("txtError_%1").arg(i), this);
        m_txtSkipped[i] = NewTextBox(QStringLiteral("txtSkipped_%1").arg(i), this);
        m_txtTotal[i] = NewTextBox(QStringLiteral("txtTotal_%1").arg(i), this);
        int column = 1;
        for (QLineEdit* box : {m_txtSuccess[i], m_txtError[i], m_txtSkipped[i], m_txtTotal[i]}) {
            box->setAlignment(Qt::AlignRight);
            counters->addWidget(box, i + 1, column++);
        }
    }

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setTextVisible(true);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);

    m_memLog = new QPlainTextEdit(this);
    m_memLog->setObjectName(QStringLiteral("memLog"));
    m_memLog->setReadOnly(true);
    m_memLog->setFocusPolicy(Qt::ClickFocus);
    m_memLog->setLineWrapMode(QPlainTextEdit::NoWrap);

    m_cmdCancelar = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cmdCancelar->setObjectName(QStringLiteral("cmdCancelar"));
    m_cmdOk = new QPushButton(QStringLiteral("&Accept"), this);
    m_cmdOk->setObjectName(QStringLiteral("cmdOk"));
    m_cmdLog = new QPushButton(QStringLiteral("&Log"), this);
    m_cmdLog->setObjectName(QStringLiteral("cmdLog"));
    m_cmdRefused = new QPushButton(QStringLiteral("&Refused"), this);
    m_cmdRefused->setObjectName(QStringLiteral("cmdRefused"));
    connect(m_cmdCancelar, &QPushButton::clicked, this, &frmStatistics::cmdCancelar_Click);
    connect(m_cmdOk, &QPushButton::clicked, this, &frmStatistics::cmdOk_Click);
    connect(m_cmdLog, &QPushButton::clicked, this, &frmStatistics::cmdLog_Click);
    connect(m_cmdRefused, &QPushButton::clicked, this, &frmStatistics::cmdRefused_Click);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdLog);
    buttons->addWidget(m_cmdRefused);
    buttons->addStretch(1);
    buttons->addWidget(m_cmdCancelar);
    buttons->addWidget(m_cmdOk);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(counters);
    layout->addWidget(m_progress);
    layout->addWidget(m_memLog, 1);
    layout->addLayout(buttons);
    ShowEndButtons(false);

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(1000);
    connect(&m_timer1, &QTimer::timeout, this, &frmStatistics::Timer1_Timer);

    // Load.
    TranslateForm(this, kAmbient);
    m_processingText = Tr(QStringLiteral("Processing record "));
    m_recordWord = Tr(QStringLiteral("Record"));
    m_ofText = Tr(QStringLiteral(" of "));
}

frmStatistics::~frmStatistics()
{
    // The engine must not call back into a window that is gone.
    if (m_running && m_process)
        m_process->CancelExec();
}

clsProcess* frmStatistics::Process() const
{
    return m_process.data();
}

void frmStatistics::SetProcess(clsProcess* Process)
{
    if (m_process)
        disconnect(m_process, nullptr, this, nullptr);
    m_process = Process;
    if (!Process)
        return;
    connect(Process, &clsProcess::ProcessStarted, this, &frmStatistics::Process_ProcessStarted);
    connect(Process, &clsProcess::LogAdded, this, &frmStatistics::Process_LogAdded);
    connect(Process, &clsProcess::IntegrationEnd, this, &frmStatistics::Process_IntegrationEnd);
}

void frmStatistics::ActionRun(clsProcess* Process)
{
    // A second run while one goes on would re-enter the engine.
    if (!Process || m_running || Process->IsRunning())
        return;
    SetProcess(Process);
    m_txtIntegration->setText(Process->Filename());
    // A window that ran before shows this run only, also when this run
    // ends before its first record (the process still holds the counters
    // of the previous run until the record loop starts).
    m_txtStartTime->clear();
    m_txtEndTime->clear();
    m_memLog->clear();
    for (int i = 0; i < 5; ++i)
        for (QLineEdit* box : {m_txtSuccess[i], m_txtError[i], m_txtSkipped[i], m_txtTotal[i]})
            box->setText(QStringLiteral("0"));
    m_progressText.clear();
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    m_started = false;
    ShowEndButtons(false);
    if (mdiMain* main = MainForm())
        main->AddChild(this);
    else
        show();

    // The record loop yields between steps: the timer, the buttons and the
    // event handlers run from there. While it runs the window is not
    // destroyed (see closeEvent).
    const QPointer<clsProcess> process(Process);
    m_running = true;
    m_closeRequested = false;
    Timer1_Timer();
    m_timer1.start();
    Process->setYieldCallback([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    Process->Run();
    if (process)
        process->setYieldCallback({});
    m_running = false;
    m_timer1.stop();
    // A run without records leaves a bar of 0 to 0, which draws as busy.
    if (m_progress->maximum() == 0) {
        m_progress->setRange(0, 1);
        m_progress->setValue(1);
    }
    if (m_closeRequested)
        close();
}

void frmStatistics::ActionClose()
{
    close();
}

void frmStatistics::closeEvent(QCloseEvent* Event)
{
    // Closing during a run stops the run at the next record; the window goes
    // once the run has returned, since the run is still inside its members.
    if (m_running) {
        if (m_process)
            m_process->CancelExec();
        m_closeRequested = true;
        Event->ignore();
        return;
    }
    QWidget::closeEvent(Event);
}

void frmStatistics::Timer1_Timer()
{
    QCoreApplication::processEvents();
    // Before the record loop starts the counters are the previous run's.
    if (!m_process || !m_started)
        return;
    const tStatistic st = m_process->Statistics();
    for (int i = 0; i < 5; ++i) {
        m_txtSuccess[i]->setText(QString::number(st.Success[i + 1]));
        m_txtError[i]->setText(QString::number(st.Errors[i + 1]));
        m_txtTotal[i]->setText(QString::number(st.Totals[i + 1]));
        m_txtSkipped[i]->setText(QString::number(st.Skipped[i + 1]));
    }
    m_progressText = m_processingText + QLatin1Char(' ') + QString::number(st.CurrRecord) + QLatin1Char(' ') + m_ofText +
                     QLatin1Char(' ') + QString::number(st.TotalRecords);
    // The bar's format treats '%' as a place holder.
    m_progress->setFormat(QString(m_progressText).replace(QLatin1Char('%'), QStringLiteral("%%")));
    const int maximum = std::max(st.TotalRecords, 0);
    if (m_progress->maximum() != maximum)
        m_progress->setMaximum(maximum);
    m_progress->setValue(std::clamp(st.CurrRecord, 0, maximum));
    QCoreApplication::processEvents();
}

void frmStatistics::Process_ProcessStarted(const tStatistic&)
{
    m_started = true;
    Timer1_Timer();
    if (m_process)
        m_txtStartTime->setText(TimeText(m_process->Statistics().StartTime));
}

void frmStatistics::Process_LogAdded(const QString& Text)
{
    // Newest line on top; inserting at the start keeps a long log cheap.
    QTextCursor cursor(m_memLog->document());
    cursor.movePosition(QTextCursor::Start);
    // An error of one record says which, as its row in the error history does.
    const std::int32_t record = m_process && m_process->Log() ? m_process->Log()->AnnouncedRecord() : -1;
    if (record >= 0)
        cursor.insertText(m_recordWord + QLatin1Char(' ') + QString::number(record) + QStringLiteral(": "));
    cursor.insertText(Text + QLatin1Char('\n'));
}

void frmStatistics::Process_IntegrationEnd(const tStatistic& Statistic)
{
    m_txtEndTime->setText(TimeText(Statistic.EndTime));
    Timer1_Timer();
    Dialogs().MsgBox(this, Tr(QStringLiteral("Process Finished")), MsgBoxStyle::vbOKOnly);
    ShowEndButtons(true);
}

void frmStatistics::ShowEndButtons(bool Finished)
{
    m_cmdLog->setVisible(Finished);
    m_cmdRefused->setVisible(Finished);
    m_cmdOk->setVisible(Finished);
    m_cmdCancelar->setVisible(!Finished);
    m_finished = Finished;
}

void frmStatistics::cmdCancelar_Click()
{
    if (m_process)
        m_process->CancelExec();
}

void frmStatistics::cmdOk_Click()
{
    close();
    if (mdiMain* main = MainForm())
        main->RefreshTabs();
}

void frmStatistics::cmdLog_Click()
{
    frmExecErrorLog::Instance()->ActionEdit();
}

void frmStatistics::cmdRefused_Click()
{
}
