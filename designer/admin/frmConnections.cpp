#include "admin/frmConnections.h"

#include <QHeaderView>
#include <QPointer>
#include <QTableWidget>
#include <QVBoxLayout>

#include "admin/AdminCommon.h"
#include "app/FormTranslation.h"
#include "app/ScreenRegistry.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "connections/cConnections.h"
#include "datalink/frmDataLink.h"
#include "stores/basUtils.h"

using namespace AdminScreens;

namespace {

const QString kAmbient = QStringLiteral("frmConnections");
constexpr int kRowHeight = 40;

QString Tr(const QString& Text)
{
    return Translate(Text, kAmbient);
}

// A translation key may hold a carriage return; the box shows it as a line break.
QString Shown(QString Text)
{
    return Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

}  // namespace

frmConnections::frmConnections(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("frmConnections"));
    setMinimumSize(AdminScreens::kMinimumScreenWidth, AdminScreens::kMinimumScreenHeight);
    setWindowTitle(QStringLiteral("Current Connections"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_grdData = NewGrid(this);
    m_grdData->setWordWrap(true);
    connect(m_grdData, &QTableWidget::cellDoubleClicked, this, &frmConnections::EditConnectionRow);
    connect(m_grdData, &QWidget::customContextMenuRequested, this, &frmConnections::grdData_ContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 33);
    layout->addWidget(m_grdData);

    // Load.
    TranslateForm(this, kAmbient);
}

frmConnections* frmConnections::Instance()
{
    static QPointer<frmConnections> instance;
    if (!instance)
        instance = new frmConnections;
    return instance;
}

void frmConnections::LoadConnectionsGrid()
{
    m_grdData->setUpdatesEnabled(false);
    m_grdData->setRowCount(0);
    EnsureColumns(m_grdData,
                  {{QStringLiteral("INDEX"), QString()},
                   {QStringLiteral("NAME"), QStringLiteral("Name"), 150},
                   {QStringLiteral("CONNSTR"), QStringLiteral("Connection String")}},
                  kAmbient);
    m_grdData->setColumnHidden(0, true);
    m_grdData->setUpdatesEnabled(true);
    if (!gConnections)
        return;
    const cConnectionList& list = gConnections->ConnectionsList();
    const int count = list.Count();
    for (int i = 1; i <= count; ++i) {
        const std::optional<tConnection> entry = list.Item(i);
        if (!entry)
            continue;
        const int row = m_grdData->rowCount();
        m_grdData->insertRow(row);
        m_grdData->setRowHeight(row, kRowHeight);
        m_grdData->setItem(row, 0, new QTableWidgetItem(QString::number(i)));
        m_grdData->setItem(row, 1, new QTableWidgetItem(entry->name));
        m_grdData->setItem(row, 2, new QTableWidgetItem(MaskedConnectionString(entry->connString)));
    }
}

QString frmConnections::NameOnRow(int Row) const
{
    if (Row < 0 || Row >= m_grdData->rowCount())
        return QString();
    const QTableWidgetItem* item = m_grdData->item(Row, 1);
    return item ? item->text() : QString();
}

void frmConnections::Save()
{
    if (!gConnections)
        return;
    // A connections file that cannot be written must not pass unnoticed:
    // the change would be lost when the designer ends.
    const QString error = gConnections->SaveConnections();
    if (!error.isEmpty())
        Dialogs().MsgBox(this, Shown(error), MsgBoxStyle::vbCritical);
}

void frmConnections::ActionClose()
{
    close();
}

void frmConnections::ActionShow()
{
    LoadConnectionsGrid();
    ShowChild(this);
}

void frmConnections::ActionEdit()
{
    const int row = SelectedRow(m_grdData);
    if (row >= 0)
        EditConnectionRow(row, 1);
}

void frmConnections::EditConnectionRow(int Row, int)
{
    if (Row < 0 || Row >= m_grdData->rowCount() || !gConnections)
        return;
    const QString name = NameOnRow(Row);
    const int answer =
        Dialogs().MsgBox(this, Shown(Tr(QStringLiteral("This can affect existing connections.\rAre you sure?"))),
                         MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbInformation, QString());
    if (answer != MsgBoxResult::vbYes)
        return;
    gConnections->ModifyConnection(name);
    Save();
    LoadConnectionsGrid();
}

void frmConnections::ActionEditItem()
{
    const int row = SelectedRow(m_grdData);
    if (row < 0 || !gConnections)
        return;
    gConnections->ModifyConnection(NameOnRow(row));
    Save();
}

void frmConnections::ActionAdd()
{
    if (!gConnections)
        return;
    gConnections->CreateConnection();
    LoadConnectionsGrid();
    Save();
}

void frmConnections::ActionDelete()
{
    const int row = SelectedRow(m_grdData);
    if (row < 0) {
        Dialogs().MsgBox(this, Tr(QStringLiteral("Select a connection first.")), MsgBoxStyle::vbOKOnly, QString());
        return;
    }
    const int answer = Dialogs().MsgBox(
        this, Shown(Tr(QStringLiteral("Integrations using this connection will not work?\r are you sure?"))),
        MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbQuestion, Tr(QStringLiteral("Delete Connection")));
    if (answer != MsgBoxResult::vbYes || !gConnections)
        return;
    // An empty name is a name too: the file may hold one.
    gConnections->DeleteConnection(NameOnRow(row));
    Save();
    LoadConnectionsGrid();
}

void frmConnections::ActionSave()
{
    Save();
}

void frmConnections::ActionNewItem()
{
    ActionAdd();
}

void frmConnections::ActionDeleteItem()
{
    ActionDelete();
}

void frmConnections::grdData_ContextMenu(const QPoint& Pos)
{
    ShowEditPopup(m_grdData->viewport()->mapToGlobal(Pos), false);
}

namespace {
const bool registered = [] {
    for (const char* member : {"ActionAdd", "ActionShow", "ActionEdit", "ActionDelete"}) {
        const QString name = QString::fromLatin1(member);
        ScreenRegistry::Register(kAmbient, name, [name] {
            QMetaObject::invokeMethod(frmConnections::Instance(), name.toLatin1().constData(), Qt::DirectConnection);
        });
    }
    return true;
}();
}  // namespace
