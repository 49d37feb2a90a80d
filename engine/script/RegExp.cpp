#include "script/RegExp.h"

#include <QHash>
#include <QRegularExpression>

namespace vbs {

namespace {

constexpr int kRegExpSyntax = 5017;

// JavaScript's line terminators, and its white space beyond ASCII.
const QString kLineEnds = QStringLiteral("\\n\\r\\x{2028}\\x{2029}");
const QString kSpaces = QStringLiteral("\\s\\x{A0}\\x{FEFF}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}\\x{205F}\\x{3000}");

int memberOf(const QHash<QString, int>& ids, const QString& name)
{
    return ids.value(name.toLower(), IScriptObject::UnknownMember);
}

// A collection of values: Count, Item(i) (the default member), For Each.
class ValueList : public IScriptObject {
public:
    ValueList(QString type, std::vector<Variant> items) : type_(std::move(type)), items_(std::move(items)) {}
    QString typeName() const override { return type_; }
    int memberId(const QString& name) override
    {
        static const QHash<QString, int> ids = {{"item", DefaultMember}, {"count", 1}};
        return memberOf(ids, name);
    }
    const void* memberClass() const override { static const int key = 0; return &key; }
    Variant get(int id, std::span<Variant> args) override
    {
        if (id == 1) {
            if (!args.empty()) raiseError(err::WrongArgCount);
            return Variant::fromLong(int32_t(items_.size()));
        }
        if (args.size() != 1) raiseError(err::WrongArgCount);
        const int32_t i = toLong(valueOf(args[0]));
        if (i < 0 || size_t(i) >= items_.size()) raiseError(err::InvalidCall);
        return items_[size_t(i)];
    }
    bool items(std::vector<Variant>& out) override
    {
        out = items_;
        return true;
    }

private:
    QString type_;
    std::vector<Variant> items_;
};

class MatchObject : public IScriptObject {
public:
    MatchObject(const QRegularExpressionMatch& m)
        : value_(m.captured(0)), first_(int32_t(m.capturedStart(0)))
    {
        std::vector<Variant> subs;
        for (int g = 1; g <= m.regularExpression().captureCount(); ++g) {
            if (m.capturedStart(g) < 0) subs.emplace_back();
            else subs.emplace_back(m.captured(g));
        }
        subMatches_ = std::make_shared<ValueList>(QStringLiteral("ISubMatches"), std::move(subs));
    }
    QString typeName() const override { return QStringLiteral("IMatch2"); }
    int memberId(const QString& name) override
    {
        static const QHash<QString, int> ids = {
            {"value", Value}, {"firstindex", FirstIndex}, {"length", Length}, {"submatches", SubMatches}};
        return memberOf(ids, name);
    }
    const void* memberClass() const override { static const int key = 0; return &key; }
    Variant get(int id, std::span<Variant> args) override
    {
        if (!args.empty() && id != SubMatches) raiseError(err::WrongArgCount);
        switch (id) {
        case DefaultMember:
        case Value: return Variant(value_);
        case FirstIndex: return Variant::fromLong(first_);
        case Length: return Variant::fromLong(int32_t(value_.size()));
        case SubMatches:
            if (args.empty()) return Variant::fromObject(subMatches_);
            return subMatches_->get(DefaultMember, args);
        default: raiseError(err::NoSuchMember);
        }
    }

private:
    enum { Value = 1, FirstIndex, Length, SubMatches };
    QString value_;
    int32_t first_ = 0;
    ObjectRef subMatches_;
};

class RegExpObject : public IScriptObject {
public:
    QString typeName() const override { return QStringLiteral("IRegExp2"); }
    int memberId(const QString& name) override
    {
        static const QHash<QString, int> ids = {
            {"pattern", Pattern}, {"ignorecase", IgnoreCase}, {"global", Global}, {"multiline", Multiline},
            {"test", Test}, {"execute", Execute}, {"replace", Replace}};
        return memberOf(ids, name);
    }
    const void* memberClass() const override { static const int key = 0; return &key; }

    Variant get(int id, std::span<Variant> args) override
    {
        auto arity = [&](size_t n) {
            if (args.size() != n) raiseError(err::WrongArgCount);
        };
        switch (id) {
        case Pattern: arity(0); return Variant(pattern_);
        case IgnoreCase: arity(0); return Variant::fromBool(ignoreCase_);
        case Global: arity(0); return Variant::fromBool(global_);
        case Multiline: arity(0); return Variant::fromBool(multiline_);
        case Test: {
            arity(1);
            const QString s = toStr(valueOf(args[0]));
            return Variant::fromBool(regex().match(s).hasMatch());
        }
        case Execute: {
            arity(1);
            const QString s = toStr(valueOf(args[0]));
            std::vector<Variant> matches;
            forEachMatch(s, [&](const QRegularExpressionMatch& m) {
                matches.push_back(Variant::fromObject(std::make_shared<MatchObject>(m)));
            });
            return Variant::fromObject(std::make_shared<ValueList>(QStringLiteral("IMatchCollection2"), std::move(matches)));
        }
        case Replace: {
            arity(2);
            const QString s = toStr(valueOf(args[0]));
            const QString with = toStr(valueOf(args[1]));
            QString out;
            qsizetype last = 0;
            forEachMatch(s, [&](const QRegularExpressionMatch& m) {
                out += QStringView(s).mid(last, m.capturedStart(0) - last);
                out += expand(with, s, m);
                last = m.capturedEnd(0);
            });
            out += QStringView(s).mid(last);
            return Variant(std::move(out));
        }
        default: raiseError(err::NoSuchMember);
        }
    }

    void put(int id, std::span<Variant> args, const Variant& value) override
    {
        if (!args.empty()) raiseError(err::WrongArgCount);
        switch (id) {
        case Pattern: pattern_ = toStr(value); break;
        case IgnoreCase: ignoreCase_ = toBool(value); break;
        case Global: global_ = toBool(value); break;
        case Multiline: multiline_ = toBool(value); break;
        default: raiseError(err::NoSuchMember);
        }
        compiled_.reset();
    }

private:
    enum { Pattern = 1, IgnoreCase, Global, Multiline, Test, Execute, Replace };

    const QRegularExpression& regex()
    {
        if (!compiled_) {
            QRegularExpression::PatternOptions options = QRegularExpression::NoPatternOption;
            if (ignoreCase_) options |= QRegularExpression::CaseInsensitiveOption;
            compiled_.emplace(translateRegExpPattern(pattern_, multiline_), options);
        }
        if (!compiled_->isValid()) raiseError(kRegExpSyntax);
        return *compiled_;
    }

    template <class Fn> void forEachMatch(const QString& s, Fn&& fn)
    {
        const QRegularExpression& re = regex();
        if (!global_) {
            QRegularExpressionMatch m = re.match(s);
            if (m.hasMatch()) fn(m);
            return;
        }
        QRegularExpressionMatchIterator it = re.globalMatch(s);
        while (it.hasNext()) fn(it.next());
    }

    // $1..$99, $&, $`, $' and $$ in a replacement text.
    static QString expand(const QString& with, const QString& s, const QRegularExpressionMatch& m)
    {
        const int groups = m.regularExpression().captureCount();
        QString out;
        for (qsizetype i = 0; i < with.size(); ++i) {
            const QChar c = with[i];
            if (c != u'$' || i + 1 >= with.size()) {
                out += c;
                continue;
            }
            const QChar n = with[i + 1];
            if (n == u'$') { out += u'$'; ++i; continue; }
            if (n == u'&') { out += m.captured(0); ++i; continue; }
            if (n == u'`') { out += QStringView(s).left(m.capturedStart(0)); ++i; continue; }
            if (n == u'\'') { out += QStringView(s).mid(m.capturedEnd(0)); ++i; continue; }
            if (n.isDigit() && n != u'0') {
                int g = n.digitValue();
                qsizetype used = 1;
                if (i + 2 < with.size() && with[i + 2].isDigit()) {
                    const int two = g * 10 + with[i + 2].digitValue();
                    if (two <= groups) { g = two; used = 2; }
                }
                if (g <= groups) {
                    out += m.captured(g);
                    i += used;
                    continue;
                }
            }
            out += c;
        }
        return out;
    }

    QString pattern_;
    bool ignoreCase_ = false;
    bool global_ = false;
    bool multiline_ = false;
    std::optional<QRegularExpression> compiled_;
};

} // namespace

QString translateRegExpPattern(const QString& pattern, bool multiline)
{
    QString out;
    bool inClass = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\\' && i + 1 < pattern.size()) {
            const QChar n = pattern[++i];
            if (n == u'v') out += QStringLiteral("\\x0B");
            else if (n == u's' && !inClass) out += u'[' + kSpaces + u']';
            else if (n == u'S' && !inClass) out += QStringLiteral("[^") + kSpaces + u']';
            else { out += c; out += n; }
            continue;
        }
        if (inClass) {
            if (c == u']') inClass = false;
            out += c;
            continue;
        }
        switch (c.unicode()) {
        case '[':
            if (pattern.mid(i, 3) == u"[^]") { out += QStringLiteral("[\\s\\S]"); i += 2; break; }
            if (pattern.mid(i, 2) == u"[]") { out += QStringLiteral("(?!)"); i += 1; break; }
            inClass = true;
            out += c;
            // A "]" first in a class is a character in the matcher, the end in JavaScript.
            if (i + 1 < pattern.size() && pattern[i + 1] == u'^') { out += u'^'; ++i; }
            break;
        case '.': out += QStringLiteral("[^") + kLineEnds + u']'; break;
        case '$':
            out += multiline ? QStringLiteral("(?=[") + kLineEnds + QStringLiteral("]|\\z)") : QStringLiteral("\\z");
            break;
        case '^':
            out += multiline ? QStringLiteral("(?:\\A|(?<=[") + kLineEnds + QStringLiteral("]))") : QStringLiteral("\\A");
            break;
        default: out += c;
        }
    }
    return out;
}

ObjectRef makeRegExp()
{
    return std::make_shared<RegExpObject>();
}

} // namespace vbs
