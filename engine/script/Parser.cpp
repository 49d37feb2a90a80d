// Parser of the script language: tokens to the resolved tree of Nodes.h.
// Names are bound once, when their procedure (or the code's global level)
// has been read, so that declarations later in a procedure still count.

#include "script/Lexer.h"
#include "script/Nodes.h"

#include <QSet>

#include <utility>

namespace vbs::rt {

namespace {

struct Scope {
    QString procKey;
    bool isFunction = false;
    int resultSlot = -1;
    QHash<QString, int> vars;
    QHash<QString, Variant> consts;
    QHash<QString, int> implicitVars;
    QSet<QString> redimNames;      // undeclared names that ReDim declares
    int nextSlot = 0;
    bool isProperty = false;
    const ClassDef* cls = nullptr; // a class's procedure: its members are names too
    // Execute or Eval inside a running procedure: its variables are seen,
    // names it does not know are global (its frame has no further slots).
    bool borrowed = false;
};

// A class procedure, resolved when the whole class has been read.
struct DeferredProc {
    std::unique_ptr<Scope> scope;
    std::vector<NameExpr*> pending;
    Procedure* proc = nullptr;
};

// Where the last argument list of a name chain starts, so that a call
// statement `Foo (a) + 1, b` can read the parenthesis as part of its first
// argument instead.
struct ChainInfo {
    size_t parenPos = 0;
    size_t pendingMark = 0;
    std::vector<ExprPtr>* args = nullptr;
    bool* hasParens = nullptr;
};

class Parser {
public:
    Parser(Interp& in, std::vector<Token> tokens, const CodeUnit* unit, const Procedure* context)
        : in_(in), t_(std::move(tokens)), unit_(unit)
    {
        if (context) {
            borrowed_ = std::make_unique<Scope>();
            borrowed_->procKey = context->name.toLower();
            borrowed_->isFunction = context->isFunction;
            borrowed_->resultSlot = context->resultSlot;
            borrowed_->vars = context->localNames;
            borrowed_->consts = context->localConsts;
            borrowed_->cls = context->cls;
            borrowed_->borrowed = true;
            scope_ = borrowed_.get();
        }
    }

    void program(CodeBlock& block)
    {
        block_ = &block;
        skipSeparators();
        firstStatement_ = p_;
        for (;;) {
            skipSeparators();
            if (cur().kind == Tok::End) break;
            if (isKw(Kw::Option)) {
                // Option Explicit must come before any other statement.
                if (p_ != firstStatement_) fail(1042);
                ++p_;
                if (!isWord("explicit")) fail(1002);
                ++p_;
                explicit_ = true;
            } else if (isKw(Kw::Function) || isKw(Kw::Sub) || isPropertyAt(0) ||
                       ((isKw(Kw::Public) || isKw(Kw::Private)) && peekIsProcedure())) {
                parseProcedure();
            } else if (isKw(Kw::Class)) {
                parseClass();
            } else {
                if (StmtPtr s = parseStatement()) block.body.push_back(std::move(s));
            }
            if (!atStatementEnd()) fail(err::ExpectedEndOfStatement);
        }
        resolvePending(scope_);
    }

    ExprPtr standaloneExpression()
    {
        skipSeparators();
        ExprPtr e = parseExpr();
        skipSeparators();
        if (cur().kind != Tok::End) fail(err::ExpectedEndOfStatement);
        resolvePending(scope_);
        return e;
    }

private:
    Interp& in_;
    std::vector<Token> t_;
    size_t p_ = 0;
    const CodeUnit* unit_;
    CodeBlock* block_ = nullptr;
    bool explicit_ = false;
    Scope* scope_ = nullptr;
    std::unique_ptr<Scope> borrowed_;
    int withDepth_ = 0;
    QHash<QString, Variant> globalConsts_;
    std::vector<NameExpr*> pending_;
    std::vector<Kw> loops_;
    int singleLineIf_ = 0;
    size_t firstStatement_ = 0;

    // Nesting of expressions and statements is bounded: the parser and the
    // evaluation recurse on it, and a hostile text must not exhaust the stack.
    static constexpr int kMaxNesting = 256;
    int nesting_ = 0;
    // Likewise the operators of one statement, which bound the depth of its
    // expression trees (a + b + c ... nests to the left).
    static constexpr int kMaxOperators = 4096;
    int operators_ = 0;
    struct NestGuard {
        Parser& p;
        explicit NestGuard(Parser& parser) : p(parser)
        {
            if (++p.nesting_ > kMaxNesting) {
                --p.nesting_;
                p.fail(err::OutOfStack);
            }
        }
        ~NestGuard() { --p.nesting_; }
        NestGuard(const NestGuard&) = delete;
        NestGuard& operator=(const NestGuard&) = delete;
    };

    // ------------------------------------------------------------ tokens

    const Token& cur() const { return t_[p_]; }
    const Token& peek(size_t k = 1) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
    bool isKw(Kw k) const { return cur().kind == Tok::Ident && cur().kw == k; }
    bool isIdentifier() const { return cur().kind == Tok::Ident && cur().kw == Kw::None; }
    bool isWord(const char* w) const
    {
        return isIdentifier() && cur().text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
    }
    // `Property` starts a property procedure only before Get, Let or Set;
    // anywhere else it is a name.
    bool isPropertyAt(size_t k) const
    {
        const Token& n = peek(k);
        const Token& next = peek(k + 1);
        return n.kind == Tok::Ident && n.kw == Kw::None &&
               n.text.compare(QLatin1String("property"), Qt::CaseInsensitive) == 0 && next.kind == Tok::Ident &&
               (next.kw == Kw::Let || next.kw == Kw::Set ||
                (next.kw == Kw::None && next.text.compare(QLatin1String("get"), Qt::CaseInsensitive) == 0));
    }
    bool peekIsProcedure() const
    {
        const Token& n = peek();
        return (n.kind == Tok::Ident && (n.kw == Kw::Function || n.kw == Kw::Sub)) || isPropertyAt(1);
    }
    [[noreturn]] void fail(int number) const { throw ParseError{number, cur().line, cur().column}; }
    void expectKw(Kw k, int number)
    {
        if (!isKw(k)) fail(number);
        ++p_;
    }
    void expect(Tok k, int number)
    {
        if (cur().kind != k) fail(number);
        ++p_;
    }
    void skipSeparators()
    {
        while (cur().kind == Tok::NewLine || cur().kind == Tok::Colon) ++p_;
    }
    bool atStatementEnd() const
    {
        Tok k = cur().kind;
        // `x = 1 End Sub` ends the statement at the End of its block.
        return k == Tok::NewLine || k == Tok::Colon || k == Tok::End || isKw(Kw::End) ||
               (singleLineIf_ > 0 && isKw(Kw::Else));
    }
    template <class T, class... A> std::unique_ptr<T> make(const Token& at, A&&... a)
    {
        auto n = std::make_unique<T>(std::forward<A>(a)...);
        n->line = at.line;
        n->column = at.column;
        n->unit = unit_;
        return n;
    }
    QString identifier()
    {
        if (!isIdentifier()) fail(1010);
        return t_[p_++].text;
    }

    // ------------------------------------------------------------ names

    void resolvePending(Scope* sc)
    {
        for (NameExpr* n : pending_) resolve(n, sc);
        pending_.clear();
    }

    void resolve(NameExpr* n, Scope* sc)
    {
        QString key = n->name.toLower();
        if (sc) {
            if (auto it = sc->consts.constFind(key); it != sc->consts.cend()) {
                n->bind = NameExpr::Bind::Const;
                n->constValue = *it;
                return;
            }
            if (key == sc->procKey) {
                if (sc->isFunction && !n->hasParens) {
                    n->bind = NameExpr::Bind::Local;
                    n->slot = sc->resultSlot;
                    return;
                }
                if (!sc->cls) {
                    n->bind = NameExpr::Bind::Global;
                    n->entry = in_.entry(n->name);
                    return;
                }
            }
            if (auto it = sc->vars.constFind(key); it != sc->vars.cend()) {
                n->bind = NameExpr::Bind::Local;
                n->slot = *it;
                return;
            }
            if (sc->cls) {
                if (int id = sc->cls->ids.value(key, 0)) {
                    n->bind = NameExpr::Bind::Member;
                    n->slot = id;
                    return;
                }
            }
        }
        if (auto it = globalConsts_.constFind(key); it != globalConsts_.cend()) {
            n->bind = NameExpr::Bind::Const;
            n->constValue = *it;
            return;
        }
        n->entry = in_.entry(n->name);
        if (sc && !sc->borrowed && (!explicit_ || sc->redimNames.contains(key))) {
            // Undeclared in a procedure: the global of that name when one
            // exists at run time, else a variable of the procedure.
            auto it = sc->implicitVars.constFind(key);
            int slot = it != sc->implicitVars.cend() ? *it : sc->nextSlot++;
            sc->implicitVars.insert(key, slot);
            n->bind = NameExpr::Bind::Dynamic;
            n->slot = slot;
            return;
        }
        n->bind = NameExpr::Bind::Global;
    }

    std::optional<Variant> knownConst(const QString& name) const
    {
        QString key = name.toLower();
        if (scope_) {
            if (auto it = scope_->consts.constFind(key); it != scope_->consts.cend()) return *it;
            if (scope_->vars.contains(key) || key == scope_->procKey) return std::nullopt;
        }
        if (auto it = globalConsts_.constFind(key); it != globalConsts_.cend()) return *it;
        return std::nullopt;
    }

    // ------------------------------------------------------------ expressions

    ExprPtr parseExpr()
    {
        NestGuard nest(*this);
        return parseLevel(0);
    }

    std::optional<BinOp> matchOp(int level) const
    {
        const Token& t = cur();
        switch (level) {
        case 0: if (isKw(Kw::Imp)) return BinOp::Imp; break;
        case 1: if (isKw(Kw::Eqv)) return BinOp::Eqv; break;
        case 2: if (isKw(Kw::Xor)) return BinOp::Xor; break;
        case 3: if (isKw(Kw::Or)) return BinOp::Or; break;
        case 4: if (isKw(Kw::And)) return BinOp::And; break;
        case 6:
            switch (t.kind) {
            case Tok::Eq: return BinOp::Eq;
            case Tok::Ne: return BinOp::Ne;
            case Tok::Lt: return BinOp::Lt;
            case Tok::Gt: return BinOp::Gt;
            case Tok::Le: return BinOp::Le;
            case Tok::Ge: return BinOp::Ge;
            default: if (isKw(Kw::Is)) return BinOp::Is;
            }
            break;
        case 7: if (t.kind == Tok::Amp) return BinOp::Concat; break;
        case 8:
            if (t.kind == Tok::Plus) return BinOp::Add;
            if (t.kind == Tok::Minus) return BinOp::Sub;
            break;
        case 9: if (isKw(Kw::Mod)) return BinOp::Mod; break;
        case 10: if (t.kind == Tok::Backslash) return BinOp::IntDiv; break;
        case 11:
            if (t.kind == Tok::Star) return BinOp::Mul;
            if (t.kind == Tok::Slash) return BinOp::Div;
            break;
        default: break;
        }
        return std::nullopt;
    }

    // Operations on literals are done once, here.
    ExprPtr foldBinary(const Token& at, BinOp op, ExprPtr l, ExprPtr r)
    {
        auto* a = dynamic_cast<LiteralExpr*>(l.get());
        auto* b = dynamic_cast<LiteralExpr*>(r.get());
        if (a && b && op != BinOp::Is) {
            try {
                return make<LiteralExpr>(at, applyBinary(op, a->value, b->value, true, true));
            } catch (const ScriptError&) {
                // Left for run time, where it raises in its statement.
            }
        }
        return make<BinaryExpr>(at, op, std::move(l), std::move(r));
    }

    ExprPtr foldUnary(const Token& at, UnOp op, ExprPtr e)
    {
        if (auto* a = dynamic_cast<LiteralExpr*>(e.get())) {
            try {
                return make<LiteralExpr>(at, op == UnOp::Neg ? opNeg(a->value) : opNot(a->value));
            } catch (const ScriptError&) {
            }
        }
        return make<UnaryExpr>(at, op, std::move(e));
    }

    ExprPtr parseLevel(int level)
    {
        if (level == 5) {
            if (isKw(Kw::Not)) {
                NestGuard nest(*this);
                const Token& at = cur();
                ++p_;
                return foldUnary(at, UnOp::Not, parseLevel(5));
            }
            return parseLevel(6);
        }
        if (level == 12) {
            // Unary minus binds tighter than "^": -3^2 is 9, -2^2+1 is 5.
            ExprPtr l = parsePowOperand();
            while (cur().kind == Tok::Caret) {
                if (++operators_ > kMaxOperators) fail(err::OutOfStack);
                const Token& at = cur();
                ++p_;
                l = foldBinary(at, BinOp::Pow, std::move(l), parsePowOperand());
            }
            return l;
        }
        ExprPtr l = parseLevel(level + 1);
        while (auto op = matchOp(level)) {
            if (++operators_ > kMaxOperators) fail(err::OutOfStack);
            const Token& at = cur();
            ++p_;
            l = foldBinary(at, *op, std::move(l), parseLevel(level + 1));
        }
        return l;
    }

    ExprPtr parsePowOperand()
    {
        if (cur().kind == Tok::Minus) {
            NestGuard nest(*this);
            const Token& at = cur();
            ++p_;
            return foldUnary(at, UnOp::Neg, parsePowOperand());
        }
        if (cur().kind == Tok::Plus) {
            NestGuard nest(*this);
            ++p_;
            return parsePowOperand();
        }
        return parsePrimary();
    }

    ExprPtr parsePrimary()
    {
        const Token& t = cur();
        switch (t.kind) {
        case Tok::Literal:
            ++p_;
            return make<LiteralExpr>(t, t.value);
        case Tok::LParen: {
            ++p_;
            ExprPtr e = parseExpr();
            expect(Tok::RParen, 1006);
            // `(New C).Name`: a member of the parenthesised value.
            if (cur().kind == Tok::Dot) return memberChain(byValue(t, std::move(e)), nullptr);
            if (cur().kind != Tok::LParen) return byValue(t, std::move(e));
            // `(F)(1)` and `((a))(0)`: the parenthesised name takes the arguments.
            while (auto* pe = dynamic_cast<ParenExpr*>(e.get())) {
                if (!dynamic_cast<NameExpr*>(pe->inner.get())) break;
                e = std::move(pe->inner);
            }
            if (auto* n = dynamic_cast<NameExpr*>(e.get()); n && !n->hasParens) {
                ++p_;
                parseArgList(n->args);
                n->hasParens = true;
            }
            return memberChain(indexes(std::move(e), nullptr), nullptr);
        }
        case Tok::Ident:
            switch (t.kw) {
            case Kw::True: ++p_; return make<LiteralExpr>(t, Variant::fromBool(true));
            case Kw::False: ++p_; return make<LiteralExpr>(t, Variant::fromBool(false));
            case Kw::Empty: ++p_; return make<LiteralExpr>(t, Variant());
            case Kw::Null: ++p_; return make<LiteralExpr>(t, Variant::null());
            case Kw::Nothing: ++p_; return make<LiteralExpr>(t, Variant::nothing());
            case Kw::None: return parseChain(nullptr);
            case Kw::New: {
                ++p_;
                auto n = make<NewExpr>(t);
                n->name = identifier();
                n->entry = in_.entry(n->name);
                return n;
            }
            default: fail(1023);
            }
        case Tok::Dot:
            if (withDepth_ > 0) return parseChain(nullptr);
            fail(1023);
        default:
            fail(1023);
        }
    }

    // Only a bare name can be passed by reference; in parentheses it is a value.
    ExprPtr byValue(const Token& at, ExprPtr e)
    {
        if (!dynamic_cast<NameExpr*>(e.get())) return e;
        return make<ParenExpr>(at, std::move(e));
    }

    void parseArgList(std::vector<ExprPtr>& out)
    {
        // After '('.
        if (cur().kind == Tok::RParen) {
            ++p_;
            return;
        }
        for (;;) {
            out.push_back(argument());
            if (cur().kind == Tok::Comma) {
                ++p_;
                continue;
            }
            expect(Tok::RParen, 1006);
            return;
        }
    }

    // An argument, or an empty position (`Replace(s, a, b, , , 1)`): omitted.
    ExprPtr argument()
    {
        if (cur().kind == Tok::Comma || cur().kind == Tok::RParen) return make<MissingExpr>(cur());
        return parseExpr();
    }

    ExprPtr parseChain(ChainInfo* info)
    {
        const Token& t = cur();
        ExprPtr e;
        if (t.kind == Tok::Dot && withDepth_ > 0) {
            // `.Name` inside With: a member of the innermost With's object.
            auto w = make<WithExpr>(t);
            w->depth = withDepth_ - 1;
            e = std::move(w);
        } else if (isWord("me") && scope_ && scope_->cls) {
            ++p_;
            e = make<MeExpr>(t);
            if (cur().kind == Tok::LParen) e = indexes(std::move(e), info);
        } else {
            e = nameChain(info);
            if (!e) return make<LiteralExpr>(t, *knownConst(t.text));
        }
        return memberChain(std::move(e), info);
    }

    // A name with its argument lists; nullptr when it is a known constant.
    ExprPtr nameChain(ChainInfo* info)
    {
        const Token& t = cur();
        if (!isIdentifier()) fail(1010);
        ++p_;
        if (cur().kind != Tok::LParen && cur().kind != Tok::Dot) {
            if (knownConst(t.text)) return nullptr;
        }
        auto n = make<NameExpr>(t);
        n->name = t.text;
        n->explicitNames = explicit_;
        pending_.push_back(n.get());
        if (cur().kind == Tok::LParen) {
            if (info) *info = ChainInfo{p_, pending_.size(), &n->args, &n->hasParens};
            ++p_;
            parseArgList(n->args);
            n->hasParens = true;
        } else if (info) {
            *info = ChainInfo{p_, pending_.size(), &n->args, &n->hasParens};
        }
        ExprPtr e = std::move(n);
        if (cur().kind == Tok::LParen) e = indexes(std::move(e), info);
        return e;
    }

    ExprPtr memberChain(ExprPtr e, ChainInfo* info)
    {
        while (cur().kind == Tok::Dot) {
            // Inside With, a call statement's first argument may be a
            // member of the With object: `Check .Name = 1, "text"`.
            if (info && withDepth_ > 0 && cur().blankBefore && !dynamic_cast<WithExpr*>(e.get())) break;
            ++p_;
            const Token& mt = cur();
            if (mt.kind != Tok::Ident) fail(1010);
            ++p_;
            auto m = make<MemberExpr>(mt);
            m->object = std::move(e);
            m->name = mt.text;
            if (cur().kind == Tok::LParen) {
                if (info) *info = ChainInfo{p_, pending_.size(), &m->args, &m->hasParens};
                ++p_;
                parseArgList(m->args);
                m->hasParens = true;
            } else if (info) {
                *info = ChainInfo{p_, pending_.size(), &m->args, &m->hasParens};
            }
            e = std::move(m);
            e = indexes(std::move(e), info);
        }
        return e;
    }

    // Further argument lists after a call: `Split(s, ",")(0)`.
    ExprPtr indexes(ExprPtr e, ChainInfo* info)
    {
        while (cur().kind == Tok::LParen) {
            auto x = make<IndexExpr>(cur());
            if (info) *info = ChainInfo{p_, pending_.size(), &x->args, &x->hasParens};
            ++p_;
            parseArgList(x->args);
            x->base = std::move(e);
            e = std::move(x);
        }
        return e;
    }

    std::unique_ptr<NameExpr> plainName()
    {
        const Token& t = cur();
        if (!isIdentifier()) fail(1010);
        ++p_;
        auto n = make<NameExpr>(t);
        n->name = t.text;
        n->explicitNames = explicit_;
        pending_.push_back(n.get());
        return n;
    }

    // ------------------------------------------------------------ statements

    Block parseBlock()
    {
        Block b;
        for (;;) {
            skipSeparators();
            if (cur().kind == Tok::End) return b;
            if (cur().kind == Tok::Ident) {
                switch (cur().kw) {
                case Kw::End: case Kw::Else: case Kw::ElseIf: case Kw::Case: case Kw::Loop:
                case Kw::Next: case Kw::Wend:
                    return b;
                default: break;
                }
            }
            if (StmtPtr s = parseStatement()) b.push_back(std::move(s));
            if (!atStatementEnd()) fail(err::ExpectedEndOfStatement);
        }
    }

    StmtPtr parseStatement()
    {
        NestGuard nest(*this);
        // A statement nested in another counts its own operators.
        struct OperatorCount {
            int& count;
            int saved;
            explicit OperatorCount(int& c) : count(c), saved(std::exchange(c, 0)) {}
            ~OperatorCount() { count = saved; }
        } operators(operators_);
        const Token& t = cur();
        if (t.kind == Tok::Dot && withDepth_ > 0) return parseAssignOrCall(false);
        if (t.kind != Tok::Ident) fail(1024);
        switch (t.kw) {
        case Kw::None:
            if (isWord("stop") && (peek().kind == Tok::NewLine || peek().kind == Tok::Colon ||
                                   peek().kind == Tok::End || (peek().kind == Tok::Ident && peek().kw == Kw::Else))) {
                // Stop would break into a debugger; there is none.
                ++p_;
                return nullptr;
            }
            if (isPropertyAt(0)) {
                parseProcedure();
                return nullptr;
            }
            return parseAssignOrCall(false);
        case Kw::Dim: ++p_; return parseDim();
        case Kw::Function: case Kw::Sub:
            // A procedure declared inside a block is defined with the code.
            parseProcedure();
            return nullptr;
        case Kw::Public: case Kw::Private:
            if (scope_) fail(1024);
            if (peekIsProcedure()) {
                parseProcedure();
                return nullptr;
            }
            ++p_;
            if (isKw(Kw::Const)) {
                parseConst();
                return nullptr;
            }
            return parseDim();
        case Kw::ReDim: return parseReDim();
        case Kw::Const: parseConst(); return nullptr;
        case Kw::Set: {
            ++p_;
            auto s = make<AssignStmt>(t);
            s->target = parseChain(nullptr);
            expect(Tok::Eq, 1011);
            s->value = parseExpr();
            s->isSet = true;
            return s;
        }
        case Kw::Let: ++p_; return parseAssignOrCall(true);
        case Kw::Call: {
            ++p_;
            auto s = make<CallStmt>(t);
            s->explicitCall = true;
            s->call = cur().kind == Tok::LParen ? parsePrimary() : parseChain(nullptr);
            return s;
        }
        case Kw::If: return parseIf();
        case Kw::With: return parseWith();
        case Kw::Class:
            parseClass();
            return nullptr;
        case Kw::For: return parseFor();
        case Kw::Do: return parseDo();
        case Kw::While: return parseWhile();
        case Kw::Select: return parseSelect();
        case Kw::Exit: return parseExit();
        case Kw::On: return parseOnError();
        case Kw::Option:
            ++p_;
            if (!isWord("explicit")) fail(1002);
            fail(1042);
        case Kw::Next: fail(1055);
        case Kw::Loop: fail(1038);
        default: fail(1024);
        }
    }

    StmtPtr parseAssignOrCall(bool mustAssign)
    {
        const Token& t = cur();
        ChainInfo info;
        ExprPtr chain = parseChain(&info);
        if (cur().kind == Tok::Eq) {
            ++p_;
            auto s = make<AssignStmt>(t);
            s->target = std::move(chain);
            s->value = parseExpr();
            return s;
        }
        if (mustAssign) fail(1011);
        auto s = make<CallStmt>(t);
        if (atStatementEnd() && info.args && *info.hasParens) {
            // `Foo(a, b)` as a statement is refused; `Foo (a)` passes one
            // parenthesised value.
            if (info.args->size() > 1) fail(1044);
            if (info.args->size() == 1) {
                const Token& at = t_[info.parenPos];
                (*info.args)[0] = byValue(at, std::move((*info.args)[0]));
            }
        }
        if (!atStatementEnd()) {
            if (!info.args) fail(err::ExpectedEndOfStatement);
            if (*info.hasParens) {
                p_ = info.parenPos;
                pending_.resize(info.pendingMark);
                info.args->clear();
            }
            for (;;) {
                info.args->push_back(cur().kind == Tok::Comma ? make<MissingExpr>(cur()) : parseExpr());
                if (cur().kind != Tok::Comma) break;
                ++p_;
            }
            *info.hasParens = true;
        }
        s->call = std::move(chain);
        return s;
    }

    void declareVariable(const QString& name)
    {
        QString key = name.toLower();
        if (scope_ && !scope_->borrowed) {
            if (scope_->vars.contains(key) || scope_->consts.contains(key)) fail(1041);
            scope_->vars.insert(key, scope_->nextSlot++);
        } else if (!scope_ || !scope_->vars.contains(key)) {
            block_->dims.push_back(in_.entry(name));
        }
    }

    StmtPtr parseDim()
    {
        const Token& t = t_[p_ - 1];
        auto s = make<DimStmt>(t);
        for (;;) {
            const Token& nt = cur();
            QString name = identifier();
            declareVariable(name);
            if (cur().kind == Tok::LParen) {
                ++p_;
                DimStmt::Item item;
                item.var = make<NameExpr>(nt);
                item.var->name = name;
                item.var->explicitNames = explicit_;
                pending_.push_back(item.var.get());
                parseBounds(item, true);
                s->items.push_back(std::move(item));
            }
            if (cur().kind != Tok::Comma) break;
            ++p_;
        }
        if (s->items.empty()) return nullptr;
        return s;
    }

    // An array's bounds after its "(", up to and with the ")"; Dim may
    // leave them out (a dynamic array), ReDim may not.
    void parseBounds(DimStmt::Item& item, bool mayBeEmpty)
    {
        if (!mayBeEmpty || cur().kind != Tok::RParen) {
            for (;;) {
                item.bounds.push_back(parseExpr());
                if (cur().kind != Tok::Comma) break;
                ++p_;
            }
        }
        expect(Tok::RParen, 1006);
    }

    StmtPtr parseReDim()
    {
        const Token& t = cur();
        ++p_;
        auto s = make<DimStmt>(t);
        s->redim = true;
        if (isWord("preserve")) {
            ++p_;
            s->preserve = true;
        }
        for (;;) {
            DimStmt::Item item;
            item.var = plainName();
            // ReDim declares the array too, also under Option Explicit.
            item.var->explicitNames = false;
            if (scope_) scope_->redimNames.insert(item.var->name.toLower());
            expect(Tok::LParen, 1005);
            parseBounds(item, false);
            s->items.push_back(std::move(item));
            if (cur().kind != Tok::Comma) break;
            ++p_;
        }
        return s;
    }

    void parseConst()
    {
        ++p_;
        for (;;) {
            QString name = identifier();
            expect(Tok::Eq, 1011);
            ExprPtr e = parseExpr();
            auto* lit = dynamic_cast<LiteralExpr*>(e.get());
            if (!lit) fail(1045);
            QString key = name.toLower();
            if (scope_) {
                if (scope_->vars.contains(key) || scope_->consts.contains(key)) fail(1041);
                scope_->consts.insert(key, lit->value);
            } else {
                globalConsts_.insert(key, lit->value);
                block_->consts.emplace_back(in_.entry(name), lit->value);
            }
            if (cur().kind != Tok::Comma) break;
            ++p_;
        }
    }

    void parseInlineStatements(Block& b)
    {
        for (;;) {
            while (cur().kind == Tok::Colon) ++p_;
            if (cur().kind == Tok::NewLine || cur().kind == Tok::End || isKw(Kw::Else)) return;
            if (isKw(Kw::End) && peek().kind == Tok::Ident && peek().kw == Kw::If) return;
            if (StmtPtr s = parseStatement()) b.push_back(std::move(s));
            if (!atStatementEnd()) fail(err::ExpectedEndOfStatement);
        }
    }

    StmtPtr parseIf()
    {
        const Token& t = cur();
        ++p_;
        auto s = make<IfStmt>(t);
        ExprPtr cond = parseExpr();
        expectKw(Kw::Then, 1017);
        if (cur().kind != Tok::NewLine) {
            ++singleLineIf_;
            Block thenBlock;
            parseInlineStatements(thenBlock);
            s->branches.emplace_back(std::move(cond), std::move(thenBlock));
            if (isKw(Kw::Else)) {
                ++p_;
                parseInlineStatements(s->elseBlock);
            }
            // A one-line If may still close with End If.
            if (isKw(Kw::End) && peek().kind == Tok::Ident && peek().kw == Kw::If) p_ += 2;
            --singleLineIf_;
            return s;
        }
        // Block form: single-line statements inside it end at their line.
        int saved = singleLineIf_;
        singleLineIf_ = 0;
        s->branches.emplace_back(std::move(cond), parseBlock());
        for (;;) {
            if (isKw(Kw::ElseIf)) {
                ++p_;
                ExprPtr c = parseExpr();
                expectKw(Kw::Then, 1017);
                s->branches.emplace_back(std::move(c), parseBlock());
            } else if (isKw(Kw::Else)) {
                ++p_;
                s->elseBlock = parseBlock();
                if (!isKw(Kw::End)) fail(1014);
            } else if (isKw(Kw::End)) {
                ++p_;
                expectKw(Kw::If, 1012);
                break;
            } else {
                fail(1014);
            }
        }
        singleLineIf_ = saved;
        return s;
    }

    Block loopBody(Kw kind)
    {
        int saved = singleLineIf_;
        singleLineIf_ = 0;
        loops_.push_back(kind);
        Block b = parseBlock();
        loops_.pop_back();
        singleLineIf_ = saved;
        return b;
    }

    StmtPtr parseFor()
    {
        const Token& t = cur();
        ++p_;
        if (isKw(Kw::Each)) {
            ++p_;
            auto s = make<ForEachStmt>(t);
            s->var = plainName();
            expectKw(Kw::In, 1046);
            s->collection = parseExpr();
            s->body = loopBody(Kw::For);
            expectKw(Kw::Next, 1020);
            if (isIdentifier()) ++p_;
            return s;
        }
        auto s = make<ForStmt>(t);
        if (!isIdentifier()) fail(1040);
        s->var = plainName();
        expect(Tok::Eq, 1011);
        s->from = parseExpr();
        expectKw(Kw::To, 1013);
        s->to = parseExpr();
        if (isWord("step")) {
            ++p_;
            s->step = parseExpr();
        }
        s->body = loopBody(Kw::For);
        expectKw(Kw::Next, 1020);
        if (isIdentifier()) ++p_;
        return s;
    }

    StmtPtr parseDo()
    {
        const Token& t = cur();
        ++p_;
        auto s = make<DoStmt>(t);
        if (isKw(Kw::While) || isKw(Kw::Until)) {
            s->kind = isKw(Kw::While) ? DoStmt::PreWhile : DoStmt::PreUntil;
            ++p_;
            s->cond = parseExpr();
        }
        s->body = loopBody(Kw::Do);
        expectKw(Kw::Loop, 1019);
        if (isKw(Kw::While) || isKw(Kw::Until)) {
            if (s->kind != DoStmt::Forever) fail(err::ExpectedEndOfStatement);
            s->kind = isKw(Kw::While) ? DoStmt::PostWhile : DoStmt::PostUntil;
            ++p_;
            s->cond = parseExpr();
        }
        return s;
    }

    StmtPtr parseWhile()
    {
        const Token& t = cur();
        ++p_;
        auto s = make<DoStmt>(t);
        s->kind = DoStmt::PreWhile;
        s->cond = parseExpr();
        s->body = loopBody(Kw::While);
        expectKw(Kw::Wend, 1018);
        return s;
    }

    StmtPtr parseSelect()
    {
        const Token& t = cur();
        ++p_;
        expectKw(Kw::Case, 1021);
        auto s = make<SelectStmt>(t);
        s->test = parseExpr();
        if (!atStatementEnd()) fail(err::ExpectedEndOfStatement);
        int saved = singleLineIf_;
        singleLineIf_ = 0;
        for (;;) {
            skipSeparators();
            if (isKw(Kw::Case)) {
                ++p_;
                if (isKw(Kw::Else)) {
                    ++p_;
                    s->hasElse = true;
                    s->elseBlock = parseBlock();
                    // Case Else is the last case; another one would also drop
                    // this block while names in it still wait to be resolved.
                    if (!isKw(Kw::End)) fail(1014);
                    continue;
                }
                std::vector<CaseItem> items;
                for (;;) {
                    CaseItem item;
                    if (isKw(Kw::Is)) {
                        ++p_;
                        switch (cur().kind) {
                        case Tok::Eq: item.op = CompareOp::Eq; break;
                        case Tok::Ne: item.op = CompareOp::Ne; break;
                        case Tok::Lt: item.op = CompareOp::Lt; break;
                        case Tok::Gt: item.op = CompareOp::Gt; break;
                        case Tok::Le: item.op = CompareOp::Le; break;
                        case Tok::Ge: item.op = CompareOp::Ge; break;
                        default: fail(1002);
                        }
                        ++p_;
                        item.kind = CaseItem::Is;
                        item.a = parseLevel(7);
                    } else {
                        item.a = parseExpr();
                        if (isKw(Kw::To)) {
                            ++p_;
                            item.kind = CaseItem::Range;
                            item.b = parseExpr();
                        }
                    }
                    items.push_back(std::move(item));
                    if (cur().kind != Tok::Comma) break;
                    ++p_;
                }
                Block b = parseBlock();
                s->cases.emplace_back(std::move(items), std::move(b));
            } else if (isKw(Kw::End)) {
                ++p_;
                expectKw(Kw::Select, 1022);
                break;
            } else {
                fail(1021);
            }
        }
        singleLineIf_ = saved;
        return s;
    }

    StmtPtr parseExit()
    {
        const Token& t = cur();
        ++p_;
        auto s = make<ExitStmt>(t);
        auto inLoop = [&](Kw k) { return std::find(loops_.begin(), loops_.end(), k) != loops_.end(); };
        if (isKw(Kw::Do) && inLoop(Kw::Do)) s->flow = Flow::ExitDo;
        else if (isKw(Kw::For) && inLoop(Kw::For)) s->flow = Flow::ExitFor;
        else if (isKw(Kw::Function) && scope_ && scope_->isFunction) s->flow = Flow::ExitProc;
        else if (isKw(Kw::Sub) && scope_ && !scope_->isFunction && !scope_->isProperty) s->flow = Flow::ExitProc;
        else if (isWord("property") && scope_ && scope_->isProperty) s->flow = Flow::ExitProc;
        else fail(1039);
        ++p_;
        return s;
    }

    StmtPtr parseOnError()
    {
        const Token& t = cur();
        ++p_;
        if (!isWord("error")) fail(1002);
        ++p_;
        auto s = make<OnErrorStmt>(t);
        if (isWord("resume")) {
            ++p_;
            expectKw(Kw::Next, 1002);
            s->resumeNext = true;
        } else if (isWord("goto")) {
            ++p_;
            if (cur().kind != Tok::Literal || !cur().value.isNumber() || toDouble(cur().value) != 0) fail(1002);
            ++p_;
        } else {
            fail(1002);
        }
        return s;
    }

    // ------------------------------------------------------------ procedures

    // Where a class's procedure goes while its class is read.
    struct ClassContext {
        ClassDef* def = nullptr;
        std::vector<DeferredProc> deferred;
    };

    static void finishProcedure(Procedure& proc, const Scope& sc)
    {
        proc.resultSlot = sc.resultSlot;
        proc.slotCount = sc.nextSlot;
        proc.localNames = sc.vars;
        for (auto it = sc.implicitVars.cbegin(); it != sc.implicitVars.cend(); ++it)
            proc.localNames.insert(it.key(), it.value());
        proc.localConsts = sc.consts;
        proc.cls = sc.cls;
    }

    void parseProcedure(ClassContext* cls = nullptr)
    {
        if (scope_ && !scope_->borrowed) fail(1024);
        bool isPublic = true, isDefault = false;
        if (isKw(Kw::Public) || isKw(Kw::Private)) {
            isPublic = isKw(Kw::Public);
            ++p_;
            if (cls && isPublic && isWord("default")) {
                ++p_;
                isDefault = true;
            }
        }
        const Token& t = cur();
        enum { Sub, Function, Get, Let, Set } kind = isKw(Kw::Function) ? Function : Sub;
        const bool isProperty = isPropertyAt(0);
        ++p_;
        if (isProperty) {
            if (!cls) fail(1048);
            if (isWord("get")) kind = Get;
            else if (isKw(Kw::Let)) kind = Let;
            else if (isKw(Kw::Set)) kind = Set;
            else fail(1049);
            ++p_;
        }
        const bool isFunction = kind == Function || kind == Get;
        auto proc = std::make_unique<Procedure>();
        proc->line = t.line;
        proc->unit = unit_;
        proc->isFunction = isFunction;
        proc->name = identifier();
        auto sc = std::make_unique<Scope>();
        sc->procKey = proc->name.toLower();
        sc->isFunction = isFunction;
        sc->isProperty = isProperty;
        if (cls) sc->cls = cls->def;
        if (cur().kind == Tok::LParen) {
            ++p_;
            if (cur().kind != Tok::RParen) {
                for (;;) {
                    bool byRef = true;
                    if (isKw(Kw::ByVal)) { byRef = false; ++p_; }
                    else if (isKw(Kw::ByRef)) { ++p_; }
                    QString pname = identifier();
                    if (cur().kind == Tok::LParen) {
                        ++p_;
                        expect(Tok::RParen, 1006);
                    }
                    QString key = pname.toLower();
                    if (sc->vars.contains(key)) fail(1041);
                    sc->vars.insert(key, sc->nextSlot++);
                    proc->byRef.push_back(byRef);
                    if (cur().kind != Tok::Comma) break;
                    ++p_;
                }
            }
            expect(Tok::RParen, 1006);
        }
        if ((kind == Let || kind == Set) && proc->byRef.empty()) fail(1054);
        if (isFunction) sc->resultSlot = sc->nextSlot++;
        std::vector<NameExpr*> outer = std::move(pending_);
        pending_.clear();
        Scope* outerScope = std::exchange(scope_, sc.get());
        // A procedure inside a block starts a context of its own.
        std::vector<Kw> outerLoops = std::move(loops_);
        loops_.clear();
        const int outerSingleLineIf = std::exchange(singleLineIf_, 0);
        const int outerWith = std::exchange(withDepth_, 0);
        proc->body = parseBlock();
        loops_ = std::move(outerLoops);
        singleLineIf_ = outerSingleLineIf;
        withDepth_ = outerWith;
        if (!isKw(Kw::End)) fail(1014);
        ++p_;
        if (isProperty) {
            if (!isWord("property")) fail(1050);
            ++p_;
        }
        else expectKw(isFunction ? Kw::Function : Kw::Sub, isFunction ? 1015 : 1016);
        scope_ = outerScope;
        if (!cls) {
            resolvePending(sc.get());
            pending_ = std::move(outer);
            finishProcedure(*proc, *sc);
            block_->procEntries.push_back(in_.entry(proc->name));
            block_->procs.push_back(std::move(proc));
            return;
        }
        // Class members: names inside the class's procedures are resolved
        // when the whole class is known.
        ClassDef& def = *cls->def;
        const QString key = proc->name.toLower();
        int id = def.ids.value(key, 0);
        if (id && (kind <= Function || def.member(id).kind != ClassMember::Property)) fail(1041);
        if (!id) {
            ClassMember m;
            m.name = proc->name;
            m.kind = kind <= Function ? ClassMember::Method : ClassMember::Property;
            def.members.push_back(m);
            id = int(def.members.size());
            def.ids.insert(key, id);
        }
        ClassMember& m = def.members[size_t(id - 1)];
        if (isPublic) m.isPublic = true;
        else if (kind <= Function) m.isPublic = false;
        const Procedure*& slot = kind == Get ? m.get : kind == Let ? m.let : kind == Set ? m.set : m.method;
        if (slot) fail(1041);
        slot = proc.get();
        if (isDefault) {
            if (def.defaultMember && def.defaultMember != id) fail(1052);
            def.defaultMember = id;
        }
        if (kind == Sub && (key == u"class_initialize" || key == u"class_terminate")) {
            if (!proc->byRef.empty()) fail(1053);
            (key == u"class_initialize" ? def.initialize : def.terminate) = proc.get();
        }
        cls->deferred.push_back(DeferredProc{std::move(sc), std::move(pending_), proc.get()});
        pending_ = std::move(outer);
        def.procs.push_back(std::move(proc));
    }

    void parseClass()
    {
        if (scope_) fail(1024);
        ++p_;
        auto def = std::make_unique<ClassDef>();
        def->name = identifier();
        ClassContext cls{def.get(), {}};
        for (;;) {
            if (!atStatementEnd()) fail(err::ExpectedEndOfStatement);
            skipSeparators();
            if (cur().kind == Tok::End) fail(1047);
            if (isKw(Kw::End)) {
                ++p_;
                expectKw(Kw::Class, 1047);
                break;
            }
            const bool hasVisibility = isKw(Kw::Public) || isKw(Kw::Private);
            size_t at = p_;
            if (hasVisibility) ++p_;
            if (hasVisibility && isWord("default")) ++p_;
            if (isKw(Kw::Sub) || isKw(Kw::Function) || isPropertyAt(0)) {
                p_ = at;
                parseProcedure(&cls);
                continue;
            }
            if (p_ != at + 1 && hasVisibility) fail(1057);
            const bool isPublic = !(hasVisibility && t_[at].kw == Kw::Private);
            if (!hasVisibility) expectKw(Kw::Dim, 1024);
            else if (isKw(Kw::Dim)) fail(1024);
            // Fields: names, arrays with constant bounds.
            for (;;) {
                QString name = identifier();
                QString key = name.toLower();
                if (def->ids.contains(key)) fail(1041);
                ClassMember m;
                m.name = name;
                m.kind = ClassMember::Field;
                m.isPublic = isPublic;
                m.field = int(def->fieldBounds.size());
                std::vector<int32_t> bounds;
                bool isArray = false;
                if (cur().kind == Tok::LParen) {
                    ++p_;
                    isArray = true;
                    while (cur().kind != Tok::RParen) {
                        ExprPtr b = parseExpr();
                        auto* lit = dynamic_cast<LiteralExpr*>(b.get());
                        if (!lit) fail(1045);
                        bounds.push_back(toLong(lit->value));
                        if (cur().kind != Tok::Comma) break;
                        ++p_;
                    }
                    expect(Tok::RParen, 1006);
                }
                def->fieldBounds.push_back(std::move(bounds));
                def->fieldIsArray.push_back(isArray);
                def->members.push_back(m);
                def->ids.insert(key, int(def->members.size()));
                if (cur().kind != Tok::Comma) break;
                ++p_;
            }
        }
        for (DeferredProc& d : cls.deferred) {
            for (NameExpr* n : d.pending) resolve(n, d.scope.get());
            finishProcedure(*d.proc, *d.scope);
        }
        block_->classEntries.push_back(in_.entry(def->name));
        block_->classes.push_back(std::move(def));
    }

    StmtPtr parseWith()
    {
        const Token& t = cur();
        ++p_;
        auto s = make<WithStmt>(t);
        s->object = parseExpr();
        int saved = singleLineIf_;
        singleLineIf_ = 0;
        ++withDepth_;
        s->body = parseBlock();
        --withDepth_;
        singleLineIf_ = saved;
        expectKw(Kw::End, 1014);
        expectKw(Kw::With, 1014);
        return s;
    }
};

} // namespace

static std::vector<Token> tokensOf(const QString& code)
{
    std::vector<Token> tokens;
    LexError le;
    if (!tokenize(code, tokens, le)) throw ParseError{le.number, le.line, le.column};
    return tokens;
}

std::shared_ptr<CodeBlock> compileCode(Interp& in, const QString& code, const Procedure* context)
{
    auto block = std::make_shared<CodeBlock>();
    block->unit = std::make_shared<CodeUnit>();
    block->unit->lines = splitLines(code);
    Parser parser(in, tokensOf(code), block->unit.get(), context);
    parser.program(*block);
    return block;
}

std::shared_ptr<CompiledExpr> compileExpression(Interp& in, const QString& text, const Procedure* context)
{
    auto ce = std::make_shared<CompiledExpr>();
    ce->unit = std::make_shared<CodeUnit>();
    ce->unit->lines = splitLines(text);
    Parser parser(in, tokensOf(text), ce->unit.get(), context);
    ce->expr = parser.standaloneExpression();
    return ce;
}

} // namespace vbs::rt
