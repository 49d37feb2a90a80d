#include "run/FormulaHost.h"

#include <QHash>

#include <algorithm>
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


// The members every collection a formula sees answers: Item (the default
// member) and Count.
constexpr int kCountMember = 1;

int collectionMember(const QString& name)
{
    if (name.compare(QLatin1String("Item"), Qt::CaseInsensitive) == 0)
        return vbs::IScriptObject::DefaultMember;
    if (name.compare(QLatin1String("Count"), Qt::CaseInsensitive) == 0)
        return kCountMember;
    return vbs::IScriptObject::UnknownMember;
}

const QString kItemNotFound = QStringLiteral(
    "Item cannot be found in the collection corresponding to the requested name or ordinal.");

}  // namespace

// A step with data, as formulas see it: the step's recordset standing on
// its current row. Step("Field") and Step(0) read a field's value;
// Step.Fields("Field") is the Field object with its Value and schema; EOF,
// BOF, RecordCount, AbsolutePosition, State and Source describe the
// recordset. Moving or changing it would upset the run's own cursor, so
// those methods raise an error instead.
class StepObject : public vbs::IScriptObject {
public:
    StepObject(RunEngine& engine, cShape& node) : m_engine(engine), m_node(node) {}

    QString typeName() const override { return QStringLiteral("Recordset"); }
    int memberId(const QString& name) override { return members().find(name); }
    const void* memberClass() const override { return &members(); }

    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        if (id >= FirstRefused)
            refuse(id);
        if (id != DefaultMember && id != FieldsMember && !args.empty())
            vbs::raiseError(vbs::err::WrongArgCount);
        switch (id) {
        case DefaultMember:
            if (args.size() != 1)
                vbs::raiseError(vbs::err::WrongArgCount);
            // A name, the common case, is passed on as it is.
            if (args[0].isString())
                return value(args[0].str());
            return value(columnName(args[0]));
        case FieldsMember:
            if (args.empty())
                return vbs::Variant::fromObject(fields());
            if (args.size() != 1)
                vbs::raiseError(vbs::err::WrongArgCount);
            return field(args[0]);
        case EofMember:
        case BofMember:
            // A step without a current row stands at its end (and, empty, at its start).
            return vbs::Variant::fromBool(!hasCurrentRow());
        case RecordCountMember:
            if (storageStep())
                return vbs::Variant::fromLong(m_engine.stepHasRow(m_node) ? 1 : 0);
            return vbs::Variant::fromLong(static_cast<int32_t>(m_engine.stepData(m_node).RecordCount()));
        case AbsolutePositionMember:
            if (storageStep())
                return vbs::Variant::fromLong(m_engine.stepHasRow(m_node) ? 1 : -1);   // adPosUnknown
            return vbs::Variant::fromLong(static_cast<int32_t>(m_engine.stepData(m_node).AbsolutePosition()));
        case StateMember:
            if (storageStep())
                return vbs::Variant::fromLong(ado::adStateOpen);
            return vbs::Variant::fromLong(static_cast<int32_t>(m_engine.stepData(m_node).State()));
        case SourceMember:
            if (storageStep())
                return vbs::Variant(m_node.Query());
            return vbs::Variant(m_engine.stepData(m_node).Source());
        default:
            vbs::raiseError(vbs::err::NoSuchMember);
        }
    }

    // Step("Field") reads the value; where an object is wanted
    // (Step("Field").Value, Set f = Step("Field")) it is the Field.
    vbs::Variant getObject(int id, std::span<vbs::Variant> args) override
    {
        if (id == DefaultMember && args.size() == 1)
            return field(args[0]);
        return get(id, args);
    }

    void put(int id, std::span<vbs::Variant>, const vbs::Variant&) override
    {
        refuse(id == DefaultMember || id == FieldsMember ? UpdateMember : id);
    }

    // The step's columns, as the current row has them.
    const std::vector<ado::FieldInfo>& columns()
    {
        m_data = m_engine.stepData(m_node);
        return m_data.fieldInfos();
    }

    // A column by name or 0-based position (3265 when there is none).
    int columnIndex(const vbs::Variant& which)
    {
        const vbs::Variant key = vbs::valueOf(which);
        const std::vector<ado::FieldInfo>& cols = columns();
        if (key.isNumber()) {
            const int index = vbs::toLong(key);
            if (index < 0 || size_t(index) >= cols.size())
                vbs::raiseError(ado::adErrItemNotFound, kItemNotFound);
            return index;
        }
        const QString name = vbs::toStr(key);
        for (size_t i = 0; i < cols.size(); ++i)
            if (cols[i].name.compare(name, Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        vbs::raiseError(ado::adErrItemNotFound, kItemNotFound);
    }

    QString columnName(const vbs::Variant& which)
    {
        const vbs::Variant key = vbs::valueOf(which);
        // By name the engine finds (and reports) the column itself.
        if (!key.isNumber())
            return vbs::toStr(key);
        return columns()[size_t(columnIndex(key))].name;
    }

    vbs::Variant value(const QString& name)
    {
        QVariant v;
        long number = 0;
        QString text;
        if (!m_engine.readStepField(m_node, name, columnHint(name), v, number, text))
            vbs::raiseError(static_cast<int>(number), text);
        return FormulaHost::fromQVariant(v);
    }

    vbs::Variant field(const vbs::Variant& which);
    vbs::ObjectRef fields();

    std::weak_ptr<StepObject> weakSelf;

private:
    enum {
        FieldsMember = 1, EofMember, BofMember, RecordCountMember, AbsolutePositionMember, StateMember,
        SourceMember,
        // Navigation and changes: refused.
        FirstRefused, MoveNextMember = FirstRefused, MovePreviousMember, MoveFirstMember, MoveLastMember,
        MoveMember, AddNewMember, UpdateMember, DeleteMember, CancelUpdateMember, UpdateBatchMember,
        RequeryMember, CloseMember, OpenMember
    };

    static const MemberTable& members()
    {
        static const MemberTable table{{
            {QStringLiteral("fields"), FieldsMember}, {QStringLiteral("eof"), EofMember},
            {QStringLiteral("bof"), BofMember}, {QStringLiteral("recordcount"), RecordCountMember},
            {QStringLiteral("absoluteposition"), AbsolutePositionMember}, {QStringLiteral("state"), StateMember},
            {QStringLiteral("source"), SourceMember}, {QStringLiteral("movenext"), MoveNextMember},
            {QStringLiteral("moveprevious"), MovePreviousMember}, {QStringLiteral("movefirst"), MoveFirstMember},
            {QStringLiteral("movelast"), MoveLastMember}, {QStringLiteral("move"), MoveMember},
            {QStringLiteral("addnew"), AddNewMember}, {QStringLiteral("update"), UpdateMember},
            {QStringLiteral("delete"), DeleteMember}, {QStringLiteral("cancelupdate"), CancelUpdateMember},
            {QStringLiteral("updatebatch"), UpdateBatchMember}, {QStringLiteral("requery"), RequeryMember},
            {QStringLiteral("close"), CloseMember}, {QStringLiteral("open"), OpenMember}}};
        return table;
    }

    [[noreturn]] void refuse(int id)
    {
        QString member;
        for (auto it = members().ids.cbegin(); it != members().ids.cend(); ++it)
            if (it.value() == id)
                member = it.key();
        vbs::raiseError(3219, QStringLiteral("Operation is not allowed in this context: a formula cannot move or "
                                             "change the records of step '%1' (%2).")
                                  .arg(m_node.sCaption, member));
    }

    bool storageStep() const { return m_node.objType == aStorage; }

    bool hasCurrentRow() { return m_engine.stepHasRow(m_node); }

    vbs::ObjectRef self() const { return weakSelf.lock(); }

    // The column number the engine keeps for a field name read before; a
    // formula reads the same few names record after record.
    int& columnHint(const QString& name)
    {
        for (auto& [known, column] : m_columns)
            if (known == name)
                return column;
        if (m_columns.size() >= 64)
            m_columns.clear();
        return m_columns.emplace_back(name, -1).second;
    }

    RunEngine& m_engine;
    cShape& m_node;
    std::vector<std::pair<QString, int>> m_columns;
    ado::Recordset m_data;   // keeps the schema columns() hands out alive
};

namespace {

// One column of a step: Value (the default member) reads the step's
// current row each time; the rest is the column's schema.
class FieldObject : public vbs::IScriptObject {
public:
    FieldObject(std::shared_ptr<StepObject> step, ado::FieldInfo info)
        : m_step(std::move(step)), m_info(std::move(info))
    {
    }

    QString typeName() const override { return QStringLiteral("Field"); }
    int memberId(const QString& name) override { return members().find(name); }
    const void* memberClass() const override { return &members(); }

    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        if (!args.empty())
            vbs::raiseError(vbs::err::WrongArgCount);
        switch (id) {
        case DefaultMember:
        case ValueMember:
        case OriginalValueMember:
        case UnderlyingValueMember:
            // Formulas cannot edit rows, so the three values agree.
            return m_step->value(m_info.name);
        case NameMember: return vbs::Variant(m_info.name);
        case TypeMember: return vbs::Variant::fromLong(m_info.type);
        case DefinedSizeMember: return vbs::Variant::fromLong(static_cast<int32_t>(m_info.definedSize));
        case PrecisionMember: return vbs::Variant::fromByte(static_cast<uint8_t>(m_info.precision));
        case NumericScaleMember: return vbs::Variant::fromByte(static_cast<uint8_t>(m_info.numericScale));
        case AttributesMember: return vbs::Variant::fromLong(static_cast<int32_t>(m_info.attributes()));
        case ActualSizeMember: {
            const vbs::Variant v = m_step->value(m_info.name);
            if (v.isNull() || v.isEmpty())
                return vbs::Variant::fromLong(0);
            if (ado::isTextType(m_info.type))
                return vbs::Variant::fromLong(static_cast<int32_t>(vbs::toStr(v).size()));
            const QVariant q = FormulaHost::toQVariant(v);
            if (q.typeId() == QMetaType::QByteArray)
                return vbs::Variant::fromLong(static_cast<int32_t>(q.toByteArray().size()));
            return vbs::Variant::fromLong(static_cast<int32_t>(m_info.definedSize));
        }
        default:
            vbs::raiseError(vbs::err::NoSuchMember);
        }
    }

    void put(int, std::span<vbs::Variant>, const vbs::Variant&) override
    {
        vbs::Variant none;
        m_step->put(DefaultMember, std::span<vbs::Variant>(&none, 1), none);
    }

private:
    enum {
        ValueMember = 1, NameMember, TypeMember, DefinedSizeMember, ActualSizeMember, PrecisionMember,
        NumericScaleMember, OriginalValueMember, UnderlyingValueMember, AttributesMember
    };

    static const MemberTable& members()
    {
        static const MemberTable table{{
            {QStringLiteral("value"), ValueMember}, {QStringLiteral("name"), NameMember},
            {QStringLiteral("type"), TypeMember}, {QStringLiteral("definedsize"), DefinedSizeMember},
            {QStringLiteral("actualsize"), ActualSizeMember}, {QStringLiteral("precision"), PrecisionMember},
            {QStringLiteral("numericscale"), NumericScaleMember},
            {QStringLiteral("originalvalue"), OriginalValueMember},
            {QStringLiteral("underlyingvalue"), UnderlyingValueMember},
            {QStringLiteral("attributes"), AttributesMember}}};
        return table;
    }

    std::shared_ptr<StepObject> m_step;
    ado::FieldInfo m_info;
};

// A step's Fields collection: Count, Item (the default member), For Each.
class FieldsObject : public vbs::IScriptObject {
public:
    explicit FieldsObject(std::shared_ptr<StepObject> step) : m_step(std::move(step)) {}

    QString typeName() const override { return QStringLiteral("Fields"); }
    int memberId(const QString& name) override { return collectionMember(name); }

    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        if (id == CountMember) {
            if (!args.empty())
                vbs::raiseError(vbs::err::WrongArgCount);
            return vbs::Variant::fromLong(static_cast<int32_t>(m_step->columns().size()));
        }
        if (id != DefaultMember)
            vbs::raiseError(vbs::err::NoSuchMember);
        if (args.size() != 1)
            vbs::raiseError(vbs::err::WrongArgCount);
        return m_step->field(args[0]);
    }

    void put(int, std::span<vbs::Variant> args, const vbs::Variant& value) override
    {
        m_step->put(DefaultMember, args, value);
    }

    bool items(std::vector<vbs::Variant>& out) override
    {
        const size_t n = m_step->columns().size();
        for (size_t i = 0; i < n; ++i)
            out.push_back(m_step->field(vbs::Variant::fromLong(static_cast<int32_t>(i))));
        return true;
    }

private:
    static constexpr int CountMember = kCountMember;
    std::shared_ptr<StepObject> m_step;
};

}  // namespace

vbs::Variant StepObject::field(const vbs::Variant& which)
{
    const int index = columnIndex(which);
    return vbs::Variant::fromObject(std::make_shared<FieldObject>(weakSelf.lock(), columns()[size_t(index)]));
}

vbs::ObjectRef StepObject::fields()
{
    return std::make_shared<FieldsObject>(weakSelf.lock());
}

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
    int memberId(const QString& name) override { return collectionMember(name); }

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
    static constexpr int CountMember = kCountMember;
    Lookup m_lookup;
    Items m_items;
};

struct FormulaHost::Impl {
    clsProcess& process;
    RunEngine& engine;
    vbs::ScriptControl script;
    std::unordered_map<const cShape*, std::shared_ptr<StepObject>> stepObjects;
    std::unordered_map<const cShape*, std::shared_ptr<ShapeObject>> shapeObjects;
    vbs::ObjectRef steps;   // a StepsObject

    // Compiled once per run and handed back to the interpreter, so that a
    // record neither hashes nor looks up the texts again.
    vbs::PreparedCode sqlExecute;
    vbs::PreparedExpr main;
    // How a value text of the run is evaluated.
    struct Plan {
        vbs::PreparedCode code;   // a named formula: its code, then Main
        vbs::PreparedExpr expr;   // an expression
        // Step("Field") on a name, read without the interpreter when the
        // name is a step bound at the last reset.
        QString objectName;
        QString field;
        // The step the name stood for at the binding of `boundGeneration`.
        quint64 generation = 0;
        StepObject* step = nullptr;
    };
    QHash<QString, Plan> plans;
    // The step objects the last reset bound, by the name scripts see, and
    // whether only those reads ran since: any script code run since may
    // have given the names other meanings.
    std::vector<std::pair<QString, std::shared_ptr<StepObject>>> bound;
    bool pristine = false;
    // What a reset binds, per step in run order: the name checked once and
    // the step's object while the step stays the same.
    struct Binding {
        const cShape* node = nullptr;
        QString caption;
        vbs::PreparedName name;
        bool helperName = false;
        std::shared_ptr<StepObject> object;
        vbs::ObjectRef scriptObject;   // the same, as AddObject takes it
        bool bound = false;   // at the last reset
    };
    std::vector<Binding> bindings;
    vbs::PreparedName stepsName;
    // Changes when another set of steps is bound.
    quint64 boundGeneration = 1;

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

    StepObject* boundStep(const QString& name) const
    {
        for (const auto& [bName, object] : bound)
            if (bName.compare(name, Qt::CaseInsensitive) == 0)
                return object.get();
        return nullptr;
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
    d->bound.clear();
    d->bindings.clear();
    ++d->boundGeneration;
    // A new run may come with other formulas.
    d->plans.clear();
}

bool FormulaHost::ResetScript()
{
    vbs::ScriptControl& sc = d->script;
    sc.Reset();
    const std::vector<cShapeRef>& nodes = d->engine.stepsInOrder();
    std::vector<Impl::Binding>& bindings = d->bindings;
    if (bindings.size() != nodes.size())
        bindings.resize(nodes.size());
    // Compared in place with what the last reset bound, so that binding
    // the same objects again builds nothing.
    size_t boundCount = 0;
    bool same = true;
    for (size_t i = 0; i < nodes.size(); ++i) {
        cShape& node = *nodes[i];
        Impl::Binding& binding = bindings[i];
        if (binding.node != &node || binding.caption != node.sCaption) {
            binding.node = &node;
            binding.caption = node.sCaption;
            binding.object.reset();
            binding.scriptObject.reset();
            // The helper below takes the name SQLExecute whatever holds it.
            const QLatin1String helper("SQLExecute");
            binding.helperName = binding.caption.size() == helper.size()
                                 && binding.caption.compare(helper, Qt::CaseInsensitive) == 0;
        }
        binding.bound = false;
        // A step that cannot be reached from scripts (no data, a caption
        // that is no identifier or is taken) is left out.
        if (!d->engine.isStepReachable(node))
            continue;
        if (!binding.object) {
            binding.object = d->stepObject(node);
            binding.scriptObject = binding.object;
            sc.PrepareName(binding.caption, binding.name);
        }
        if (sc.AddObject(binding.name, binding.scriptObject) && !binding.helperName) {
            binding.bound = true;
            if (same)
                same = boundCount < d->bound.size() && d->bound[boundCount].second == binding.object;
            ++boundCount;
        }
    }
    if (!same || boundCount != d->bound.size()) {
        d->bound.clear();
        for (const Impl::Binding& binding : bindings)
            if (binding.bound)
                d->bound.emplace_back(binding.caption, binding.object);
        ++d->boundGeneration;
    }
    if (!d->stepsName)
        sc.PrepareName(QStringLiteral("Steps"), d->stepsName);
    sc.AddObject(d->stepsName, d->steps);
    if (!d->sqlExecute)
        sc.Prepare(kSqlExecuteCode, d->sqlExecute);
    sc.AddCode(d->sqlExecute);
    d->pristine = true;
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
    if (!v.isObject() && !v.isArray()) {
        r.value = FormulaHost::toQVariant(v, &r.empty, &r.isNull);
        return r;
    }
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

namespace {

// Name("Field") and nothing else: a field reference the host can read
// itself, as the interpreter would through the step object.
bool plainFieldReference(const QString& text, QString& name, QString& field)
{
    const qsizetype open = text.indexOf(u'(');
    if (open < 1 || !text.endsWith(QLatin1String("\")")) || text.size() < open + 4 || text.at(open + 1) != u'"')
        return false;
    for (qsizetype i = 0; i < open; ++i) {
        const QChar c = text.at(i);
        const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        if (!(letter || (i > 0 && ((c >= u'0' && c <= u'9') || c == u'_'))))
            return false;
    }
    const QStringView inner = QStringView(text).mid(open + 2, text.size() - open - 4);
    if (inner.contains(u'"') || inner.contains(u'\r') || inner.contains(u'\n'))
        return false;
    name = text.left(open);
    field = inner.toString();
    return true;
}

}  // namespace

FormulaHost::Result FormulaHost::EvaluateValue(const QString& value)
{
    vbs::ScriptControl& sc = d->script;
    auto known = d->plans.find(value);
    if (known == d->plans.end()) {
        Impl::Plan plan;
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
            // Code that does not compile fails each time it is met, and is
            // not kept.
            if (!sc.Prepare(formula->formula, plan.code))
                return failure(sc.Error());
            if (!d->main && !sc.PrepareExpression(QStringLiteral("Main"), d->main))
                return failure(sc.Error());
        } else {
            if (!sc.PrepareExpression(value, plan.expr))
                return failure(sc.Error());
            plainFieldReference(value, plan.objectName, plan.field);
        }
        known = d->plans.insert(value, std::move(plan));
    }
    Impl::Plan& plan = *known;
    if (plan.code) {
        d->pristine = false;
        if (!sc.AddCode(plan.code))
            return failure(sc.Error());
        const vbs::Variant v = sc.Eval(d->main);
        if (sc.Error().Number)
            return failure(sc.Error());
        return success(v);
    }
    if (!plan.objectName.isEmpty() && d->pristine) {
        if (plan.generation != d->boundGeneration) {
            plan.step = d->boundStep(plan.objectName);
            plan.generation = d->boundGeneration;
        }
        if (StepObject* step = plan.step) {
            // What the interpreter would do for Step("Field"), without it.
            int number = 0;
            QString description;
            try {
                return success(step->value(plan.field));
            } catch (const vbs::ScriptError& error) {
                number = error.number;
                description = error.description;
            } catch (const std::bad_alloc&) {
                number = 7;
                description = vbs::errorDescription(7);
            }
            vbs::ScriptErrorInfo e;
            e.Number = number;
            e.Description = description;
            e.Line = 1;
            e.Text = value;
            return failure(e);
        }
    }
    d->pristine = false;
    const vbs::Variant v = sc.Eval(plan.expr);
    if (sc.Error().Number)
        return failure(sc.Error());
    return success(v);
}

FormulaHost::Result FormulaHost::CheckCode(const QString& code)
{
    vbs::ScriptControl& sc = d->script;
    d->pristine = false;
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
    // QVariant carries it. Texts, the common case, are taken as they are.
    if (v.typeId() == QMetaType::QString)
        return v.isNull() ? vbs::Variant::null() : vbs::Variant(*static_cast<const QString*>(v.constData()));
    if (v.isNull())
        return vbs::Variant::null();
    if (!v.isValid())
        return vbs::Variant::null();
    // Numbers as the bridge converts them, read in place.
    switch (v.typeId()) {
    case QMetaType::Int: return vbs::Variant::fromLong(*static_cast<const int*>(v.constData()));
    case QMetaType::LongLong: return vbs::Variant::fromInt64(*static_cast<const qlonglong*>(v.constData()));
    case QMetaType::Double: return vbs::Variant::fromDouble(*static_cast<const double*>(v.constData()));
    default: return vbs::fromQVariant(v);
    }
}
