#include "run/FormulaHost.h"

#include <QHash>

#include <unordered_map>

#include "document/clsProcess.h"
#include "run/RunEngine.h"
#include "script/QVariantBridge.h"
#include "script/ScriptControl.h"

namespace {

// The helper every formula can call; its text, line breaks (CR alone) and
// blanks are part of what scripts observe.
const QString kSqlExecuteCode = QStringLiteral(
    "Private Function SQLExecute(Step, sql, FIELD)\r"
    "   Dim returnVal\r"
    "   Dim strField \r"
    "   Dim strSql  \r"
    "   strSql = sql\r"
    "   strField = FIELD   \r"
    "   SQLExecute =  Steps(Step).ExecuteSql(strSql,strField)\r"
    "End Function");

const QString kFormulaPrefix = QStringLiteral("FORMULA!");

// Member ids shared by every object of a class, so a call site resolves a
// name once for all steps.
struct MemberTable {
    QHash<QString, int> ids;
    int find(const QString& name) const { return ids.value(name.toCaseFolded(), vbs::IScriptObject::UnknownMember); }
};

}  // namespace

// A step with data, as formulas see it: Step("Field") reads the field of the
// step's current row.
class StepObject : public vbs::IScriptObject {
public:
    StepObject(RunEngine& engine, cShape& node) : m_engine(engine), m_node(node) {}

    QString typeName() const override { return QStringLiteral("Recordset"); }
    int memberId(const QString& name) override { return members().find(name); }
    const void* memberClass() const override { return &members(); }

    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        switch (id) {
        case DefaultMember:
        case FieldsMember:
            if (args.empty()) {
                if (id == FieldsMember)
                    return vbs::Variant::fromObject(self());
                vbs::raiseError(vbs::err::WrongArgCount);
            }
            if (args.size() != 1)
                vbs::raiseError(vbs::err::WrongArgCount);
            return field(args[0]);
        case EofMember:
        case BofMember:
            if (!args.empty())
                vbs::raiseError(vbs::err::WrongArgCount);
            // A step without a current row stands at its end.
            return vbs::Variant::fromBool(!m_engine.stepHasRow(m_node));
        default:
            vbs::raiseError(vbs::err::NoSuchMember);
        }
    }

    std::weak_ptr<StepObject> weakSelf;

private:
    enum { FieldsMember = 1, EofMember, BofMember };

    static const MemberTable& members()
    {
        static const MemberTable table{{{QStringLiteral("fields"), FieldsMember},
                                        {QStringLiteral("eof"), EofMember},
                                        {QStringLiteral("bof"), BofMember}}};
        return table;
    }

    vbs::ObjectRef self() const { return weakSelf.lock(); }

    vbs::Variant field(const vbs::Variant& which)
    {
        const vbs::Variant key = vbs::valueOf(which);
        QString name;
        if (key.isString()) {
            name = key.str();
        } else if (key.isNumber()) {
            // Fields(0) is the first column.
            if (!m_engine.stepFieldName(m_node, vbs::toLong(key), name))
                vbs::raiseError(3265, QStringLiteral("Item cannot be found in the collection "
                                                     "corresponding to the requested name or ordinal."));
        } else {
            name = vbs::toStr(key);
        }
        QVariant value;
        long number = 0;
        QString text;
        if (!m_engine.readStepField(m_node, name, value, number, text))
            vbs::raiseError(static_cast<int>(number), text);
        return FormulaHost::fromQVariant(value);
    }

    RunEngine& m_engine;
    cShape& m_node;
};

// A node as the Steps collection hands it out.
class ShapeObject : public vbs::IScriptObject {
public:
    explicit ShapeObject(cShape& node) : m_node(node) {}

    QString typeName() const override { return QStringLiteral("cShape"); }
    int memberId(const QString& name) override { return members().find(name); }
    const void* memberClass() const override { return &members(); }

    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        switch (id) {
        case ExecuteSqlMember: {
            if (args.size() != 2)
                vbs::raiseError(vbs::err::WrongArgCount);
            const std::optional<QVariant> v =
                m_node.ExecuteSql(vbs::toStr(args[0]), vbs::toStr(args[1]));
            return v ? FormulaHost::fromQVariant(*v) : vbs::Variant();
        }
        case CaptionMember: return vbs::Variant(m_node.sCaption);
        case IndexMember: return vbs::Variant::fromInteger(m_node.Index);
        case KeyMember: return vbs::Variant(m_node.Key);
        case TypeMember: return vbs::Variant::fromInteger(m_node.objType);
        default: vbs::raiseError(vbs::err::NoSuchMember);
        }
    }

private:
    enum { ExecuteSqlMember = 1, CaptionMember, IndexMember, KeyMember, TypeMember };

    static const MemberTable& members()
    {
        static const MemberTable table{{{QStringLiteral("executesql"), ExecuteSqlMember},
                                        {QStringLiteral("scaption"), CaptionMember},
                                        {QStringLiteral("index"), IndexMember},
                                        {QStringLiteral("key"), KeyMember},
                                        {QStringLiteral("objtype"), TypeMember}}};
        return table;
    }

    cShape& m_node;
};

// Every node keyed by caption: Steps("Target").ExecuteSql(...).
class StepsObject : public vbs::IScriptObject {
public:
    using Lookup = std::function<vbs::ObjectRef(const QString&)>;
    using Items = std::function<std::vector<vbs::ObjectRef>()>;

    StepsObject(Lookup lookup, Items items) : m_lookup(std::move(lookup)), m_items(std::move(items)) {}

    QString typeName() const override { return QStringLiteral("Collection"); }
    int memberId(const QString& name) override
    {
        if (name.compare(QLatin1String("Item"), Qt::CaseInsensitive) == 0)
            return DefaultMember;
        if (name.compare(QLatin1String("Count"), Qt::CaseInsensitive) == 0)
            return CountMember;
        return UnknownMember;
    }

    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        if (id == CountMember)
            return vbs::Variant::fromLong(static_cast<int32_t>(m_items().size()));
        if (id != DefaultMember)
            vbs::raiseError(vbs::err::NoSuchMember);
        if (args.size() != 1)
            vbs::raiseError(vbs::err::WrongArgCount);
        const vbs::Variant key = vbs::valueOf(args[0]);
        if (key.isNumber()) {
            const auto all = m_items();
            const int pos = vbs::toLong(key);
            if (pos < 1 || size_t(pos) > all.size())
                vbs::raiseError(vbs::err::InvalidCall);
            return vbs::Variant::fromObject(all[size_t(pos) - 1]);
        }
        vbs::ObjectRef node = m_lookup(vbs::toStr(key));
        if (!node)
            vbs::raiseError(vbs::err::InvalidCall);
        return vbs::Variant::fromObject(std::move(node));
    }

    bool items(std::vector<vbs::Variant>& out) override
    {
        for (vbs::ObjectRef& o : m_items())
            out.push_back(vbs::Variant::fromObject(std::move(o)));
        return true;
    }

private:
    enum { CountMember = 1 };
    Lookup m_lookup;
    Items m_items;
};

struct FormulaHost::Impl {
    clsProcess& process;
    RunEngine& engine;
    vbs::ScriptControl script;
    std::unordered_map<const cShape*, std::shared_ptr<StepObject>> stepObjects;
    std::unordered_map<const cShape*, std::shared_ptr<ShapeObject>> shapeObjects;
    std::shared_ptr<StepsObject> steps;

    Impl(clsProcess& p, RunEngine& e) : process(p), engine(e) {}

    std::shared_ptr<StepObject> stepObject(cShape& node)
    {
        auto& slot = stepObjects[&node];
        if (!slot) {
            slot = std::make_shared<StepObject>(engine, node);
            slot->weakSelf = slot;
        }
        return slot;
    }

    vbs::ObjectRef shapeObject(cShape& node)
    {
        auto& slot = shapeObjects[&node];
        if (!slot)
            slot = std::make_shared<ShapeObject>(node);
        return slot;
    }

};

FormulaHost::FormulaHost(clsProcess& process, RunEngine& engine)
    : d(std::make_unique<Impl>(process, engine))
{
    d->steps = std::make_shared<StepsObject>(
        [this](const QString& caption) -> vbs::ObjectRef {
            cShapeRef node = d->engine.stepByCaption(caption);
            return node ? d->shapeObject(*node) : nullptr;
        },
        [this]() {
            std::vector<vbs::ObjectRef> all;
            for (const cShapeRef& node : d->engine.stepsInOrder())
                all.push_back(d->shapeObject(*node));
            return all;
        });
}

FormulaHost::~FormulaHost() = default;

void FormulaHost::forgetSteps()
{
    d->stepObjects.clear();
    d->shapeObjects.clear();
}

bool FormulaHost::ResetScript()
{
    d->script.Reset();
    for (const cShapeRef& node : d->engine.stepsInOrder()) {
        // A step that cannot be reached from scripts (no data, a caption
        // that is no identifier or is taken) is left out.
        if (d->engine.isStepReachable(*node))
            d->script.AddObject(node->sCaption, d->stepObject(*node));
    }
    d->script.AddObject(QStringLiteral("Steps"), d->steps);
    d->script.AddCode(kSqlExecuteCode);
    return true;
}

namespace {

FormulaHost::Result failure(const vbs::ScriptErrorInfo& e)
{
    FormulaHost::Result r;
    r.ok = false;
    r.number = e.Number;
    r.description = e.Description;
    r.text = e.Text;
    r.line = e.Line;
    return r;
}

FormulaHost::Result success(const vbs::Variant& v)
{
    FormulaHost::Result r;
    // An object stands for its default value; one without a value, an
    // array or Nothing cannot be written to a field.
    vbs::Variant plain;
    bool isValue = !v.isArray();
    if (isValue) {
        try {
            plain = vbs::valueOf(v);
            isValue = !plain.isObject() && !plain.isArray();
        } catch (const vbs::ScriptError&) {
            isValue = false;
        }
    }
    if (!isValue) {
        r.ok = false;
        r.notAValue = true;
        r.number = vbs::err::TypeMismatch;
        r.description = vbs::errorDescription(vbs::err::TypeMismatch);
        return r;
    }
    r.value = FormulaHost::toQVariant(plain, &r.empty, &r.isNull);
    return r;
}

}  // namespace

FormulaHost::Result FormulaHost::EvaluateValue(const QString& value)
{
    vbs::ScriptControl& sc = d->script;
    if (value.contains(kFormulaPrefix)) {
        const QString name = value.mid(kFormulaPrefix.size());
        const tFormula* formula = d->process.Formulas()->Collection().item(name);
        if (!formula) {
            Result r;
            r.ok = false;
            r.number = vbs::err::InvalidCall;
            r.description = vbs::errorDescription(vbs::err::InvalidCall);
            return r;
        }
        if (!sc.AddCode(formula->formula))
            return failure(sc.Error());
        const vbs::Variant v = sc.Eval(QStringLiteral("Main"));
        if (sc.Error().Number)
            return failure(sc.Error());
        return success(v);
    }
    const vbs::Variant v = sc.Eval(value);
    if (sc.Error().Number)
        return failure(sc.Error());
    return success(v);
}

FormulaHost::Result FormulaHost::CheckCode(const QString& code)
{
    vbs::ScriptControl& sc = d->script;
    if (!sc.AddCode(code))
        return failure(sc.Error());
    const vbs::Variant v = sc.Eval(QStringLiteral("Main"));
    if (sc.Error().Number)
        return failure(sc.Error());
    // The check is of the code; what its result is written as is the run's.
    const Result r = success(v);
    return r.notAValue ? Result{} : r;
}

QVariant FormulaHost::toQVariant(const vbs::Variant& v, bool* isEmpty, bool* isNull)
{
    if (isEmpty)
        *isEmpty = v.isEmpty();
    if (isNull)
        *isNull = v.isNull();
    if (v.isEmpty() || v.isNull())
        return QVariant();
    return vbs::toQVariant(v);
}

vbs::Variant FormulaHost::fromQVariant(const QVariant& v)
{
    // The database's Null is the script's Null, whatever kind of null
    // QVariant carries it.
    if (v.isNull() && v.typeId() != QMetaType::QString)
        return vbs::Variant::null();
    if (!v.isValid())
        return vbs::Variant::null();
    return vbs::fromQVariant(v);
}
