#pragma once

// The desktop application's answers to the connection registry's questions:
// the connection-string dialog for new and edited connections, and the
// message and input boxes.

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "connections/cConnections.h"
#include "datalink/Prompts.h"
#include "datalink/frmDataLink.h"

class cDataLinkPrompts : public IConnectionPrompts {
public:
    // Shows the dialog modally and returns its QDialog::DialogCode. Tests
    // replace it to fill the dialog's fields and answer without blocking.
    using DialogRunner = std::function<int(frmDataLink&)>;

    // Null boxes mean the real Qt ones. Parent (may be null) owns the windows shown.
    explicit cDataLinkPrompts(QWidget* Parent = nullptr, IMessageBox* Messages = nullptr, IInputBox* Inputs = nullptr,
                              IFileChooser* Files = nullptr);
    ~cDataLinkPrompts() override;

    void SetParent(QWidget* Parent) { m_parent = Parent; }
    void SetDialogRunner(DialogRunner Runner) { m_runner = std::move(Runner); }

    std::optional<QString> PromptNew() override;
    bool PromptEdit(QString& ConnectionString) override;
    std::optional<QString> InputBox(const QString& Prompt, const QString& Title, const QString& Default) override;
    int MsgBox(const QString& Prompt, int Buttons, const QString& Title) override;

private:
    int Run(frmDataLink& Dialog);

    QPointer<QWidget> m_parent;
    IMessageBox* m_messages;
    IInputBox* m_inputs;
    IFileChooser* m_files;
    std::unique_ptr<QtMessageBox> m_ownMessages;
    std::unique_ptr<QtInputBox> m_ownInputs;
    DialogRunner m_runner;
};
