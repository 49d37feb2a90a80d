// The built-in functions that reach into the running script: Eval,
// Execute and ExecuteGlobal compile text at run time, GetRef hands out a
// procedure as an object.

#include "script/Nodes.h"

namespace vbs::rt {

namespace {

constexpr qsizetype kMaxCached = 1024;

Interp& interp(BuiltinContext& c) { return *static_cast<Interp*>(c.host); }
Frame& frame(BuiltinContext& c) { return *static_cast<Frame*>(c.frame); }

// Texts are compiled for the procedure they run in (its variables bind to
// its frame); the caches are emptied whenever procedures are replaced.
QString cacheKey(const Procedure* context, const QString& text)
{
    return QString::number(quintptr(context), 16) + u':' + text;
}

Variant fnEval(BuiltinContext& c, std::span<Variant> args)
{
    Interp& in = interp(c);
    Frame& f = frame(c);
    const QString text = toStr(valueOf(args[0]));
    const QString key = cacheKey(f.proc, text);
    std::shared_ptr<CompiledExpr> ce = in.evalCache.value(key);
    if (!ce) {
        try {
            ce = compileExpression(in, text, f.proc);
        } catch (const ParseError& pe) {
            raiseError(pe.number);
        }
        if (in.evalCache.size() >= kMaxCached) in.evalCache.clear();
        in.evalCache.insert(key, ce);
    }
    return ce->expr->eval(f);
}

std::shared_ptr<CodeBlock> compiledCode(Interp& in, const Procedure* context, const QString& text)
{
    const QString key = cacheKey(context, text);
    std::shared_ptr<CodeBlock> block = in.executeCache.value(key);
    if (block) return block;
    try {
        block = compileCode(in, text, context);
    } catch (const ParseError& pe) {
        raiseError(pe.number);
    }
    if (in.executeCache.size() >= kMaxCached) in.executeCache.clear();
    in.executeCache.insert(key, block);
    return block;
}

// Execute: the statements run in the calling procedure, seeing its variables.
Variant fnExecute(BuiltinContext& c, std::span<Variant> args)
{
    Interp& in = interp(c);
    Frame& f = frame(c);
    std::shared_ptr<CodeBlock> block = compiledCode(in, f.proc, toStr(valueOf(args[0])));
    in.install(block);
    execBlock(block->body, f);
    return Variant();
}

Variant fnExecuteGlobal(BuiltinContext& c, std::span<Variant> args)
{
    Interp& in = interp(c);
    std::shared_ptr<CodeBlock> block = compiledCode(in, nullptr, toStr(valueOf(args[0])));
    in.install(block);
    Frame global{&in, nullptr, nullptr, false, nullptr, {}};
    execBlock(block->body, global);
    return Variant();
}

// A procedure as an object: calling its default member calls the procedure.
class ProcRef : public IScriptObject {
public:
    ProcRef(Interp& in, const Procedure& proc, std::shared_ptr<const CodeBlock> owner)
        : in_(in), proc_(proc), owner_(std::move(owner)), life_(in.life)
    {
    }
    Variant get(int id, std::span<Variant> args) override
    {
        if (id != DefaultMember || life_.expired()) raiseError(err::NoSuchMember);
        return in_.callProcedureWithValues(proc_, args);
    }

private:
    Interp& in_;
    const Procedure& proc_;
    std::shared_ptr<const CodeBlock> owner_;
    std::weak_ptr<int> life_;
};

Variant fnGetRef(BuiltinContext& c, std::span<Variant> args)
{
    Interp& in = interp(c);
    GlobalEntry* e = in.findEntry(toStr(valueOf(args[0])));
    if (!e || e->kind != GlobalEntry::Proc) raiseError(err::InvalidCall);
    return Variant::fromObject(std::make_shared<ProcRef>(in, *e->proc, e->owner));
}

} // namespace

} // namespace vbs::rt

namespace vbs {

void registerInterpreterFunctions(Registry& registry)
{
    registry.addFunction("Eval", 1, 1, rt::fnEval);
    registry.addFunction("Execute", 1, 1, rt::fnExecute);
    registry.addFunction("ExecuteGlobal", 1, 1, rt::fnExecuteGlobal);
    registry.addFunction("GetRef", 1, 1, rt::fnGetRef);
}

} // namespace vbs
