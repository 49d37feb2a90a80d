#include "datalink/cDataLinkPrompts.h"

cDataLinkPrompts::cDataLinkPrompts(QWidget* Parent, IMessageBox* Messages, IInputBox* Inputs, IFileChooser* Files)
    : m_parent(Parent), m_messages(Messages), m_inputs(Inputs), m_files(Files)
{
    if (!m_messages) {
        m_ownMessages = std::make_unique<QtMessageBox>();
        m_messages = m_ownMessages.get();
    }
    if (!m_inputs) {
        m_ownInputs = std::make_unique<QtInputBox>();
        m_inputs = m_ownInputs.get();
    }
}

cDataLinkPrompts::~cDataLinkPrompts() = default;

int cDataLinkPrompts::Run(frmDataLink& Dialog)
{
    if (m_runner)
        return m_runner(Dialog);
    return Dialog.exec();
}

std::optional<QString> cDataLinkPrompts::PromptNew()
{
    frmDataLink dialog(m_parent, m_messages, m_files);
    if (Run(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.ConnectionString();
}

bool cDataLinkPrompts::PromptEdit(QString& ConnectionString)
{
    frmDataLink dialog(m_parent, m_messages, m_files);
    dialog.SetConnectionString(ConnectionString);
    if (Run(dialog) != QDialog::Accepted)
        return false;
    ConnectionString = dialog.ConnectionString();
    return true;
}

std::optional<QString> cDataLinkPrompts::InputBox(const QString& Prompt, const QString& Title, const QString& Default)
{
    return m_inputs->InputBox(m_parent, Prompt, Title, Default);
}

int cDataLinkPrompts::MsgBox(const QString& Prompt, int Buttons, const QString& Title)
{
    return m_messages->MsgBox(m_parent, Prompt, Buttons, Title);
}
