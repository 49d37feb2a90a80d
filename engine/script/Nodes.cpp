#include "script/Nodes.h"
#include "script/RegExp.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace vbs::rt {

// ---------------------------------------------------------------- Err object

class ErrObject : public IScriptObject {
public:
    explicit ErrObject(Interp& in) : in_(in) {}
    enum { Number = 1, Description, Source, Clear, Raise, HelpFile, HelpContext };

    QString typeName() const override { return QStringLiteral("ErrObject"); }
    const void* memberClass() const override { static const int key = 0; return &key; }
    int memberId(const QString& name) override
    {
        static const QHash<QString, int> ids = {
            {"number", Number}, {"description", Description}, {"source", Source}, {"clear", Clear},
            {"raise", Raise}, {"helpfile", HelpFile}, {"helpcontext", HelpContext}};
        return ids.value(name.toLower(), UnknownMember);
    }
    Variant get(int id, std::span<Variant> args) override
    {
        switch (id) {
        case DefaultMember:
        case Number: return Variant::fromLong(in_.errNumber);
        case Description: return Variant(in_.errDescription);
        case Source: return Variant(in_.errSource);
        case HelpFile: return Variant(in_.errHelpFile);
        case HelpContext: return Variant::fromLong(in_.errHelpContext);
        case Clear: in_.clearErr(); return Variant();
        case Raise: {
            if (args.empty() || args.size() > 5) raiseError(err::WrongArgCount);
            auto given = [&](size_t i) { return args.size() > i && !args[i].isEmpty() && !args[i].isMissing(); };
            int32_t number = toLong(args[0]);
            if (number == 0) raiseError(err::InvalidCall);
            // The number travels as an HRESULT: 1..65535 in the script
            // facility, which Err.Number shows as the plain number again;
            // anything else keeps its bits (&H10000 spills into the facility).
            const uint32_t hr = number < 0 ? uint32_t(number) : (0x800A0000u | uint32_t(number));
            number = ((hr >> 16) & 0x1FFF) == 0x0A ? int32_t(hr & 0xFFFF) : int32_t(hr);
            ScriptError e;
            e.number = number;
            e.source = given(1) ? toStr(args[1]) : QStringLiteral("VBScript runtime error");
            e.description = given(2) ? toStr(args[2]) : errorDescription(number);
            if (given(3)) e.helpFile = toStr(args[3]);
            if (given(4)) e.helpContext = toLong(args[4]);
            throw e;
        }
        default: raiseError(err::NoSuchMember);
        }
    }
    void put(int id, std::span<Variant>, const Variant& value) override
    {
        switch (id) {
        case DefaultMember:
        case Number: in_.errNumber = toLong(value); return;
        case Description: in_.errDescription = toStr(value); return;
        case Source: in_.errSource = toStr(value); return;
        case HelpFile: in_.errHelpFile = toStr(value); return;
        case HelpContext: in_.errHelpContext = toLong(value); return;
        default: raiseError(err::NoSuchMember);
        }
    }

private:
    Interp& in_;
};

// ---------------------------------------------------------------- interpreter

Interp::Interp()
{
    errObject = std::make_shared<ErrObject>(*this);
    GlobalEntry* e = entry(QStringLiteral("Err"));
    e->baseKind = GlobalEntry::HostObject;
    e->baseValue = Variant::fromObject(errObject);
    e->reset();
    builtins.host = this;
}

Interp::~Interp()
{
    shuttingDown = true;
}

void Interp::install(const std::shared_ptr<CodeBlock>& block)
{
    // Texts compiled for procedures about to be replaced must not outlive them.
    if (!block->procs.empty() || !block->classes.empty()) {
        executeCache.clear();
        evalCache.clear();
    }
    for (size_t i = 0; i < block->procs.size(); ++i) {
        GlobalEntry* e = block->procEntries[i];
        e->kind = GlobalEntry::Proc;
        e->proc = block->procs[i].get();
        e->cls = nullptr;
        e->owner = block;
        e->value = Variant();
    }
    for (size_t i = 0; i < block->classes.size(); ++i) {
        GlobalEntry* e = block->classEntries[i];
        e->kind = GlobalEntry::Class;
        e->cls = block->classes[i].get();
        e->proc = nullptr;
        e->owner = block;
        e->value = Variant();
    }
    for (auto& [e, value] : block->consts) {
        e->kind = GlobalEntry::Constant;
        e->value = value;
    }
    for (GlobalEntry* e : block->dims) {
        if (e->kind == GlobalEntry::Undefined || e->kind == GlobalEntry::Builtin) {
            e->kind = GlobalEntry::Variable;
            e->value = Variant();
        }
    }
}

GlobalEntry* Interp::findEntry(const QString& name) const
{
    return byName_.value(name.toLower(), nullptr);
}

GlobalEntry* Interp::entry(const QString& name)
{
    QString key = name.toLower();
    if (GlobalEntry* e = byName_.value(key, nullptr)) return e;
    GlobalEntry& e = entries_.emplace_back();
    e.name = name;
    const Registry& reg = standardRegistry();
    if (const BuiltinInfo* b = reg.findFunction(name)) {
        e.baseKind = GlobalEntry::Builtin;
        e.baseBuiltin = b;
    } else if (const ConstantInfo* c = reg.findConstant(name)) {
        e.baseKind = GlobalEntry::Constant;
        e.baseValue = c->value;
    }
    e.reset();
    byName_.insert(key, &e);
    return &e;
}

void Interp::resetGlobals()
{
    executeCache.clear();
    evalCache.clear();
    for (GlobalEntry& e : entries_) e.reset();
    clearErr();
}

void Interp::setErr(const ScriptError& e)
{
    errNumber = e.number;
    errDescription = e.description;
    errSource = e.source.isEmpty() ? QStringLiteral("VBScript runtime error") : e.source;
    errHelpFile = e.helpFile;
    errHelpContext = e.helpContext;
    errLocated = false;
}

void Interp::clearErr()
{
    errNumber = 0;
    errDescription.clear();
    errSource.clear();
    errHelpFile.clear();
    errHelpContext = 0;
}

void Interp::checkBudget()
{
    // Processor time an evaluation may take, whatever it counts as steps.
    // The thread's own time: a busy machine does not stop a formula early.
    // The clock is first read after the first few thousand steps, so short
    // formulas never pay for it.
    constexpr int64_t kTimeLimitMs = 10'000;
    if (steps > stepLimit) budgetExceeded();
    if (nextCheck > 0) {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        const int64_t ms = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
        if (startedMs < 0)
            startedMs = ms;
        else if (ms - startedMs > kTimeLimitMs)
            budgetExceeded();
    }
    nextCheck = std::min(steps + kStepsBetweenLooks, stepLimit);
}

void Interp::budgetExceeded()
{
    ScriptError e{err::InstructionBudget, errorDescription(err::InstructionBudget), QString(), true, {}, 0};
    throw e;
}

namespace {

// Argument values on the stack for the usual short argument lists.
// The argument values of one call; on the stack for up to Inline, where
// only as many as there are arguments are made.
struct ArgValues {
    static constexpr size_t Inline = 6;
    std::vector<Variant> heap;
    std::span<Variant> span;

    explicit ArgValues(size_t n)
    {
        if (n <= Inline) {
            Variant* values = reinterpret_cast<Variant*>(inline_);
            for (; made_ < n; ++made_) new (&values[made_]) Variant();
            span = std::span<Variant>(values, n);
        } else {
            heap.resize(n);
            span = std::span<Variant>(heap);
        }
    }
    ~ArgValues()
    {
        Variant* values = reinterpret_cast<Variant*>(inline_);
        while (made_ > 0) values[--made_].~Variant();
    }
    ArgValues(const ArgValues&) = delete;
    ArgValues& operator=(const ArgValues&) = delete;

private:
    alignas(Variant) unsigned char inline_[Inline * sizeof(Variant)];
    size_t made_ = 0;
};

void evalArgs(std::vector<ExprPtr>& args, Frame& f, ArgValues& out)
{
    for (size_t i = 0; i < args.size(); ++i) out.span[i] = args[i]->eval(f);
}

[[noreturn]] void raiseWithName(int number, const QString& name)
{
    raiseError(number, errorDescription(number) + QStringLiteral(": '") + name + u'\'');
}

struct DepthGuard {
    Interp& in;
    explicit DepthGuard(Interp& i) : in(i)
    {
        if (++in.depth > in.maxDepth) {
            --in.depth;
            throw ScriptError{err::OutOfStack, errorDescription(err::OutOfStack), QString(), true, {}, 0};
        }
    }
    ~DepthGuard() { --in.depth; }
};

} // namespace

// Arrays whose items a call receives ByRef: kept alive and locked (ReDim
// refuses them) until the call returns.
struct ArrayLocks {
    std::vector<ArrayRef> arrays;
    ~ArrayLocks()
    {
        for (ArrayRef& a : arrays) --a->locks;
    }
};

// The variables of one call: on the stack for most procedures, where only
// as many as the procedure has are made (and dropped last to first).
class CallSlots {
public:
    static constexpr int Inline = 12;
    explicit CallSlots(int count)
    {
        if (count > Inline) {
            heapStore_.resize(size_t(count));
            heapPtrs_.resize(size_t(count));
            store = heapStore_.data();
            ptrs = heapPtrs_.data();
            return;
        }
        store = reinterpret_cast<Variant*>(inline_);
        ptrs = inlinePtrs_;
        for (; made_ < count; ++made_) new (&store[made_]) Variant();
    }
    ~CallSlots()
    {
        while (made_ > 0) store[--made_].~Variant();
    }
    CallSlots(const CallSlots&) = delete;
    CallSlots& operator=(const CallSlots&) = delete;

    Variant* store = nullptr;
    Variant** ptrs = nullptr;

private:
    alignas(Variant) unsigned char inline_[Inline * sizeof(Variant)];
    Variant* inlinePtrs_[Inline];
    int made_ = 0;
    std::vector<Variant> heapStore_;
    std::vector<Variant*> heapPtrs_;
};

Variant Interp::callProcedure(const Procedure& p, std::vector<ExprPtr>& args, Frame& caller, ClassInstance* self)
{
    const size_t params = p.byRef.size();
    if (args.size() != params) raiseError(err::WrongArgCount);
    CallSlots frame(std::max(p.slotCount, int(params)));
    Variant* store = frame.store;
    Variant** ptrs = frame.ptrs;
    ArrayLocks locks;
    for (size_t i = 0; i < params; ++i) {
        if (p.byRef[i]) {
            size_t held = locks.arrays.size();
            if (Variant* r = args[i]->itemRef(caller, locks.arrays)) {
                for (size_t k = held; k < locks.arrays.size(); ++k) ++locks.arrays[k]->locks;
                ptrs[i] = r;
                continue;
            }
        }
        store[i] = args[i]->eval(caller);
        // An omitted argument arrives as Empty.
        if (store[i].isMissing()) store[i] = Variant();
        ptrs[i] = &store[i];
    }
    for (int i = int(params); i < p.slotCount; ++i) ptrs[i] = &store[i];
    DepthGuard guard(*this);
    Frame f{this, ptrs, &p, false, self, {}};
    execBlock(p.body, f);
    return p.resultSlot >= 0 ? std::move(store[p.resultSlot]) : Variant();
}

Variant Interp::callProcedureWithValues(const Procedure& p, std::span<Variant> args, ClassInstance* self)
{
    if (args.size() != p.byRef.size()) raiseError(err::WrongArgCount);
    std::vector<Variant> store(size_t(std::max(p.slotCount, 1)));
    std::vector<Variant*> ptrs(store.size());
    for (size_t i = 0; i < store.size(); ++i) ptrs[i] = &store[i];
    for (size_t i = 0; i < args.size(); ++i) store[i] = args[i].isMissing() ? Variant() : args[i];
    DepthGuard guard(*this);
    Frame f{this, ptrs.data(), &p, false, self, {}};
    execBlock(p.body, f);
    return p.resultSlot >= 0 ? std::move(store[size_t(p.resultSlot)]) : Variant();
}

Variant Interp::callBuiltin(const BuiltinInfo& b, std::vector<ExprPtr>& args, Frame& caller)
{
    int n = int(args.size());
    if (n < b.minArgs || (b.maxArgs >= 0 && n > b.maxArgs)) raiseError(err::WrongArgCount);
    ArgValues values(args.size());
    evalArgs(args, caller, values);
    // Omitted arguments at the end are not passed; one a function needs is
    // "Argument not optional".
    size_t given = args.size();
    while (given > 0 && values.span[given - 1].isMissing()) --given;
    for (size_t i = 0; i < given && i < size_t(b.minArgs); ++i)
        if (values.span[i].isMissing()) raiseWithName(449, b.name);
    if (given < size_t(b.minArgs)) raiseWithName(449, b.name);
    builtins.frame = &caller;
    Variant r = b.fn(builtins, values.span.first(given));
    chargeText(r);
    if (b.flags & BuiltinWritesArgs) {
        for (size_t i = 0; i < args.size(); ++i)
            if (Variant* ref = args[i]->varRef(caller)) *ref = std::move(values.span[i]);
    }
    return r;
}

// ---------------------------------------------------------------- blocks

Flow execBlock(const Block& b, Frame& f)
{
    for (const StmtPtr& s : b) {
        f.in->tick();
        try {
            Flow fl = s->exec(f);
            if (fl != Flow::Normal) return fl;
        } catch (ScriptError& e) {
            if (e.fatal || !f.resumeNext) {
                f.in->noteError(*s);
                throw;
            }
            f.in->setErr(e);
        }
    }
    return Flow::Normal;
}

void storeValue(Variant& dst, Variant v, bool isSet)
{
    if (isSet) {
        if (!v.isObject()) raiseError(err::ObjectRequired);
        dst = std::move(v);
        return;
    }
    if (v.isObject()) v = valueOf(v);
    dst = std::move(v);
}

void Expr::assign(Frame&, Variant, bool)
{
    raiseError(err::IllegalAssignment);
}

// ---------------------------------------------------------------- names

void NameExpr::raiseNamed(int number)
{
    raiseWithName(number, name);
}

static std::vector<int32_t> indexesOf(std::vector<ExprPtr>& args, Frame& f)
{
    std::vector<int32_t> idx;
    idx.reserve(args.size());
    for (ExprPtr& a : args) idx.push_back(toLong(a->eval(f)));
    return idx;
}

// An array item or an object's default member with the given arguments.
static Variant indexInto(const Variant& container, std::vector<ExprPtr>& args, Frame& f)
{
    if (container.isArray()) {
        std::vector<int32_t> idx = indexesOf(args, f);
        return container.arr()->at(idx);
    }
    if (container.isObject()) {
        if (!container.obj()) raiseError(err::ObjectNotSet);
        ArgValues values(args.size());
        evalArgs(args, f, values);
        ObjectRef keep = container.obj();
        return keep->get(IScriptObject::DefaultMember, values.span);
    }
    raiseError(err::TypeMismatch);
}

Variant NameExpr::indexValue(Frame& f, const Variant& container)
{
    if (container.isArray()) {
        if (args.empty()) return container;
        std::vector<int32_t> idx = indexesOf(args, f);
        return container.arr()->at(idx);
    }
    if (container.isObject()) {
        if (!container.obj()) raiseError(err::ObjectNotSet);
        ArgValues values(args.size());
        evalArgs(args, f, values);
        ObjectRef keep = container.obj();
        return keep->get(IScriptObject::DefaultMember, values.span);
    }
    if (args.empty()) return container;
    raiseNamed(err::TypeMismatch);
}

Variant NameExpr::evalGlobal(Frame& f)
{
    GlobalEntry* e = entry;
    switch (e->kind) {
    case GlobalEntry::Variable:
    case GlobalEntry::Constant:
    case GlobalEntry::HostObject:
        if (!hasParens) return e->value;
        return indexValue(f, e->value);
    case GlobalEntry::Proc:
        return f.in->callProcedure(*e->proc, args, f);
    case GlobalEntry::Builtin:
        return f.in->callBuiltin(*e->builtin, args, f);
    case GlobalEntry::Undefined:
    default:
        if (hasParens) raiseNamed(err::TypeMismatch);
        if (explicitNames) raiseNamed(err::VariableUndefined);
        return Variant();
    }
}

Variant NameExpr::eval(Frame& f)
{
    switch (bind) {
    case Bind::Local: {
        const Variant& v = *f.vars[slot];
        if (!hasParens) return v;
        return indexValue(f, v);
    }
    case Bind::Const:
        if (hasParens) raiseNamed(err::TypeMismatch);
        return constValue;
    case Bind::Member:
        return f.self->call(slot, args, f);
    case Bind::Dynamic:
        if (entry->kind == GlobalEntry::Undefined) {
            const Variant& v = *f.vars[slot];
            if (!hasParens) return v;
            if (v.isArray() || v.isObject()) return indexValue(f, v);
            raiseNamed(err::TypeMismatch);
        }
        return evalGlobal(f);
    case Bind::Global:
    default:
        return evalGlobal(f);
    }
}

Variant& NameExpr::variable(Frame& f)
{
    switch (bind) {
    case Bind::Local: return *f.vars[slot];
    case Bind::Const: raiseNamed(err::IllegalAssignment);
    case Bind::Member: {
        const ClassMember& m = f.self->def().member(slot);
        if (m.kind != ClassMember::Field) raiseNamed(err::IllegalAssignment);
        return f.self->field(m.field);
    }
    case Bind::Dynamic:
        if (entry->kind == GlobalEntry::Undefined) return *f.vars[slot];
        [[fallthrough]];
    case Bind::Global:
    default:
        switch (entry->kind) {
        case GlobalEntry::Variable: return entry->value;
        case GlobalEntry::Undefined:
            if (explicitNames) raiseNamed(err::VariableUndefined);
            entry->kind = GlobalEntry::Variable;
            entry->value = Variant();
            return entry->value;
        default: raiseNamed(err::IllegalAssignment);
        }
    }
}

Variant* NameExpr::varRef(Frame& f)
{
    if (hasParens) return nullptr;
    if (Variant* v = container(f)) return v;
    // Without Option Explicit a global name comes into being when a
    // reference to it is first taken.
    const bool global = bind != Bind::Local && bind != Bind::Const && bind != Bind::Member && bind != Bind::Dynamic;
    if (global && entry->kind == GlobalEntry::Undefined && !explicitNames) {
        entry->kind = GlobalEntry::Variable;
        return &entry->value;
    }
    return nullptr;
}

// The variable a name with arguments indexes, without creating it;
// nullptr when it names none.
Variant* NameExpr::container(Frame& f)
{
    switch (bind) {
    case Bind::Local: return f.vars[slot];
    case Bind::Const: return nullptr;
    case Bind::Member: {
        const ClassMember& m = f.self->def().member(slot);
        return m.kind == ClassMember::Field ? &f.self->field(m.field) : nullptr;
    }
    case Bind::Dynamic:
        if (entry->kind == GlobalEntry::Undefined) return f.vars[slot];
        [[fallthrough]];
    default:
        return entry->kind == GlobalEntry::Variable ? &entry->value : nullptr;
    }
}

Variant NameExpr::evalObject(Frame& f)
{
    if (!hasParens || args.empty()) return eval(f);
    const bool hostObject = (bind == Bind::Global || bind == Bind::Dynamic) && entry->kind == GlobalEntry::HostObject;
    Variant* c = hostObject ? &entry->value : container(f);
    if (!c || !c->isObject() || !c->obj()) return eval(f);
    ArgValues values(args.size());
    evalArgs(args, f, values);
    ObjectRef keep = c->obj();
    return keep->getObject(IScriptObject::DefaultMember, values.span);
}

Variant* NameExpr::itemRef(Frame& f, std::vector<ArrayRef>& keep)
{
    if (!hasParens) return varRef(f);
    Variant* c = container(f);
    if (!c || !c->isArray()) return nullptr;
    std::vector<int32_t> idx = indexesOf(args, f);
    c = container(f);
    if (!c || !c->isArray()) return nullptr;
    ArrayData& a = c->mutableArr();
    Variant* item = &a.at(idx);
    keep.push_back(c->arr());
    return item;
}

void NameExpr::assign(Frame& f, Variant value, bool isSet)
{
    if (bind == Bind::Member) {
        const ClassMember& m = f.self->def().member(slot);
        if (m.kind == ClassMember::Field && !hasParens) {
            storeValue(f.self->field(m.field), std::move(value), isSet);
            return;
        }
        if (m.kind != ClassMember::Field) {
            ArgValues values(args.size());
            evalArgs(args, f, values);
            if (!isSet && value.isObject()) value = valueOf(value);
            f.self->assignMember(slot, values.span, value, isSet);
            return;
        }
    }
    if (!hasParens) {
        storeValue(variable(f), std::move(value), isSet);
        return;
    }
    // An array item or the default member of an object.
    Variant* container = nullptr;
    if (bind == Bind::Member) {
        container = this->container(f);
    } else if (bind == Bind::Global || (bind == Bind::Dynamic && entry->kind != GlobalEntry::Undefined)) {
        if (entry->kind == GlobalEntry::Variable || entry->kind == GlobalEntry::HostObject) container = &entry->value;
        else if (entry->kind == GlobalEntry::Undefined) raiseNamed(explicitNames ? err::VariableUndefined : err::TypeMismatch);
        else raiseNamed(err::IllegalAssignment);
    } else if (bind == Bind::Const) {
        raiseNamed(err::IllegalAssignment);
    } else {
        container = f.vars[slot];
    }
    if (container->isArray()) {
        std::vector<int32_t> idx = indexesOf(args, f);
        if (!container->isArray()) raiseError(err::TypeMismatch);
        Variant& item = container->mutableArr().at(idx);
        storeValue(item, std::move(value), isSet);
        return;
    }
    if (container->isObject()) {
        if (!container->obj()) raiseError(err::ObjectNotSet);
        ObjectRef keep = container->obj();
        ArgValues values(args.size());
        evalArgs(args, f, values);
        if (!isSet && value.isObject()) value = valueOf(value);
        keep->put(IScriptObject::DefaultMember, values.span, value);
        return;
    }
    raiseNamed(err::TypeMismatch);
}

// ---------------------------------------------------------------- members

IScriptObject& MemberExpr::target(Frame& f, Variant& holder)
{
    holder = object->evalObject(f);
    if (!holder.isObject()) raiseWithName(err::ObjectRequired, name);
    if (!holder.obj()) raiseError(err::ObjectNotSet);
    return *holder.obj();
}

int MemberExpr::memberOf(IScriptObject& o)
{
    const void* cls = o.memberClass();
    if (cls != cachedClass) {
        cachedId = o.memberId(name);
        cachedClass = cls;
    }
    if (cachedId < 0) raiseWithName(err::NoSuchMember, name);
    return cachedId;
}

Variant MemberExpr::eval(Frame& f)
{
    Variant holder;
    IScriptObject& o = target(f, holder);
    int id = memberOf(o);
    if (ClassInstance* ci = o.classInstance()) return ci->call(id, args, f);
    ArgValues values(args.size());
    evalArgs(args, f, values);
    return o.get(id, values.span);
}

void MemberExpr::assign(Frame& f, Variant value, bool isSet)
{
    Variant holder;
    IScriptObject& o = target(f, holder);
    int id = memberOf(o);
    ArgValues values(args.size());
    evalArgs(args, f, values);
    if (isSet && !value.isObject()) raiseError(err::ObjectRequired);
    if (!isSet && value.isObject()) value = valueOf(value);
    if (ClassInstance* ci = o.classInstance()) {
        ci->assignMember(id, values.span, value, isSet);
        return;
    }
    o.put(id, values.span, value);
}

// ---------------------------------------------------------------- index

Variant IndexExpr::eval(Frame& f)
{
    return indexInto(base->eval(f), args, f);
}

Variant* IndexExpr::itemRef(Frame& f, std::vector<ArrayRef>& keep)
{
    Variant* c = base->itemRef(f, keep);
    if (!c || !c->isArray()) return nullptr;
    std::vector<int32_t> idx = indexesOf(args, f);
    if (!c->isArray()) return nullptr;
    ArrayData& a = c->mutableArr();
    Variant* item = &a.at(idx);
    keep.push_back(c->arr());
    return item;
}

// ---------------------------------------------------------------- operators

Variant applyBinary(BinOp op, const Variant& a, const Variant& b, bool aLit, bool bLit)
{
    // An object operand stands for its default value, which then follows
    // the value's own rules (`rs("x") & ""` with a Null field is "").
    if ((a.isObject() || b.isObject()) && op != BinOp::Is)
        return applyBinary(op, valueOf(a), valueOf(b), aLit, bLit);
    switch (op) {
    case BinOp::Add: return opAdd(a, b);
    case BinOp::Sub: return opSub(a, b);
    case BinOp::Mul: return opMul(a, b);
    case BinOp::Div: return opDiv(a, b);
    case BinOp::IntDiv: return opIntDiv(a, b);
    case BinOp::Mod: return opMod(a, b);
    case BinOp::Pow: return opPow(a, b);
    case BinOp::Concat: return opConcat(a, b);
    case BinOp::And: return opAnd(a, b);
    case BinOp::Or: return opOr(a, b);
    case BinOp::Xor: return opXor(a, b);
    case BinOp::Eqv: return opEqv(a, b);
    case BinOp::Imp: return opImp(a, b);
    case BinOp::Is: return Variant::fromBool(opIs(a, b));
    case BinOp::Eq: return opCompare(CompareOp::Eq, a, b, aLit, bLit);
    case BinOp::Ne: return opCompare(CompareOp::Ne, a, b, aLit, bLit);
    case BinOp::Lt: return opCompare(CompareOp::Lt, a, b, aLit, bLit);
    case BinOp::Gt: return opCompare(CompareOp::Gt, a, b, aLit, bLit);
    case BinOp::Le: return opCompare(CompareOp::Le, a, b, aLit, bLit);
    case BinOp::Ge: return opCompare(CompareOp::Ge, a, b, aLit, bLit);
    }
    return Variant();
}

Variant BinaryExpr::eval(Frame& f)
{
    Variant a = lhs->eval(f);
    Variant b = rhs->eval(f);
    if (op >= BinOp::Eq) return applyBinary(op, a, b, lhs->isLiteral(), rhs->isLiteral());
    Variant r = applyBinary(op, a, b, false, false);
    if (op == BinOp::Concat || op == BinOp::Add) f.in->chargeText(r);
    return r;
}

Variant UnaryExpr::eval(Frame& f)
{
    Variant v = operand->eval(f);
    return op == UnOp::Neg ? opNeg(v) : opNot(v);
}

// ---------------------------------------------------------------- statements

Flow AssignStmt::exec(Frame& f)
{
    Variant v = isSet ? value->evalObject(f) : value->eval(f);
    target->assign(f, std::move(v), isSet);
    return Flow::Normal;
}

Flow CallStmt::exec(Frame& f)
{
    call->eval(f);
    if (explicitCall) {
        // The C* conversions are no procedures to Call; the conversion runs
        // first, so its own error comes before this one.
        auto* n = dynamic_cast<NameExpr*>(call.get());
        if (n && (n->bind == NameExpr::Bind::Global || n->bind == NameExpr::Bind::Dynamic) &&
            n->entry->kind == GlobalEntry::Builtin && (n->entry->builtin->flags & BuiltinConversion))
            raiseError(458);
    }
    return Flow::Normal;
}

namespace {

// The condition of a block statement. Under On Error Resume Next an error
// in it goes on with the next statement, the first inside the block:
// nullopt tells the caller so.
std::optional<bool> testCondition(Expr& e, Frame& f)
{
    try {
        return conditionValue(e.eval(f));
    } catch (ScriptError& err) {
        if (err.fatal || !f.resumeNext) throw;
        f.in->setErr(err);
        return std::nullopt;
    }
}

// Evaluates the heading of a loop or Select; false when an error was
// resumed past (the caller then runs its first block once).
template <class Fn> bool resumableHeading(Frame& f, Fn&& fn)
{
    try {
        fn();
        return true;
    } catch (ScriptError& err) {
        if (err.fatal || !f.resumeNext) throw;
        f.in->setErr(err);
        return false;
    }
}

} // namespace

Flow IfStmt::exec(Frame& f)
{
    for (auto& [cond, block] : branches) {
        std::optional<bool> c = testCondition(*cond, f);
        if (!c || *c) return execBlock(block, f);
    }
    return execBlock(elseBlock, f);
}

namespace {

bool integralForType(VarType t)
{
    return t == VarType::Byte || t == VarType::Integer || t == VarType::Long || t == VarType::Boolean ||
           t == VarType::Empty;
}

} // namespace

Flow ForStmt::exec(Frame& f)
{
    Variant vFrom, vTo, vStep;
    if (!resumableHeading(f, [&] {
            vFrom = toNumeric(from->eval(f));
            vTo = toNumeric(to->eval(f));
            vStep = step ? toNumeric(step->eval(f)) : Variant::fromInteger(1);
            if (vFrom.isNull() || vTo.isNull() || vStep.isNull()) raiseError(err::InvalidUseOfNull);
        })) {
        Flow fl = execBlock(body, f);
        return fl == Flow::ExitFor ? Flow::Normal : fl;
    }
    bool integral = integralForType(vFrom.type()) && integralForType(vTo.type()) && integralForType(vStep.type());
    if (integral) {
        bool isLong = vFrom.type() == VarType::Long || vTo.type() == VarType::Long || vStep.type() == VarType::Long;
        int64_t cur = toLong(vFrom), end = toLong(vTo), st = toLong(vStep);
        auto make = [&](int64_t v) {
            if (!isLong && v >= -32768 && v <= 32767) return Variant::fromInteger(int16_t(v));
            if (v >= INT32_MIN && v <= INT32_MAX) return Variant::fromLong(int32_t(v));
            raiseError(err::Overflow);
        };
        storeValue(var->variable(f), make(cur), false);
        while (st >= 0 ? cur <= end : cur >= end) {
            f.in->tick();
            Flow fl = execBlock(body, f);
            if (fl == Flow::ExitFor) return Flow::Normal;
            if (fl != Flow::Normal) return fl;
            // The body may have changed the counter.
            cur = int64_t(toLong(var->variable(f))) + st;
            storeValue(var->variable(f), make(cur), false);
        }
        return Flow::Normal;
    }
    double cur = toDouble(vFrom), end = toDouble(vTo), st = toDouble(vStep);
    storeValue(var->variable(f), Variant::fromDouble(cur), false);
    while (st >= 0 ? cur <= end : cur >= end) {
        f.in->tick();
        Flow fl = execBlock(body, f);
        if (fl == Flow::ExitFor) return Flow::Normal;
        if (fl != Flow::Normal) return fl;
        cur = toDouble(var->variable(f)) + st;
        storeValue(var->variable(f), Variant::fromDouble(cur), false);
    }
    return Flow::Normal;
}

Flow ForEachStmt::exec(Frame& f)
{
    Variant coll;
    std::vector<Variant> objectItems;
    ArrayRef arr;
    const std::vector<Variant>* items = nullptr;
    if (!resumableHeading(f, [&] {
            coll = collection->eval(f);
            if (coll.isArray()) {
                arr = coll.arr();
                items = &arr->items;
            } else if (coll.isObject()) {
                if (!coll.obj()) raiseError(err::ObjectNotSet);
                if (!coll.obj()->items(objectItems)) raiseError(err::NotACollection);
                items = &objectItems;
            } else {
                raiseError(err::NotACollection);
            }
        })) {
        Flow fl = execBlock(body, f);
        return fl == Flow::ExitFor ? Flow::Normal : fl;
    }
    for (const Variant& item : *items) {
        f.in->tick();
        var->variable(f) = item;
        Flow fl = execBlock(body, f);
        if (fl == Flow::ExitFor) return Flow::Normal;
        if (fl != Flow::Normal) return fl;
    }
    // A loop that ran to its end leaves its variable Empty.
    if (!items->empty()) var->variable(f) = Variant();
    return Flow::Normal;
}

Flow DoStmt::exec(Frame& f)
{
    for (;;) {
        if (kind == PreWhile || kind == PreUntil) {
            std::optional<bool> c = testCondition(*cond, f);
            if (c && *c != (kind == PreWhile)) break;
        }
        f.in->tick();
        Flow fl = execBlock(body, f);
        if (fl == Flow::ExitDo) break;
        if (fl != Flow::Normal) return fl;
        if (kind == PostWhile || kind == PostUntil) {
            std::optional<bool> c = testCondition(*cond, f);
            if (!c || *c != (kind == PostWhile)) break;
        }
    }
    return Flow::Normal;
}

Flow SelectStmt::exec(Frame& f)
{
    Variant v;
    if (!resumableHeading(f, [&] { v = test->eval(f); }))
        return execBlock(cases.empty() ? elseBlock : cases.front().second, f);
    bool testLit = test->isLiteral();
    for (auto& [items, block] : cases) {
        for (CaseItem& item : items) {
            bool match = false;
            Variant a = item.a->eval(f);
            switch (item.kind) {
            case CaseItem::Value:
                match = !v.isNull() && !a.isNull() && compareValues(v, a, testLit, item.a->isLiteral()) == 0;
                break;
            case CaseItem::Range: {
                Variant b = item.b->eval(f);
                match = !v.isNull() && !a.isNull() && !b.isNull() &&
                        compareValues(v, a, testLit, item.a->isLiteral()) >= 0 &&
                        compareValues(v, b, testLit, item.b->isLiteral()) <= 0;
                break;
            }
            case CaseItem::Is: {
                Variant r = opCompare(item.op, v, a, testLit, item.a->isLiteral());
                match = r.type() == VarType::Boolean && r.boolVal();
                break;
            }
            }
            if (match) return execBlock(block, f);
        }
    }
    return execBlock(elseBlock, f);
}

Flow OnErrorStmt::exec(Frame& f)
{
    f.resumeNext = resumeNext;
    f.in->clearErr();
    return Flow::Normal;
}

Flow DimStmt::exec(Frame& f)
{
    for (Item& item : items) {
        std::vector<int32_t> bounds;
        for (ExprPtr& b : item.bounds) bounds.push_back(toLong(b->eval(f)));
        Variant& v = item.var->variable(f);
        if (!redim) {
            // Dim a() declares a dynamic array with no items yet.
            ArrayRef a = bounds.empty() ? std::make_shared<ArrayData>() : ArrayData::withBounds(bounds);
            a->fixedSize = !bounds.empty();
            v = Variant::fromArray(std::move(a));
            continue;
        }
        // A fixed array cannot be resized: ReDim refuses to drop it, and
        // ReDim Preserve cannot resize it in place.
        if (v.isArray() && v.arr()->fixedSize && preserve) raiseError(err::InvalidCall);
        if (v.isArray() && (v.arr()->fixedSize || v.arr()->locks)) raiseError(err::ArrayFixed);
        ArrayRef fresh = ArrayData::withBounds(bounds);
        if (preserve && v.isArray() && v.arr()->dims() > 0) {
            const ArrayData& old = *v.arr();
            if (old.dims() != int(bounds.size())) raiseError(err::SubscriptOutOfRange);
            for (int d = 0; d + 1 < old.dims(); ++d)
                if (old.extents[size_t(d)] != fresh->extents[size_t(d)]) raiseError(err::SubscriptOutOfRange);
            // Items are stored with the last dimension varying slowest, so
            // the kept items are a prefix of both arrays.
            size_t keep = std::min(old.items.size(), fresh->items.size());
            for (size_t i = 0; i < keep; ++i) fresh->items[i] = old.items[i];
        }
        v = Variant::fromArray(std::move(fresh));
    }
    return Flow::Normal;
}

Flow WithStmt::exec(Frame& f)
{
    f.with.push_back(object->evalObject(f));
    struct Pop {
        Frame& f;
        ~Pop() { f.with.pop_back(); }
    } pop{f};
    return execBlock(body, f);
}

Variant MeExpr::eval(Frame& f)
{
    if (!f.self) raiseError(err::ObjectRequired);
    return Variant::fromObject(f.self->self());
}

Variant NewExpr::eval(Frame& f)
{
    if (entry->kind == GlobalEntry::Class) return Variant::fromObject(ClassInstance::create(*f.in, *entry->cls, entry->owner));
    if (name.compare(QLatin1String("RegExp"), Qt::CaseInsensitive) == 0) return Variant::fromObject(makeRegExp());
    raiseWithName(506, name);
}

// ---------------------------------------------------------------- classes

ClassInstance::ClassInstance(Interp& in, const ClassDef& def, std::shared_ptr<const CodeBlock> owner)
    : in_(in), def_(def), owner_(std::move(owner)), life_(in.life)
{
    fields_.resize(def.fieldBounds.size());
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (!def.fieldIsArray[i]) continue;
        const std::vector<int32_t>& b = def.fieldBounds[i];
        ArrayRef a = b.empty() ? std::make_shared<ArrayData>() : ArrayData::withBounds(b);
        a->fixedSize = !b.empty();
        fields_[i] = Variant::fromArray(std::move(a));
    }
}

ObjectRef ClassInstance::create(Interp& in, const ClassDef& def, std::shared_ptr<const CodeBlock> owner)
{
    std::shared_ptr<ClassInstance> obj(new ClassInstance(in, def, std::move(owner)), &ClassInstance::release);
    obj->weakSelf_ = obj;
    if (def.initialize) {
        try {
            in.callProcedureWithValues(*def.initialize, {}, obj.get());
        } catch (...) {
            obj->terminated_ = true;
            throw;
        }
    }
    return obj;
}

// The last reference went: Class_Terminate runs on the object (which may
// hand itself out again), then it is deleted.
void ClassInstance::release(ClassInstance* p)
{
    if (p->def_.terminate && !p->terminated_ && !p->life_.expired() && !p->in_.shuttingDown) {
        p->terminated_ = true;
        std::shared_ptr<ClassInstance> again(p, &ClassInstance::release);
        p->weakSelf_ = again;
        Interp& in = p->in_;
        // The error state of the code that dropped the object stays as it was.
        const int number = in.errNumber;
        const QString description = in.errDescription, source = in.errSource, helpFile = in.errHelpFile;
        const int32_t helpContext = in.errHelpContext;
        const bool located = in.errLocated;
        const int line = in.errLine, column = in.errColumn;
        const CodeUnit* unit = in.errUnit;
        try {
            in.callProcedureWithValues(*p->def_.terminate, {}, p);
        } catch (...) {
            // Errors in Class_Terminate are not reported anywhere.
        }
        in.errNumber = number;
        in.errDescription = description;
        in.errSource = source;
        in.errHelpFile = helpFile;
        in.errHelpContext = helpContext;
        in.errLocated = located;
        in.errLine = line;
        in.errColumn = column;
        in.errUnit = unit;
        return;
    }
    delete p;
}

int ClassInstance::memberId(const QString& name)
{
    int id = def_.ids.value(name.toLower(), UnknownMember);
    if (id > 0 && !def_.member(id).isPublic) return UnknownMember;
    return id;
}

const ClassMember& ClassInstance::resolve(int id) const
{
    // An object a host kept past its interpreter has no code left to run.
    if (life_.expired() || in_.shuttingDown) raiseError(err::NoSuchMember);
    if (id == DefaultMember) id = def_.defaultMember;
    if (id <= 0 || size_t(id) > def_.members.size()) raiseError(err::NoSuchMember);
    return def_.member(id);
}

Variant ClassInstance::call(int id, std::vector<ExprPtr>& args, Frame& caller)
{
    ObjectRef keep = self();
    const ClassMember& m = resolve(id);
    switch (m.kind) {
    case ClassMember::Field:
        if (args.empty()) return fields_[size_t(m.field)];
        return indexInto(Variant(fields_[size_t(m.field)]), args, caller);
    case ClassMember::Method:
        return in_.callProcedure(*m.method, args, caller, this);
    case ClassMember::Property:
    default:
        if (!m.get) raiseError(err::WrongArgCount);
        return in_.callProcedure(*m.get, args, caller, this);
    }
}

Variant ClassInstance::get(int id, std::span<Variant> args)
{
    ObjectRef keep = self();
    const ClassMember& m = resolve(id);
    switch (m.kind) {
    case ClassMember::Field: {
        const Variant& v = fields_[size_t(m.field)];
        if (args.empty()) return v;
        if (v.isArray()) {
            std::vector<int32_t> idx;
            for (const Variant& a : args) idx.push_back(toLong(a));
            return v.arr()->at(idx);
        }
        if (v.isObject()) {
            if (!v.obj()) raiseError(err::ObjectNotSet);
            ObjectRef o = v.obj();
            return o->get(DefaultMember, args);
        }
        raiseError(err::TypeMismatch);
    }
    case ClassMember::Method:
        return in_.callProcedureWithValues(*m.method, args, this);
    case ClassMember::Property:
    default:
        if (!m.get) raiseError(err::WrongArgCount);
        return in_.callProcedureWithValues(*m.get, args, this);
    }
}

void ClassInstance::put(int id, std::span<Variant> args, const Variant& value)
{
    assignMember(id, args, value, value.isObject());
}

void ClassInstance::assignMember(int id, std::span<Variant> args, const Variant& value, bool isSet)
{
    ObjectRef keep = self();
    const ClassMember& m = resolve(id);
    switch (m.kind) {
    case ClassMember::Field: {
        Variant& v = fields_[size_t(m.field)];
        if (args.empty()) {
            storeValue(v, value, isSet);
            return;
        }
        if (v.isArray()) {
            std::vector<int32_t> idx;
            for (const Variant& a : args) idx.push_back(toLong(a));
            storeValue(v.mutableArr().at(idx), value, isSet);
            return;
        }
        if (v.isObject()) {
            if (!v.obj()) raiseError(err::ObjectNotSet);
            ObjectRef o = v.obj();
            o->put(DefaultMember, args, value);
            return;
        }
        raiseError(err::TypeMismatch);
    }
    case ClassMember::Property: {
        const Procedure* p = isSet ? m.set : m.let;
        if (!p) raiseError(isSet ? err::ObjectRequired : err::WrongArgCount);
        std::vector<Variant> values(args.begin(), args.end());
        values.push_back(value);
        in_.callProcedureWithValues(*p, values, this);
        return;
    }
    case ClassMember::Method:
    default:
        raiseError(err::WrongArgCount);
    }
}

} // namespace vbs::rt
