#include "app/DesignerPrompts.h"

#include "datalink/cDataLinkPrompts.h"

int cDialogsBridge::MsgBox(QWidget* Parent, const QString& Prompt, int Buttons, const QString& Title)
{
    return Dialogs().MsgBox(Parent, Prompt, Buttons, Title);
}

std::optional<QString> cDialogsBridge::InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                                const QString& Default)
{
    return Dialogs().InputBox(Parent, Prompt, Title, Default);
}

QString cDialogsBridge::OpenFileName(QWidget* Parent, const QString& Caption, const QString& Folder,
                                     const QString& Filter)
{
    return Dialogs().GetOpenFileName(Parent, Caption, Folder, Filter);
}

cDesignerPrompts::cDesignerPrompts()
    : m_prompts(std::make_unique<cDataLinkPrompts>(nullptr, &m_bridge, &m_bridge, &m_bridge))
{
}

cDesignerPrompts::~cDesignerPrompts() = default;

IConnectionPrompts* cDesignerPrompts::Prompts() const
{
    return m_prompts.get();
}

void cDesignerPrompts::SetParent(QWidget* Parent)
{
    m_prompts->SetParent(Parent);
}
