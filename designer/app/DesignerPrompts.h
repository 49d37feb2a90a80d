#pragma once

// Bridges the designer's dialogs (UserDialogs.h) to the interfaces of the
// connection-string dialog and to the connection registry's prompts, so a
// test that replaces Dialogs() answers every box of the application.

#include <memory>

#include "app/UserDialogs.h"
#include "datalink/Prompts.h"

class QWidget;
class cDataLinkPrompts;

class cDialogsBridge : public IMessageBox, public IInputBox, public IFileChooser {
public:
    int MsgBox(QWidget* Parent, const QString& Prompt, int Buttons, const QString& Title) override;
    std::optional<QString> InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                    const QString& Default) override;
    QString OpenFileName(QWidget* Parent, const QString& Caption, const QString& Folder,
                         const QString& Filter) override;
};

// The prompts handed to gConnections: the connection-string dialog, with its
// message and input boxes taken from Dialogs().
class cDesignerPrompts {
public:
    cDesignerPrompts();
    ~cDesignerPrompts();
    IConnectionPrompts* Prompts() const;
    void SetParent(QWidget* Parent);

private:
    cDialogsBridge m_bridge;
    std::unique_ptr<cDataLinkPrompts> m_prompts;
};
