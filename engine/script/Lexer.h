#pragma once

// Tokens of the script language. Lines are counted from 1 within one code
// text; CR, LF and CRLF each end a line. Comments (' and Rem) and line
// continuations (" _" at the end of a line) never reach the parser.

#include "script/Variant.h"

#include <QString>
#include <vector>

namespace vbs {

enum class Tok : uint8_t {
    End,        // end of text
    NewLine,    // end of a line (also ':' is reported as Colon)
    Colon,
    Ident,      // identifiers and keywords (kw tells which)
    Literal,    // numbers, strings, dates: value holds it
    LParen, RParen, Comma, Dot,
    Eq, Ne, Lt, Gt, Le, Ge,
    Plus, Minus, Star, Slash, Backslash, Caret, Amp,
};

// Reserved words; identifiers that are not reserved carry Kw::None. Words
// that are keywords only in some places (Property, Get, Step, Preserve...)
// are identifiers, so they can also name variables, procedures and classes.
enum class Kw : uint8_t {
    None, And, ByRef, ByVal, Call, Case, Class, Const, Dim, Do, Each, Else, ElseIf, Empty, End,
    Eqv, Exit, False, For, Function, If, Imp, In, Is, Let, Loop, Mod, New, Next, Not, Nothing,
    Null, On, Option, Or, Private, Public, ReDim, Select, Set, Sub, Then, To, True,
    Until, Wend, While, With, Xor,
};

struct Token {
    Tok kind = Tok::End;
    Kw kw = Kw::None;
    int line = 1;
    int column = 1;     // 1-based
    bool blankBefore = false;   // blanks (or a line continuation) right before the token
    QString text;       // identifier as written
    Variant value;      // Literal
};

struct LexError {
    int number = 0;
    int line = 0;
    int column = 0;
};

// Splits code into tokens; on a lexical error returns false and sets error.
bool tokenize(const QString& code, std::vector<Token>& out, LexError& error);

// The lines of a code text (CR, LF, CRLF), for error texts.
std::vector<QString> splitLines(const QString& code);

} // namespace vbs
