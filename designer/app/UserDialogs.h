#pragma once

// Message boxes, input boxes, file dialogs and the opening of documents in
// the desktop's browser go through this interface, so that tests answer
// them without blocking. Styles and answers use the MsgBox numbering of
// connections/cConnections.h (vbYesNo, vbYes ...).

#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "connections/cConnections.h"

class QWidget;

class IUserDialogs {
public:
    virtual ~IUserDialogs() = default;

    // A message box; Style is a MsgBoxStyle combination (buttons + icon).
    // An empty Title means the product name. Returns a MsgBoxResult value.
    virtual int MsgBox(QWidget* Parent, const QString& Prompt, int Style = MsgBoxStyle::vbOKOnly,
                       const QString& Title = QString()) = 0;

    // The typed text, or nothing when the box was cancelled.
    virtual std::optional<QString> InputBox(QWidget* Parent, const QString& Prompt, const QString& Title = QString(),
                                            const QString& Default = QString()) = 0;

    // The chosen file, or an empty text when the dialog was cancelled.
    virtual QString GetOpenFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                                    const QString& Filter) = 0;
    virtual QString GetSaveFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                                    const QString& Filter) = 0;

    // Opens a document or web address in the desktop's browser.
    virtual bool OpenUrl(const QUrl& Url) = 0;
};

// The dialogs in use; the real Qt ones until replaced.
IUserDialogs& Dialogs();
// Replaces the dialogs in use (tests); returns the previous ones. Null
// restores the real ones.
std::unique_ptr<IUserDialogs> SetDialogs(std::unique_ptr<IUserDialogs> Dialogs);

// Dialogs that answer from queues and record what was asked: for tests of
// every window. An empty queue answers OK / cancel / no file.
class cScriptedDialogs : public IUserDialogs {
public:
    struct Message {
        QString Prompt;
        int Style;
        QString Title;
    };

    std::vector<Message> Messages;
    QStringList InputPrompts;
    QStringList FileTitles;
    std::vector<QUrl> OpenedUrls;

    std::deque<int> MsgBoxAnswers;
    std::deque<std::optional<QString>> InputAnswers;
    std::deque<QString> FileAnswers;
    // Whether a browser could be started, one answer per OpenUrl (none left: yes).
    std::deque<bool> OpenUrlAnswers;

    int MsgBox(QWidget* Parent, const QString& Prompt, int Style, const QString& Title) override;
    std::optional<QString> InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                    const QString& Default) override;
    QString GetOpenFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                            const QString& Filter) override;
    QString GetSaveFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                            const QString& Filter) override;
    bool OpenUrl(const QUrl& Url) override;
};

// Installs a cScriptedDialogs for the lifetime of the guard and restores the
// previous dialogs afterwards.
class cScriptedDialogsGuard {
public:
    cScriptedDialogsGuard();
    ~cScriptedDialogsGuard();
    cScriptedDialogsGuard(const cScriptedDialogsGuard&) = delete;
    cScriptedDialogsGuard& operator=(const cScriptedDialogsGuard&) = delete;
    cScriptedDialogs& operator*() const { return *m_dialogs; }
    cScriptedDialogs* operator->() const { return m_dialogs; }

private:
    cScriptedDialogs* m_dialogs;
    std::unique_ptr<IUserDialogs> m_previous;
};
