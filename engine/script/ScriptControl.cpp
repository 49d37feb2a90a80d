#include "script/ScriptControl.h"

#include "script/Lexer.h"
#include "script/Nodes.h"

#include <QHash>
#include <new>

namespace vbs {

using namespace rt;

struct ScriptControl::Caches {
    QHash<QString, std::shared_ptr<CodeBlock>> code;
    QHash<QString, std::shared_ptr<CompiledExpr>> exprs;
    // Object names already checked, with their global entries (null for a
    // name that cannot name an object): hosts add the same names before
    // every use.
    QHash<QString, GlobalEntry*> names;
};

// Caches are bounded so that generated texts cannot grow them for ever;
// installed code stays alive through its entries when a cache is dropped.
static constexpr qsizetype kMaxCachedTexts = 4096;

namespace {

// The error a text that does not compile ends with, showing its failing line.
ScriptErrorInfo compileError(const ParseError& pe, const QString& text)
{
    ScriptErrorInfo error;
    error.Number = pe.number;
    error.Description = errorDescription(pe.number);
    error.Source = QStringLiteral("VBScript compilation error");
    error.Line = pe.line;
    error.Column = pe.column;
    std::vector<QString> lines = splitLines(text);
    if (pe.line >= 1 && size_t(pe.line) <= lines.size()) error.Text = lines[size_t(pe.line) - 1];
    return error;
}

// Called inside a catch-all handler: the script error the caught exception
// stands for (out of memory and other library failures get their own
// numbers). Any other exception goes on up.
ScriptError caughtError()
{
    try {
        throw;
    } catch (const ScriptError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return ScriptError{7, errorDescription(7), QString(), true, {}, 0};
    } catch (const std::exception&) {
        return ScriptError{51, errorDescription(51), QString(), true, {}, 0};
    }
}

} // namespace

ScriptControl::ScriptControl() : in_(std::make_unique<Interp>()), caches_(std::make_unique<Caches>()) {}

ScriptControl::~ScriptControl() = default;

void ScriptControl::setInstructionLimit(uint64_t limit) { in_->stepLimit = limit; }
uint64_t ScriptControl::instructionLimit() const { return in_->stepLimit; }

void ScriptControl::begin()
{
    error_.Clear();
    in_->resetBudget();
    in_->depth = 0;
    in_->errLocated = false;
}

void ScriptControl::failRuntime(const ScriptError& e, const QString& fallbackText)
{
    error_.Number = e.number;
    error_.Description = e.description;
    error_.Source = e.source.isEmpty() ? QStringLiteral("VBScript runtime error") : e.source;
    if (in_->errLocated && in_->errUnit) {
        error_.Line = in_->errLine;
        error_.Text = in_->errUnit->lineText(in_->errLine);
    } else {
        error_.Line = 1;
        error_.Text = fallbackText;
    }
    error_.Column = 0;
    in_->errLocated = false;
}

void ScriptControl::Reset()
{
    error_.Clear();
    in_->resetGlobals();
}

static bool validName(const QString& name)
{
    if (name.isEmpty() || !name[0].isLetter()) return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() || c == u'_')) return false;
    std::vector<Token> toks;
    LexError le;
    // Reserved words cannot name objects.
    if (!tokenize(name, toks, le) || toks.empty() || toks[0].kw != Kw::None) return false;
    return true;
}

// The entry of a valid object name, null for an invalid one.
GlobalEntry* ScriptControl::objectEntry(const QString& name)
{
    auto known = caches_->names.constFind(name);
    if (known != caches_->names.cend()) return *known;
    GlobalEntry* e = validName(name) ? in_->entry(name) : nullptr;
    if (caches_->names.size() < kMaxCachedTexts)
        caches_->names.insert(name, e);
    return e;
}

bool ScriptControl::bindObject(GlobalEntry* e, const ObjectRef& object)
{
    if (!e || !object) {
        error_.Number = err::InvalidCall;
        error_.Description = errorDescription(err::InvalidCall);
        error_.Source = QStringLiteral("ScriptControl");
        return false;
    }
    if (e->kind == GlobalEntry::HostObject) {
        error_.Number = 457;
        error_.Description = errorDescription(457);
        error_.Source = QStringLiteral("ScriptControl");
        return false;
    }
    e->kind = GlobalEntry::HostObject;
    e->value = Variant::fromObject(object);
    e->proc = nullptr;
    e->owner.reset();
    return true;
}

bool ScriptControl::AddObject(const QString& Name, ObjectRef Object)
{
    error_.Clear();
    return bindObject(objectEntry(Name), Object);
}

bool ScriptControl::PrepareName(const QString& Name, PreparedName& out)
{
    error_.Clear();
    out.entry_ = objectEntry(Name);
    return out.entry_ != nullptr;
}

bool ScriptControl::AddObject(const PreparedName& Name, const ObjectRef& Object)
{
    error_.Clear();
    return bindObject(Name.entry_, Object);
}

namespace {

// The entry of text in cache, or compile(text) kept there; a full cache is
// emptied first. compile throws ParseError, and nothing is kept then.
template <typename Cache, typename Compile>
auto cachedCompile(Cache& cache, const QString& text, uint64_t& compiles, Compile compile)
{
    auto it = cache.constFind(text);
    if (it != cache.cend()) return *it;
    ++compiles;
    auto compiled = compile();
    if (cache.size() >= kMaxCachedTexts) cache.clear();
    cache.insert(text, compiled);
    return compiled;
}

} // namespace

// The compiled code of a text, from the cache or compiled now; throws
// ParseError.
std::shared_ptr<CodeBlock> ScriptControl::compiledCode(const QString& code)
{
    return cachedCompile(caches_->code, code, compiles_, [&] { return compileCode(*in_, code); });
}

std::shared_ptr<CompiledExpr> ScriptControl::compiledExpr(const QString& expression)
{
    return cachedCompile(caches_->exprs, expression, compiles_, [&] { return compileExpression(*in_, expression); });
}

// Defines the block's names and runs its statements; begin() was called.
bool ScriptControl::install(const std::shared_ptr<CodeBlock>& block)
{
    try {
        in_->install(block);
        Frame f{in_.get(), nullptr, nullptr, false, nullptr, {}};
        execBlock(block->body, f);
        return true;
    } catch (...) {
        failRuntime(caughtError(), QString());
    }
    return false;
}

Variant ScriptControl::evaluate(const CompiledExpr& ce, const QString& text)
{
    try {
        Frame f{in_.get(), nullptr, nullptr, false, nullptr, {}};
        return ce.expr->eval(f);
    } catch (...) {
        failRuntime(caughtError(), text);
    }
    return Variant();
}

bool ScriptControl::AddCode(const QString& Code)
{
    begin();
    std::shared_ptr<CodeBlock> block;
    try {
        try {
            block = compiledCode(Code);
        } catch (const ParseError& pe) {
            error_ = compileError(pe, Code);
            return false;
        }
    } catch (...) {
        failRuntime(caughtError(), QString());
        return false;
    }
    return install(block);
}

Variant ScriptControl::Eval(const QString& Expression)
{
    begin();
    std::shared_ptr<CompiledExpr> ce;
    try {
        try {
            ce = compiledExpr(Expression);
        } catch (const ParseError& pe) {
            error_ = compileError(pe, Expression);
            return Variant();
        }
    } catch (...) {
        failRuntime(caughtError(), Expression);
        return Variant();
    }
    return evaluate(*ce, Expression);
}

bool ScriptControl::Prepare(const QString& Code, PreparedCode& out)
{
    begin();
    try {
        try {
            out.block_ = compiledCode(Code);
            return true;
        } catch (const ParseError& pe) {
            error_ = compileError(pe, Code);
        }
    } catch (...) {
        failRuntime(caughtError(), QString());
    }
    out.block_.reset();
    return false;
}

bool ScriptControl::PrepareExpression(const QString& Expression, PreparedExpr& out)
{
    begin();
    try {
        try {
            out.expr_ = compiledExpr(Expression);
            out.text_ = Expression;
            return true;
        } catch (const ParseError& pe) {
            error_ = compileError(pe, Expression);
        }
    } catch (...) {
        failRuntime(caughtError(), Expression);
    }
    out.expr_.reset();
    return false;
}

bool ScriptControl::AddCode(const PreparedCode& Code)
{
    begin();
    if (!Code.block_) {
        error_.Number = err::InvalidCall;
        error_.Description = errorDescription(err::InvalidCall);
        error_.Source = QStringLiteral("ScriptControl");
        return false;
    }
    return install(Code.block_);
}

Variant ScriptControl::Eval(const PreparedExpr& Expression)
{
    begin();
    if (!Expression.expr_) {
        error_.Number = err::InvalidCall;
        error_.Description = errorDescription(err::InvalidCall);
        error_.Source = QStringLiteral("ScriptControl");
        return Variant();
    }
    return evaluate(*Expression.expr_, Expression.text_);
}

Variant ScriptControl::Run(const QString& ProcedureName, std::span<const Variant> Args)
{
    begin();
    try {
        GlobalEntry* e = in_->findEntry(ProcedureName);
        if (!e || e->kind != GlobalEntry::Proc) {
            raiseError(35, errorDescription(35) + QStringLiteral(": '") + ProcedureName + u'\'');
        }
        std::vector<Variant> args(Args.begin(), Args.end());
        return in_->callProcedureWithValues(*e->proc, args);
    } catch (...) {
        failRuntime(caughtError(), QString());
    }
    return Variant();
}

} // namespace vbs
