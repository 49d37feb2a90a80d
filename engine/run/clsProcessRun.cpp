// The run members of clsProcess, forwarded to its run engine.

#include "document/clsProcess.h"
#include "run/RunEngine.h"

short clsProcess::RunFile(const QString& Filename) { return m_run->RunFile(Filename); }
short clsProcess::Run() { return m_run->Run(); }
short clsProcess::RunRecord() { return m_run->RunRecord(); }
short clsProcess::RunNextRecord() { return m_run->RunNextRecord(); }
short clsProcess::CancelExec() { return m_run->CancelExec(); }
cShapeRef clsProcess::SourceStep() const { return m_run->SourceStep(); }
ado::Recordset clsProcess::SourceData() const { return m_run->SourceData(); }
ado::Recordset clsProcess::StepData(cShape& Step) const { return m_run->stepData(Step); }
tStatistic clsProcess::Statistics() const { return m_run->Statistics(); }
QString clsProcess::CheckFormula(const QString& Text) { return m_run->CheckFormula(Text); }
void clsProcess::setYieldCallback(std::function<void()> callback) { m_run->setYieldCallback(std::move(callback)); }
RunOutcome clsProcess::LastOutcome() const { return m_run->lastOutcome(); }
bool clsProcess::IsRunning() const { return m_run->isRunning(); }
