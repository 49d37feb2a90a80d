#include "script/Lexer.h"

#include <QHash>
#include <cmath>
#include <utility>

namespace vbs {

namespace {

const QHash<QString, Kw>& keywords()
{
    static const QHash<QString, Kw> table = {
        {"and", Kw::And}, {"byref", Kw::ByRef}, {"byval", Kw::ByVal}, {"call", Kw::Call},
        {"case", Kw::Case}, {"class", Kw::Class}, {"const", Kw::Const}, {"dim", Kw::Dim},
        {"do", Kw::Do}, {"each", Kw::Each}, {"else", Kw::Else}, {"elseif", Kw::ElseIf},
        {"empty", Kw::Empty}, {"end", Kw::End}, {"eqv", Kw::Eqv}, {"exit", Kw::Exit},
        {"false", Kw::False}, {"for", Kw::For}, {"function", Kw::Function}, {"if", Kw::If},
        {"imp", Kw::Imp}, {"in", Kw::In}, {"is", Kw::Is}, {"let", Kw::Let}, {"loop", Kw::Loop},
        {"mod", Kw::Mod}, {"new", Kw::New}, {"next", Kw::Next}, {"not", Kw::Not},
        {"nothing", Kw::Nothing}, {"null", Kw::Null}, {"on", Kw::On}, {"option", Kw::Option},
        {"or", Kw::Or}, {"private", Kw::Private},
        {"public", Kw::Public}, {"redim", Kw::ReDim}, {"select", Kw::Select}, {"set", Kw::Set},
        {"sub", Kw::Sub}, {"then", Kw::Then}, {"to", Kw::To}, {"true", Kw::True},
        {"until", Kw::Until}, {"wend", Kw::Wend}, {"while", Kw::While}, {"with", Kw::With},
        {"xor", Kw::Xor},
    };
    return table;
}

bool isIdentStart(QChar c) { return c.isLetter(); }
bool isIdentChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }
bool isDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

// Integer literals take the smallest of Integer, Long, Double.
Variant integerLiteral(double v)
{
    if (v <= 32767) return Variant::fromInteger(int16_t(v));
    if (v <= 2147483647.0) return Variant::fromLong(int32_t(v));
    return Variant::fromDouble(v);
}

} // namespace

std::vector<QString> splitLines(const QString& code)
{
    std::vector<QString> lines;
    QString cur;
    for (qsizetype i = 0; i < code.size(); ++i) {
        QChar c = code[i];
        if (c == u'\r' || c == u'\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == u'\r' && i + 1 < code.size() && code[i + 1] == u'\n') ++i;
        } else {
            cur += c;
        }
    }
    lines.push_back(cur);
    return lines;
}

bool tokenize(const QString& code, std::vector<Token>& out, LexError& error)
{
    const qsizetype n = code.size();
    qsizetype i = 0;
    int line = 1;
    qsizetype lineStart = 0;
    bool blank = false;
    auto fail = [&](int number, qsizetype at) {
        error.number = number;
        error.line = line;
        error.column = int(at - lineStart) + 1;
        return false;
    };
    auto push = [&](Tok kind, qsizetype at) -> Token& {
        Token t;
        t.kind = kind;
        t.line = line;
        t.column = int(at - lineStart) + 1;
        t.blankBefore = std::exchange(blank, false);
        out.push_back(std::move(t));
        return out.back();
    };
    auto newLine = [&](qsizetype at) {
        // at: index of the CR or LF; consumes CRLF as one.
        qsizetype next = at + 1;
        if (code[at] == u'\r' && next < n && code[next] == u'\n') ++next;
        ++line;
        lineStart = next;
        return next;
    };
    auto skipToEol = [&]() {
        while (i < n && code[i] != u'\r' && code[i] != u'\n') ++i;
    };
    auto prevAllowsMember = [&]() {
        if (out.empty()) return false;
        const Token& p = out.back();
        return (p.kind == Tok::Ident && p.kw == Kw::None) || p.kind == Tok::RParen;
    };

    while (i < n) {
        QChar c = code[i];
        if (c == u' ' || c == u'\t' || c == QChar(0xA0)) { ++i; blank = true; continue; }
        if (c == u'\r' || c == u'\n') {
            push(Tok::NewLine, i);
            i = newLine(i);
            continue;
        }
        if (c == u'\'') { skipToEol(); continue; }
        if (c == u'_') {
            // Line continuation: "_" followed only by blanks up to the end of line.
            qsizetype j = i + 1;
            while (j < n && (code[j] == u' ' || code[j] == u'\t')) ++j;
            if (j >= n) { i = j; continue; }
            if (code[j] == u'\r' || code[j] == u'\n') { i = newLine(j); blank = true; continue; }
            return fail(1032, i);
        }
        if (c == u'"') {
            qsizetype start = i++;
            QString s;
            for (;;) {
                if (i >= n || code[i] == u'\r' || code[i] == u'\n') return fail(1033, start);
                if (code[i] == u'"') {
                    if (i + 1 < n && code[i + 1] == u'"') { s += u'"'; i += 2; continue; }
                    ++i;
                    break;
                }
                s += code[i++];
            }
            push(Tok::Literal, start).value = Variant(std::move(s));
            continue;
        }
        if (c == u'#') {
            qsizetype start = i++;
            qsizetype close = i;
            while (close < n && code[close] != u'#' && code[close] != u'\r' && code[close] != u'\n') ++close;
            if (close >= n || code[close] != u'#') return fail(1002, start);
            auto d = parseDate(QStringView(code).mid(i, close - i));
            if (!d) return fail(1002, start);
            push(Tok::Literal, start).value = Variant::fromDate(*d);
            i = close + 1;
            continue;
        }
        if (c == u'&' && i + 1 < n && (code[i + 1].toUpper() == u'H' || code[i + 1].toUpper() == u'O')) {
            qsizetype start = i;
            int base = code[i + 1].toUpper() == u'H' ? 16 : 8;
            i += 2;
            uint64_t v = 0;
            int digits = 0;
            while (i < n) {
                int dv = -1;
                char16_t ch = code[i].unicode();
                if (ch >= '0' && ch <= '9') dv = ch - '0';
                else if (base == 16 && ch >= 'a' && ch <= 'f') dv = ch - 'a' + 10;
                else if (base == 16 && ch >= 'A' && ch <= 'F') dv = ch - 'A' + 10;
                if (dv < 0 || dv >= base) break;
                v = v * uint64_t(base) + uint64_t(dv);
                if (v > 0xFFFFFFFFull) return fail(6, start);
                ++digits;
                ++i;
            }
            if (!digits) return fail(1002, start);
            // A trailing "&" reads the digits as 32 bits; the value then
            // takes the smallest subtype that holds it, as without the "&".
            bool forceLong = i < n && code[i] == u'&';
            if (forceLong) ++i;
            Variant val;
            if (forceLong) {
                const int32_t x = int32_t(uint32_t(v));
                val = (x >= -32768 && x <= 32767) ? Variant::fromInteger(int16_t(x)) : Variant::fromLong(x);
            } else {
                val = v <= 0xFFFF ? Variant::fromInteger(int16_t(uint16_t(v))) : Variant::fromLong(int32_t(uint32_t(v)));
            }
            push(Tok::Literal, start).value = val;
            continue;
        }
        if (isDigit(c) || (c == u'.' && i + 1 < n && isDigit(code[i + 1]) && !prevAllowsMember())) {
            qsizetype start = i;
            std::string buf;
            bool isFloat = false;
            while (i < n && isDigit(code[i])) buf += char(code[i++].unicode());
            if (i < n && code[i] == u'.' && i + 1 < n && isDigit(code[i + 1])) {
                isFloat = true;
                buf += code[i++].toLatin1();
                while (i < n && isDigit(code[i])) buf += char(code[i++].unicode());
            } else if (i < n && code[i] == u'.' && !(i + 1 < n && isIdentStart(code[i + 1]))) {
                isFloat = true;
                ++i;
            }
            if (i < n && (code[i] == u'e' || code[i] == u'E')) {
                qsizetype j = i + 1;
                if (j < n && (code[j] == u'+' || code[j] == u'-')) ++j;
                if (j < n && isDigit(code[j])) {
                    isFloat = true;
                    buf += 'e';
                    buf += std::string(code.mid(i + 1, j - i - 1).toLatin1().constData());
                    i = j;
                    while (i < n && isDigit(code[i])) buf += char(code[i++].unicode());
                }
            }
            if (i < n && isIdentStart(code[i])) return fail(1031, start);
            double v = std::strtod(buf.c_str(), nullptr);
            if (!std::isfinite(v)) return fail(6, start);
            push(Tok::Literal, start).value = isFloat ? Variant::fromDouble(v) : integerLiteral(v);
            continue;
        }
        if (isIdentStart(c) || c == u'[') {
            qsizetype start = i;
            QString word;
            if (c == u'[') {
                ++i;
                while (i < n && code[i] != u']' && code[i] != u'\r' && code[i] != u'\n') word += code[i++];
                if (i >= n || code[i] != u']') return fail(1032, start);
                ++i;
                Token& t = push(Tok::Ident, start);
                t.text = word;
                continue;
            }
            while (i < n && isIdentChar(code[i])) word += code[i++];
            QString lower = word.toLower();
            if (lower == u"rem" && !(!out.empty() && out.back().kind == Tok::Dot)) {
                skipToEol();
                continue;
            }
            Token& t = push(Tok::Ident, start);
            t.text = word;
            // After a dot every word is a member name, keyword or not.
            bool afterDot = out.size() >= 2 && out[out.size() - 2].kind == Tok::Dot;
            if (!afterDot) t.kw = keywords().value(lower, Kw::None);
            continue;
        }
        qsizetype at = i;
        switch (c.unicode()) {
        case '(': push(Tok::LParen, at); ++i; break;
        case ')': push(Tok::RParen, at); ++i; break;
        case ',': push(Tok::Comma, at); ++i; break;
        case '.': push(Tok::Dot, at); ++i; break;
        case ':': push(Tok::Colon, at); ++i; break;
        case '+': push(Tok::Plus, at); ++i; break;
        case '-': push(Tok::Minus, at); ++i; break;
        case '*': push(Tok::Star, at); ++i; break;
        case '/': push(Tok::Slash, at); ++i; break;
        case '\\': push(Tok::Backslash, at); ++i; break;
        case '^': push(Tok::Caret, at); ++i; break;
        case '&': push(Tok::Amp, at); ++i; break;
        case '=':
            // "=>" and "=<" are accepted for ">=" and "<=".
            ++i;
            if (i < n && code[i] == u'>') { ++i; push(Tok::Ge, at); }
            else if (i < n && code[i] == u'<') { ++i; push(Tok::Le, at); }
            else push(Tok::Eq, at);
            break;
        case '<':
            ++i;
            if (i < n && code[i] == u'>') { ++i; push(Tok::Ne, at); }
            else if (i < n && code[i] == u'=') { ++i; push(Tok::Le, at); }
            else push(Tok::Lt, at);
            break;
        case '>':
            ++i;
            if (i < n && code[i] == u'=') { ++i; push(Tok::Ge, at); }
            else if (i < n && code[i] == u'<') { ++i; push(Tok::Ne, at); }
            else push(Tok::Gt, at);
            break;
        default:
            return fail(1032, at);
        }
    }
    push(Tok::NewLine, i);
    push(Tok::End, i);
    return true;
}

} // namespace vbs
