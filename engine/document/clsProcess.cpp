#include "document/clsProcess.h"

#include "run/RunEngine.h"

clsProcess::clsProcess(QObject* parent)
    : QObject(parent),
      m_shapes(std::make_unique<cShapes>()),
      m_lines(std::make_unique<cLines>()),
      m_formulas(std::make_unique<cFormulas>()),
      m_log(std::make_unique<clsLog>()) {
    m_shapes->setLines(m_lines.get());
    m_lines->setShapes(m_shapes.get());
    // The log's lines are the process's own LogAdded events.
    connect(m_log.get(), &clsLog::LogAdded, this, &clsProcess::LogAdded);
    m_run = std::make_unique<RunEngine>(*this);
}

clsProcess::~clsProcess() = default;

void clsProcess::setForm(IDocumentView* form) {
    m_form = form;
}

void clsProcess::AttachDocumentForm() {
    m_shapes->setForm(m_form.data());
    m_lines->setForm(m_form.data());
    m_formulas->setForm(m_form.data());
}

cShapeRef clsProcess::FindStopStep() const {
    for (const cShapeRef& node : m_shapes->Collection())
        if (node->objType == aStop)
            return node;
    return nullptr;
}

bool clsProcess::insertShapeAtEnd(const cShapeRef& cb) {
    if (!cb || m_shapes->itemByIndex(cb->Index) != cb)
        return false;
    const cShapeRef stop = FindStopStep();
    if (!stop || stop == cb)
        return false;
    cLineRef into;
    for (const cLineRef& link : m_lines->Collection()) {
        if (link->sTo.toInt() == stop->Index) {
            into = link;
            break;
        }
    }
    if (!into)
        return false;
    const cShapeRef previous = m_shapes->itemByIndex(into->sFrom.toInt());
    // cb already in front of the stop node: a second link would loop.
    if (!previous || previous == cb)
        return false;

    into->sFrom = QString::number(cb->Index);
    m_lines->addLine(QString::number(previous->Index), QString::number(cb->Index), QString());
    m_lines->UpdateLine(*into);
    return true;
}

bool clsProcess::isFormulaUsed(const QString& formulaname) const {
    static const QString prefix = QStringLiteral("FORMULA!");
    const auto names = [&](const QString& mapping) {
        return mapping.startsWith(prefix) &&
               mapping.mid(prefix.size()).compare(formulaname, Qt::CaseInsensitive) == 0;
    };
    for (const cShapeRef& node : m_shapes->Collection()) {
        if (node->objType != aStorage)
            continue;
        const tStorage* record = node->storageRecord();
        if (!record || !record->fields)
            continue;
        for (const tFields& field : *record->fields)
            if (names(field.f_value) || names(field.f_lookup))
                return true;
    }
    return false;
}
