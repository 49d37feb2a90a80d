#include "data/ConnectionString.h"

#include <QRegularExpression>

#include <algorithm>

namespace ado {

namespace {

bool sameKey(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool needsQuoting(const QString& v)
{
    // A bare value opening with '{' is read as a braced value, which must close.
    return v.contains(u';') || v.contains(u'=') || v.contains(u'\'') || v.contains(u'"')
        || (!v.isEmpty() && (v.front().isSpace() || v.back().isSpace()))
        || (v.startsWith(u'{') && !v.contains(u'}'));
}

} // namespace

std::optional<ConnectionString> ConnectionString::parse(const QString& text, QString* error)
{
    ConnectionString cs;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto fail = [&](const QString& why) -> std::optional<ConnectionString> {
        if (error)
            *error = QStringLiteral("Invalid connection string: %1").arg(why);
        return std::nullopt;
    };
    QString previousKey;
    while (i < n) {
        // Key: up to a single '='; "==" is a literal '='.
        QString key;
        bool haveEquals = false;
        while (i < n) {
            const QChar c = text[i];
            if (c == u'=') {
                if (i + 1 < n && text[i + 1] == u'=') {
                    key += u'=';
                    i += 2;
                    continue;
                }
                haveEquals = true;
                ++i;
                break;
            }
            if (c == u';')
                break;
            key += c;
            ++i;
        }
        key = key.trimmed();
        if (!haveEquals) {
            // The text itself is not quoted: it may well be the tail of a
            // password that holds a ';'.
            if (!key.isEmpty())
                return fail(previousKey.isEmpty()
                                ? QStringLiteral("the first part has no value (expected Key=Value)")
                                : QStringLiteral("the part after \"%1\" has no value (expected Key=Value; a value "
                                                 "holding ';' must be quoted)")
                                      .arg(previousKey));
            ++i;   // empty pair
            continue;
        }
        if (key.isEmpty())
            return fail(QStringLiteral("a value without a key"));
        // Value.
        while (i < n && text[i].isSpace() && text[i] != u';')
            ++i;
        QString value;
        if (i < n && (text[i] == u'\'' || text[i] == u'"')) {
            const QChar q = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == q) {
                    if (i + 1 < n && text[i + 1] == q) {
                        value += q;
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                return fail(QStringLiteral("the quoted value of \"%1\" is not closed").arg(key));
            while (i < n && text[i] != u';') {
                if (!text[i].isSpace())
                    return fail(QStringLiteral("text after the quoted value of \"%1\"").arg(key));
                ++i;
            }
        } else if (i < n && text[i] == u'{') {
            const qsizetype close = text.indexOf(u'}', i);
            if (close < 0)
                return fail(QStringLiteral("the braced value of \"%1\" is not closed").arg(key));
            value = text.mid(i, close - i + 1);
            i = close + 1;
            while (i < n && text[i] != u';')
                value += text[i++];
            value = value.trimmed();
        } else {
            while (i < n && text[i] != u';')
                value += text[i++];
            value = value.trimmed();
        }
        if (i < n && text[i] == u';')
            ++i;
        previousKey = key;
        cs.set(key, value);
    }
    return cs;
}

bool ConnectionString::contains(const QString& key) const
{
    for (const auto& p : pairs_)
        if (sameKey(p.first, key))
            return true;
    return false;
}

QString ConnectionString::value(const QString& key) const
{
    for (const auto& p : pairs_)
        if (sameKey(p.first, key))
            return p.second;
    return {};
}

QString ConnectionString::value(std::initializer_list<const char*> keys) const
{
    for (const char* k : keys) {
        const QString key = QString::fromLatin1(k);
        if (contains(key))
            return value(key);
    }
    return {};
}

void ConnectionString::set(const QString& key, const QString& value)
{
    for (auto& p : pairs_)
        if (sameKey(p.first, key)) {
            p.second = value;
            return;
        }
    pairs_.emplace_back(key, value);
}

void ConnectionString::remove(const QString& key)
{
    std::erase_if(pairs_, [&](const auto& p) { return sameKey(p.first, key); });
}

QString ConnectionString::provider() const
{
    return value(QStringLiteral("Provider"));
}

ProviderKind ConnectionString::providerKind() const
{
    return providerKindOf(provider());
}

QString ConnectionString::toString() const
{
    QStringList parts;
    for (const auto& [k, v] : pairs_) {
        QString key = k;
        key.replace(u'=', QStringLiteral("=="));
        QString val = v;
        if (needsQuoting(val)) {
            const QChar q = val.contains(u'"') && !val.contains(u'\'') ? u'\'' : u'"';
            val.replace(q, QString(q) + q);
            val = q + val + q;
        }
        parts << key + u'=' + val;
    }
    return parts.join(u';');
}

QString ConnectionString::toOdbcString(const QStringList& skipKeys) const
{
    QStringList parts;
    for (const auto& [k, v] : pairs_) {
        bool skip = false;
        for (const auto& s : skipKeys)
            skip = skip || sameKey(s, k);
        if (skip)
            continue;
        QString val = v;
        if (!val.startsWith(u'{') && (val.contains(u';') || val.contains(u'=')
                                      || (!val.isEmpty() && (val.front().isSpace() || val.back().isSpace()))))
            val = u'{' + QString(val).replace(u'}', QStringLiteral("}}")) + u'}';
        parts << k + u'=' + val;
    }
    return parts.join(u';');
}

ProviderKind providerKindOf(const QString& provider)
{
    QString p = provider.trimmed();
    // "SQLite.1", "MSDASQL.1": the version suffix does not change the provider.
    const qsizetype dot = p.indexOf(u'.');
    if (dot > 0)
        p = p.left(dot);
    if (p.isEmpty() || sameKey(p, QStringLiteral("SQLite")) || sameKey(p, QStringLiteral("SQLite3")))
        return ProviderKind::SQLite;
    if (sameKey(p, QStringLiteral("PostgreSQL")) || sameKey(p, QStringLiteral("PgSQL")))
        return ProviderKind::PostgreSQL;
    if (sameKey(p, QStringLiteral("MSDASQL")) || sameKey(p, QStringLiteral("ODBC")))
        return ProviderKind::ODBC;
    if (sameKey(p, QStringLiteral("MSPersist")))
        return ProviderKind::Persist;
    return ProviderKind::Unknown;
}

QString hideConnectionSecrets(QString message, const QString& connectionString)
{
    if (!connectionString.isEmpty())
        message.replace(connectionString, QStringLiteral("<connection string>"));
    if (const auto cs = ConnectionString::parse(connectionString)) {
        const QString password = cs->value({"Password", "PWD"});
        if (!password.isEmpty())
            message.replace(password, QStringLiteral("****"));
    }
    return hideSecretsInText(message);
}

QString hideSecretsInText(QString text)
{
    // Cheap test first: most texts hold no such key at all.
    if (!text.contains(QLatin1String("pwd"), Qt::CaseInsensitive)
        && !text.contains(QLatin1String("password"), Qt::CaseInsensitive))
        return text;
    static const QRegularExpression secret(
        QStringLiteral("(\\b(?:password|pwd)\\s*=\\s*)('(?:[^']|'')*'?|\"(?:[^\"]|\"\")*\"?|\\{[^}]*\\}?|[^<\\r\\n]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype from = 0;
    QRegularExpressionMatchIterator it = secret.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength(2) == 0)
            continue;
        out += QStringView(text).mid(from, m.capturedStart(2) - from);
        out += QStringLiteral("****");
        from = m.capturedEnd(2);
    }
    if (from == 0)
        return text;
    out += QStringView(text).mid(from);
    return out;
}

QString maskConnectionPasswords(const QString& connectionString, QChar mask)
{
    // Worked on the text itself, so that the rest reads exactly as written.
    static const QRegularExpression password(
        QStringLiteral(R"((^|;)(\s*(?:password|pwd)\s*=\s*)("(?:[^"]|"")*"?|'(?:[^']|'')*'?|\{[^}]*\}?|[^;]*))"),
        QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype done = 0;
    for (auto it = password.globalMatch(connectionString); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString value = m.captured(3);
        qsizetype first = 0, last = value.size();
        if (!value.isEmpty() && (value.front() == u'"' || value.front() == u'\'' || value.front() == u'{')) {
            first = 1;
            const QChar close = value.front() == u'{' ? QChar(u'}') : value.front();
            if (last > 1 && value.back() == close)
                --last;
        }
        out += QStringView(connectionString).mid(done, m.capturedStart(3) - done);
        out += value.left(first);
        out += QString(std::max<qsizetype>(0, last - first), mask);
        out += value.mid(last);
        done = m.capturedEnd(3);
    }
    out += QStringView(connectionString).mid(done);
    return out;
}

} // namespace ado
