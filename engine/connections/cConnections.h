#pragma once

// The registry of named connection strings, kept in "connections.cnn" in the
// library folder, and the opening of a data connection by name.
//
// The engine shows no windows: the connection-string dialogs, the input box
// and the message box are supplied by the desktop application through
// IConnectionPrompts. Without prompts, CreateConnection and ModifyConnection
// change nothing and messages are only returned to the caller.

#include <QString>

#include <optional>
#include <vector>

#include "connections/tConnection.h"
#include "data/Connection.h"


// Message-box styles and answers, with the values the Visual Basic MsgBox
// uses, so that callers can pass the styles as written in the screens.
namespace MsgBoxStyle {
constexpr int vbOKOnly = 0;
constexpr int vbOKCancel = 1;
constexpr int vbAbortRetryIgnore = 2;
constexpr int vbYesNoCancel = 3;
constexpr int vbYesNo = 4;
constexpr int vbRetryCancel = 5;
constexpr int vbCritical = 16;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
constexpr int vbInformation = 64;
}  // namespace MsgBoxStyle

namespace MsgBoxResult {
constexpr int vbOK = 1;
constexpr int vbCancel = 2;
constexpr int vbAbort = 3;
constexpr int vbRetry = 4;
constexpr int vbIgnore = 5;
constexpr int vbYes = 6;
constexpr int vbNo = 7;
}  // namespace MsgBoxResult

// What the registry asks of the user. The desktop application implements it
// with its connection-string dialog and its message and input boxes.
class IConnectionPrompts {
public:
    virtual ~IConnectionPrompts() = default;

    // The new-connection dialog: the connection string the user built, or
    // nothing when the dialog was cancelled.
    virtual std::optional<QString> PromptNew() = 0;

    // The edit dialog on ConnectionString. Returns true and changes the string
    // in place when the user confirms; false (string untouched) on cancel.
    virtual bool PromptEdit(QString& ConnectionString) = 0;

    // An input box: the typed text, or nothing when the box was cancelled.
    virtual std::optional<QString> InputBox(const QString& Prompt, const QString& Title,
                                            const QString& Default = QString()) = 0;

    // A message box; Buttons is a MsgBoxStyle combination (buttons + icon).
    // Returns a MsgBoxResult value.
    virtual int MsgBox(const QString& Prompt, int Buttons = MsgBoxStyle::vbOKOnly,
                       const QString& Title = QString()) = 0;
};

// The registry's keyed collection: insertion order, 1-based positions, keys
// (the entries' names) unique and compared without regard to letter case.
class cConnectionList {
public:
    using const_iterator = std::vector<tConnection>::const_iterator;

    int Count() const { return static_cast<int>(m_items.size()); }
    // Position 1 to Count; nothing outside that range.
    std::optional<tConnection> Item(int Index) const;
    // The entry under Key; nothing when no entry has that name.
    std::optional<tConnection> Item(const QString& Key) const;
    bool Exists(const QString& Key) const { return IndexOf(Key) > 0; }
    // 1-based position of Key, 0 when absent.
    int IndexOf(const QString& Key) const;

    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

private:
    friend class cConnections;
    // False (nothing added) when the key is already held.
    bool Add(const tConnection& Item);
    // False when the key is absent.
    bool Remove(const QString& Key);

    std::vector<tConnection> m_items;
};

class cConnections {
public:
    cConnections();
    ~cConnections();
    cConnections(const cConnections&) = delete;
    cConnections& operator=(const cConnections&) = delete;

    // The dialogs and boxes to use; not owned, may be null (no windows).
    void SetPrompts(IConnectionPrompts* Prompts) { m_prompts = Prompts; }
    IConnectionPrompts* Prompts() const { return m_prompts; }

    // A newly opened connection for the entry Name (a new database connection
    // on every call; the caller closes it), or nothing when the name is
    // unknown or the connection cannot be opened. Shows nothing; the reason
    // is in LastError().
    std::optional<ado::Connection> Connection(const QString& Name);

    // The entry's connection string; nothing for an unknown name (LastError()
    // then says why).
    std::optional<QString> ConnectionString(const QString& Name);

    // The registry's own live collection, in registry order.
    const cConnectionList& ConnectionsList() const { return m_list; }

    // New-connection dialog, then the name. Returns true when an entry was
    // added at the end. A cancelled dialog, an empty or cancelled name, or a
    // name already held adds nothing (the last with a message).
    bool CreateConnection();

    // Edit dialog on the entry Name, then its (new) name. The edited entry
    // moves to the end. A cancelled dialog changes nothing; a new name that
    // another entry holds is refused with a message and the entry is kept
    // unchanged. Returns true when the entry was changed.
    bool ModifyConnection(const QString& Name);

    // Adds the file's entries after those already held. Returns an empty text
    // on success, else the message that was shown (a file that cannot be read
    // or parsed loads nothing; repeated names are skipped and reported, every
    // other entry loads).
    QString LoadConnections();

    // Writes the whole registry to the file, atomically and readable only by
    // its owner. Returns an empty text on success, else the reason.
    QString SaveConnections();

    // Removes the entry; an unknown name is ignored.
    void DeleteConnection(const QString& Connection);

    // The file the registry is kept in ("connections.cnn" in the library folder).
    static QString FilePath();

    // The reason of the last failure of Connection, ConnectionString or
    // ModifyConnection; empty after a success.
    QString LastError() const { return m_lastError; }

private:
    QString ShowMessage(const QString& Text, int Style);

    cConnectionList m_list;
    IConnectionPrompts* m_prompts = nullptr;
    QString m_lastError;
};
