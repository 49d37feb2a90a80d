#pragma once

// The node types of the resolved syntax tree (see Runtime.h).

#include "script/Runtime.h"

namespace vbs::rt {

struct LiteralExpr : Expr {
    Variant value;
    explicit LiteralExpr(Variant v) : value(std::move(v)) {}
    Variant eval(Frame&) override { return value; }
    bool isLiteral() const override { return true; }
};

// A name, with or without an argument list: a variable, an array item, a
// procedure or built-in call, a host object or its default member.
struct NameExpr : Expr {
    enum class Bind : uint8_t { Unresolved, Local, Global, Dynamic, Const };
    QString name;
    Bind bind = Bind::Unresolved;
    bool hasParens = false;
    bool explicitNames = false;
    int slot = -1;
    GlobalEntry* entry = nullptr;
    Variant constValue;
    std::vector<ExprPtr> args;

    Variant eval(Frame& f) override;
    Variant* varRef(Frame& f) override;
    void assign(Frame& f, Variant value, bool isSet) override;
    bool isLiteral() const override
    {
        return bind == Bind::Const || (bind == Bind::Global && entry->kind == GlobalEntry::Constant);
    }

    // The variable itself (never null): raises 500 / 501 as VBScript does.
    Variant& variable(Frame& f);

private:
    Variant evalGlobal(Frame& f);
    Variant indexValue(Frame& f, const Variant& container);
    [[noreturn]] void raiseNamed(int number);
};

// A parenthesised variable: its value, never the variable itself, so that
// `Foo (x)` and `Call Foo((x))` pass x by value as VBScript does.
struct ParenExpr : Expr {
    ExprPtr inner;
    explicit ParenExpr(ExprPtr e) : inner(std::move(e)) {}
    Variant eval(Frame& f) override { return inner->eval(f); }
    bool isLiteral() const override { return inner->isLiteral(); }
};

// An argument list applied to the value of a call: `Split(s, ",")(1)`
// indexes the returned array, `F()("x")` reads an object's default member.
struct IndexExpr : Expr {
    ExprPtr base;
    bool hasParens = true;
    std::vector<ExprPtr> args;
    Variant eval(Frame& f) override;
};

// obj.Name or obj.Name(args) on a host object.
struct MemberExpr : Expr {
    ExprPtr object;
    QString name;
    bool hasParens = false;
    std::vector<ExprPtr> args;
    const void* cachedClass = nullptr;
    int cachedId = -1;

    Variant eval(Frame& f) override;
    void assign(Frame& f, Variant value, bool isSet) override;

private:
    IScriptObject& target(Frame& f, Variant& holder);
    int memberOf(IScriptObject& o);
};

enum class BinOp : uint8_t {
    Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat, And, Or, Xor, Eqv, Imp, Is,
    Eq, Ne, Lt, Gt, Le, Ge
};

struct BinaryExpr : Expr {
    BinOp op;
    ExprPtr lhs, rhs;
    BinaryExpr(BinOp o, ExprPtr l, ExprPtr r) : op(o), lhs(std::move(l)), rhs(std::move(r)) {}
    Variant eval(Frame& f) override;
};

enum class UnOp : uint8_t { Neg, Not };

struct UnaryExpr : Expr {
    UnOp op;
    ExprPtr operand;
    UnaryExpr(UnOp o, ExprPtr e) : op(o), operand(std::move(e)) {}
    Variant eval(Frame& f) override;
};

Variant applyBinary(BinOp op, const Variant& a, const Variant& b, bool aLit, bool bLit);

// ---------------------------------------------------------------- statements

struct AssignStmt : Stmt {
    ExprPtr target, value;
    bool isSet = false;
    Flow exec(Frame& f) override;
};

struct CallStmt : Stmt {
    ExprPtr call;
    Flow exec(Frame& f) override;
};

struct IfStmt : Stmt {
    std::vector<std::pair<ExprPtr, Block>> branches;
    Block elseBlock;
    Flow exec(Frame& f) override;
};

struct ForStmt : Stmt {
    std::unique_ptr<NameExpr> var;
    ExprPtr from, to, step;
    Block body;
    Flow exec(Frame& f) override;
};

struct ForEachStmt : Stmt {
    std::unique_ptr<NameExpr> var;
    ExprPtr collection;
    Block body;
    Flow exec(Frame& f) override;
};

struct DoStmt : Stmt {
    enum Kind : uint8_t { Forever, PreWhile, PreUntil, PostWhile, PostUntil };
    Kind kind = Forever;
    ExprPtr cond;
    Block body;
    Flow exec(Frame& f) override;
};

struct CaseItem {
    enum Kind : uint8_t { Value, Range, Is };
    Kind kind = Value;
    CompareOp op = CompareOp::Eq;
    ExprPtr a, b;
};

struct SelectStmt : Stmt {
    ExprPtr test;
    std::vector<std::pair<std::vector<CaseItem>, Block>> cases;
    bool hasElse = false;
    Block elseBlock;
    Flow exec(Frame& f) override;
};

struct ExitStmt : Stmt {
    Flow flow = Flow::ExitProc;
    Flow exec(Frame&) override { return flow; }
};

struct OnErrorStmt : Stmt {
    bool resumeNext = false;
    Flow exec(Frame& f) override;
};

// Dim of arrays and ReDim: the names with their upper bounds.
struct DimStmt : Stmt {
    struct Item {
        std::unique_ptr<NameExpr> var;
        std::vector<ExprPtr> bounds;
    };
    std::vector<Item> items;
    bool redim = false;
    bool preserve = false;
    Flow exec(Frame& f) override;
};

} // namespace vbs::rt
