#pragma once

// OLE DB style connection strings: "Key=Value;Key=Value".
//
//   auto cs = ado::ConnectionString::parse("Provider=SQLite;Data Source='/tmp/a;b.db'");
//   if (cs) cs->value("data source");   // "/tmp/a;b.db"
//
// Rules: keys are compared without regard to case and trimmed; a value may be
// quoted with ' or " (the quote doubled inside stands for itself) and may then
// hold ';' and '='; a value in {braces} is kept with its braces (ODBC style)
// and may hold ';'; "==" inside a key is a literal '='; when a key repeats the
// last value wins; empty pairs (";;") are skipped. A missing Provider means
// SQLite, the embedded default.

#include <QString>
#include <QStringList>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace ado {

enum class ProviderKind {
    SQLite,      // Provider=SQLite            -> QSQLITE
    PostgreSQL,  // Provider=PostgreSQL        -> QPSQL
    ODBC,        // Provider=MSDASQL / ODBC    -> QODBC
    Persist,     // Provider=MSPersist: persisted recordset files only
    Unknown,
};

class ConnectionString {
public:
    // nullopt and *error set when the text is malformed (unterminated quote,
    // a pair without '=', an empty key).
    static std::optional<ConnectionString> parse(const QString& text, QString* error = nullptr);

    bool contains(const QString& key) const;
    QString value(const QString& key) const;   // empty when absent
    // First present key of several synonyms ("Data Source", "Server", "Host").
    QString value(std::initializer_list<const char*> keys) const;
    void set(const QString& key, const QString& value);
    void remove(const QString& key);

    // Provider as written (empty when absent) and its kind.
    QString provider() const;
    ProviderKind providerKind() const;

    // Pairs in their first-seen order, keys as written.
    const std::vector<std::pair<QString, QString>>& pairs() const { return pairs_; }

    // Back to text; values that need it are quoted. ODBC form wraps such
    // values in braces instead.
    QString toString() const;
    QString toOdbcString(const QStringList& skipKeys) const;

private:
    std::vector<std::pair<QString, QString>> pairs_;
};

ProviderKind providerKindOf(const QString& provider);

// message with connectionString and the password in it taken out, for logs
// that anyone may read.
QString hideConnectionSecrets(QString message, const QString& connectionString);

// connectionString as written, with every character of its password values
// (Password, PWD; quoted, braced or plain) shown as mask, for screens that
// show a connection string to whoever stands in front of them.
QString maskConnectionPasswords(const QString& connectionString, QChar mask);

// text with the value of every "Password=" and "PWD=" in it replaced by
// "****", whether or not the text around it parses as a connection string.
// An unquoted value is taken to run to the end of its line or element, since
// a password may hold ';'.
QString hideSecretsInText(QString text);

} // namespace ado
