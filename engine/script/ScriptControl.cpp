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
    // Object names already checked: hosts add the same names before every use.
    QHash<QString, bool> names;
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

bool ScriptControl::AddObject(const QString& Name, ObjectRef Object)
{
    error_.Clear();
    auto known = caches_->names.constFind(Name);
    bool nameOk;
    if (known != caches_->names.cend()) {
        nameOk = *known;
    } else {
        nameOk = validName(Name);
        if (caches_->names.size() < kMaxCachedTexts)
            caches_->names.insert(Name, nameOk);
    }
    if (!nameOk || !Object) {
        error_.Number = err::InvalidCall;
        error_.Description = errorDescription(err::InvalidCall);
        error_.Source = QStringLiteral("ScriptControl");
        return false;
    }
    GlobalEntry* e = in_->entry(Name);
    if (e->kind == GlobalEntry::HostObject) {
        error_.Number = 457;
        error_.Description = errorDescription(457);
        error_.Source = QStringLiteral("ScriptControl");
        return false;
    }
    e->kind = GlobalEntry::HostObject;
    e->value = Variant::fromObject(std::move(Object));
    e->proc = nullptr;
    e->owner.reset();
    return true;
}

bool ScriptControl::AddCode(const QString& Code)
{
    begin();
    std::shared_ptr<CodeBlock> block;
    try {
        auto it = caches_->code.constFind(Code);
        if (it != caches_->code.cend()) {
            block = *it;
        } else {
            ++compiles_;
            try {
                block = compileCode(*in_, Code);
            } catch (const ParseError& pe) {
                error_ = compileError(pe, Code);
                return false;
            }
            if (caches_->code.size() >= kMaxCachedTexts) caches_->code.clear();
            caches_->code.insert(Code, block);
        }
        in_->install(block);
        Frame f{in_.get(), nullptr, nullptr, false, nullptr, {}};
        execBlock(block->body, f);
        return true;
    } catch (...) {
        failRuntime(caughtError(), QString());
    }
    return false;
}

Variant ScriptControl::Eval(const QString& Expression)
{
    begin();
    try {
        std::shared_ptr<CompiledExpr> ce;
        auto it = caches_->exprs.constFind(Expression);
        if (it != caches_->exprs.cend()) {
            ce = *it;
        } else {
            ++compiles_;
            try {
                ce = compileExpression(*in_, Expression);
            } catch (const ParseError& pe) {
                error_ = compileError(pe, Expression);
                return Variant();
            }
            if (caches_->exprs.size() >= kMaxCachedTexts) caches_->exprs.clear();
            caches_->exprs.insert(Expression, ce);
        }
        Frame f{in_.get(), nullptr, nullptr, false, nullptr, {}};
        return ce->expr->eval(f);
    } catch (...) {
        failRuntime(caughtError(), Expression);
    }
    return Variant();
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
