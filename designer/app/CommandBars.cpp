#include "app/CommandBars.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

#include "app/Icons.h"
#include "stores/basUtils.h"

namespace {
const QString kAmbient = QStringLiteral("mdiMain");
}

cCommandBars::cCommandBars(QWidget* Owner) : QObject(Owner), m_owner(Owner) {}

cCommandBars::~cCommandBars()
{
    for (auto& [key, menu] : m_bars)
        delete menu.data();
}

QAction* cCommandBars::AddButton(const QString& Key, const QString& Caption, const QString& ToolTip, bool Icon,
                                 const QString& Shortcut, bool Translated)
{
    auto* action = new QAction(m_owner);
    action->setObjectName(Key);
    action->setData(Key);
    action->setText(Translated ? Translate(Caption, kAmbient) : Caption);
    if (!ToolTip.isEmpty())
        action->setToolTip(Translate(ToolTip, kAmbient));
    if (Icon)
        action->setIcon(Icons::CommandIcon(Key));
    if (!Shortcut.isEmpty())
        action->setShortcut(QKeySequence(Shortcut));
    // Menu titles only drop down their bar; they carry no command.
    connect(action, &QAction::triggered, this, [this, action, Key] {
        if (!action->menu())
            emit ButtonClick(Key);
    });
    m_owner->addAction(action);
    m_buttons.insert(Key, action);
    m_order << Key;
    return action;
}

QAction* cCommandBars::AddSeparator(const QString& Key)
{
    auto* action = new QAction(m_owner);
    action->setObjectName(Key);
    action->setData(Key);
    action->setSeparator(true);
    m_buttons.insert(Key, action);
    m_order << Key;
    return action;
}

void cCommandBars::AddBar(const QString& Key, const QString& Title, const QStringList& Keys)
{
    m_barKeys[Key] = Keys;
    m_barTitles.insert(Key, Title);
    if (Key == QLatin1String("MENU") || Key == QLatin1String("STANDARD"))
        return;
    auto* menu = new QMenu(Title);
    menu->setObjectName(Key);
    for (const QString& key : Keys)
        if (QAction* action = Button(key))
            menu->addAction(action);
    m_bars[Key] = menu;
}

void cCommandBars::BuildCommandBars(QMenuBar* MenuBar, QToolBar* ToolBar)
{
    const QString none;
    // Menu titles.
    for (const auto& [key, caption] : std::initializer_list<std::pair<const char*, const char*>>{
             {"FILE", "&File"}, {"EDIT", "&Edit"}, {"MNUINSERT", "&Insert"}, {"INTEGRATION", "In&tegration"},
             {"HELP", "&Help"}}) {
        AddButton(QString::fromLatin1(key), QString::fromLatin1(caption), none, false, none);
        m_captionShown << QString::fromLatin1(key);
    }
    AddButton(QStringLiteral("NEW"), QStringLiteral("&New..."), QStringLiteral("New"), true, QStringLiteral("Ctrl+N"));
    m_captionShown << QStringLiteral("NEW");
    AddButton(QStringLiteral("OPEN"), QStringLiteral("Open..."), QStringLiteral("Open File"), true,
              QStringLiteral("Ctrl+O"));
    AddButton(QStringLiteral("CLOSE"), QStringLiteral("Close"), none, true, none);
    AddButton(QStringLiteral("SAVE"), QStringLiteral("Save"), none, true, none);
    AddButton(QStringLiteral("SAVEAS"), QStringLiteral("Save As"), none, false, none);
    AddSeparator(QStringLiteral("FILESEP1"));
    AddButton(QStringLiteral("PRINT"), QStringLiteral("Print..."), QStringLiteral("Print"), true,
              QStringLiteral("Ctrl+P"));
    AddButton(QStringLiteral("PRINTPREVIEW"), QStringLiteral("Print Preview..."), QStringLiteral("Print Preview"),
              true, none);
    AddSeparator(QStringLiteral("FILESEP2"));
    AddButton(QStringLiteral("EXIT"), QStringLiteral("Exit"), none, false, none, /*Translated=*/false);
    AddButton(QStringLiteral("DEL"), QStringLiteral("Delete"), QStringLiteral("Delete"), false,
              QStringLiteral("Ctrl+X"));
    // Cut starts disabled, so Ctrl+X reaches Delete while no window offers Cut.
    AddButton(QStringLiteral("CUT"), QStringLiteral("Cut"), QStringLiteral("Cut"), true, QStringLiteral("Ctrl+X"))
        ->setEnabled(false);
    AddButton(QStringLiteral("COPY"), QStringLiteral("Copy"), QStringLiteral("Copy"), true, QStringLiteral("Ctrl+C"))
        ->setEnabled(false);
    AddButton(QStringLiteral("PASTE"), QStringLiteral("Paste"), QStringLiteral("Paste"), true,
              QStringLiteral("Ctrl+V"))
        ->setEnabled(false);
    // Ctrl+P belongs to Print alone: two enabled actions sharing a shortcut fire neither.
    AddButton(QStringLiteral("PROPERTIES"), QStringLiteral("Properties"), QStringLiteral("Properties"), false, none);
    AddSeparator(QStringLiteral("STDEDITSEP1"));
    AddButton(QStringLiteral("LINKNODES"), QStringLiteral("&Link Nodes"), QStringLiteral("Link Nodes"), true, none);
    AddButton(QStringLiteral("UNLINKNODES"), QStringLiteral("&UnLink Nodes"), QStringLiteral("UnLink Nodes"), true,
              none);
    AddButton(QStringLiteral("PREVIEW"), QStringLiteral("Preview"), QStringLiteral("Preview"), false, none);
    AddButton(QStringLiteral("DATANODE"), QStringLiteral("&Data"), QStringLiteral("Data"), true, none)
        ->setEnabled(false);
    AddButton(QStringLiteral("STORAGENODE"), QStringLiteral("&Storage"), QStringLiteral("Storage"), true, none);
    AddButton(QStringLiteral("STARTNODE"), QStringLiteral("&Source"), QStringLiteral("Start"), true, none)
        ->setEnabled(false);
    AddButton(QStringLiteral("ENDNODE"), QStringLiteral("&Target"), QStringLiteral("End"), true, none)
        ->setEnabled(false);
    AddButton(QStringLiteral("TEST"), QStringLiteral("&Test"), QStringLiteral("Test"), true, none);
    AddButton(QStringLiteral("RUN"), QStringLiteral("&Run"), QStringLiteral("Run"), true, none);
    AddButton(QStringLiteral("RUNSERVICE"), QStringLiteral("&Run Service"), QStringLiteral("Run service"), true, none);
    AddButton(QStringLiteral("STOPSERVICE"), QStringLiteral("&Stop Service"), QStringLiteral("Stop Service"), true,
              none);
    AddButton(QStringLiteral("INSTALLSRV"), QStringLiteral("&Install Service"), QStringLiteral("Install Service"),
              false, none);
    AddButton(QStringLiteral("MANUAL"), QStringLiteral("Help Manual"), none, false, none);
    AddButton(QStringLiteral("SUPPORT"), QStringLiteral("Online Support"), none, false, none);
    AddButton(QStringLiteral("ABOUT"), QStringLiteral("About Meridox..."), none, false, none);
    AddButton(QStringLiteral("CONNECTIONADD"), QStringLiteral("&New Connection..."), QStringLiteral("New Connection"),
              true, none);
    AddSeparator(QStringLiteral("SEPARATOR"));
    AddSeparator(QStringLiteral("SEPARATOR2"));
    AddButton(QStringLiteral("NEWITEM"), QStringLiteral("New"), none, false, none);
    AddButton(QStringLiteral("EDITITEM"), QStringLiteral("Edit"), none, false, none);
    AddButton(QStringLiteral("DELETEITEM"), QStringLiteral("Delete"), none, false, none);
    AddButton(QStringLiteral("IMPORTSCHED"), QStringLiteral("Import.."), none, false, none);
    AddButton(QStringLiteral("CLEAR"), QStringLiteral("Clear..."), none, false, none);
    AddButton(QStringLiteral("LNKADD"), QStringLiteral("Add Link"), none, false, none);
    AddButton(QStringLiteral("LNKREMOVE"), QStringLiteral("Remove Link"), none, false, none);
    AddButton(QStringLiteral("LNKCLEAR"), QStringLiteral("Clear All"), none, false, none);
    AddButton(QStringLiteral("LNKFORMULA"), QStringLiteral("Formula"), none, false, none);
    AddButton(QStringLiteral("DELLNKFORMULA"), QStringLiteral("Delete Formula"), none, false, none);
    AddButton(QStringLiteral("LNKLOOKUP"), QStringLiteral("Lookup Link"), none, false, none);
    AddButton(QStringLiteral("LNKAUTO"), QStringLiteral("Auto Link"), none, false, none);

    const auto keys = [](std::initializer_list<const char*> List) {
        QStringList out;
        for (const char* key : List)
            out << QString::fromLatin1(key);
        return out;
    };
    AddBar(QStringLiteral("MENU"), Translate(QStringLiteral("Menu"), kAmbient),
           keys({"FILE", "EDIT", "MNUINSERT", "INTEGRATION", "HELP"}));
    AddBar(QStringLiteral("FILEMENU"), QString(),
           keys({"NEW", "OPEN", "CLOSE", "SAVE", "SAVEAS", "FILESEP1", "PRINT", "PRINTPREVIEW", "FILESEP2", "EXIT"}));
    AddBar(QStringLiteral("POPUPEDITMENU"), QString(), keys({"NEWITEM", "EDITITEM", "DELETEITEM", "IMPORTSCHED"}));
    AddBar(QStringLiteral("POPUPCLEARMENU"), QString(), keys({"CLEAR"}));
    AddBar(QStringLiteral("POPUPLNKMENU"), QString(),
           keys({"LNKADD", "LNKREMOVE", "LNKCLEAR", "LNKFORMULA", "DELLNKFORMULA", "LNKLOOKUP", "LNKAUTO"}));
    AddBar(QStringLiteral("STDEDITSHAPE"), QString(),
           keys({"DEL", "CUT", "COPY", "PASTE", "PROPERTIES", "STDEDITSEP1", "LINKNODES", "UNLINKNODES", "PREVIEW"}));
    AddBar(QStringLiteral("INSERTMENU"), QString(), keys({"DATANODE", "STORAGENODE", "STARTNODE", "ENDNODE"}));
    AddBar(QStringLiteral("INTEGRATIONMENU"), QString(),
           keys({"TEST", "RUN", "RUNSERVICE", "STOPSERVICE", "INSTALLSRV"}));
    AddBar(QStringLiteral("HELPMENU"), QString(), keys({"MANUAL", "SUPPORT", "ABOUT"}));
    AddBar(QStringLiteral("STANDARD"), QStringLiteral("Tool Bar"),
           keys({"NEW", "OPEN", "SAVE", "CONNECTIONADD", "SEPARATOR", "DATANODE", "STORAGENODE", "STARTNODE",
                 "ENDNODE", "LINKNODES", "UNLINKNODES", "SEPARATOR2", "TEST", "RUN", "RUNSERVICE", "STOPSERVICE"}));

    // Each menu title drops down its bar.
    for (const auto& [title, bar] : std::initializer_list<std::pair<const char*, const char*>>{
             {"FILE", "FILEMENU"}, {"EDIT", "STDEDITSHAPE"}, {"MNUINSERT", "INSERTMENU"},
             {"INTEGRATION", "INTEGRATIONMENU"}, {"HELP", "HELPMENU"}}) {
        QAction* action = Button(QString::fromLatin1(title));
        QMenu* menu = Bar(QString::fromLatin1(bar));
        if (action && menu) {
            menu->setTitle(action->text());
            action->setMenu(menu);
        }
    }

    if (MenuBar) {
        for (const QString& key : BarKeys(QStringLiteral("MENU")))
            if (QAction* action = Button(key))
                MenuBar->addAction(action);
    }
    if (ToolBar) {
        ToolBar->setWindowTitle(m_barTitles.value(QStringLiteral("STANDARD")));
        ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        for (const QString& key : BarKeys(QStringLiteral("STANDARD"))) {
            QAction* action = Button(key);
            if (!action)
                continue;
            ToolBar->addAction(action);
            if (m_captionShown.contains(key))
                if (auto* button = qobject_cast<QToolButton*>(ToolBar->widgetForAction(action)))
                    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        }
    }
}

QAction* cCommandBars::Button(const QString& Key) const
{
    return m_buttons.value(Key, nullptr);
}

QMenu* cCommandBars::Bar(const QString& Key) const
{
    const auto it = m_bars.find(Key);
    return it == m_bars.end() ? nullptr : it->second.data();
}

QStringList cCommandBars::BarKeys(const QString& Key) const
{
    const auto it = m_barKeys.find(Key);
    return it == m_barKeys.end() ? QStringList() : it->second;
}

bool cCommandBars::ShowPopup(const QString& BarKey, const QPoint& GlobalPos)
{
    QMenu* menu = Bar(BarKey);
    if (!menu)
        return false;
    menu->popup(GlobalPos);
    return true;
}
