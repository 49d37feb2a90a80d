#include "workbench/StepDialogSupport.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

#include <limits>

#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "connections/cConnections.h"
#include "stores/basUtils.h"

namespace StepDialogs {

QLabel* NamedLabel(QWidget* Parent, const char* Name, const char* Caption)
{
    auto* label = new QLabel(QString::fromUtf8(Caption), Parent);
    label->setObjectName(QString::fromUtf8(Name));
    return label;
}

cNameAndConnection AddNameAndConnectionRows(QDialog& Dialog, QGridLayout& Grid)
{
    cNameAndConnection c;
    c.txtName = new QLineEdit(&Dialog);
    c.txtName->setObjectName(QStringLiteral("txtName"));
    c.cmbConnection = new cStepComboBox(&Dialog);
    c.cmbConnection->setObjectName(QStringLiteral("cmbConnection"));
    c.btnAddConn = new QPushButton(QStringLiteral("+"), &Dialog);
    c.btnAddConn->setObjectName(QStringLiteral("btnAddConn"));
    // Enter must not press a button behind the user's back.
    c.btnAddConn->setAutoDefault(false);

    Grid.addWidget(NamedLabel(&Dialog, "lblName", "Step Name:"), 0, 0);
    Grid.addWidget(c.txtName, 0, 1, 1, 2);
    Grid.addWidget(NamedLabel(&Dialog, "lblConnection", "Connection:"), 1, 0);
    Grid.addWidget(c.cmbConnection, 1, 1);
    Grid.addWidget(c.btnAddConn, 1, 2);
    return c;
}

cOkCancel AddOkCancelRow(QDialog& Dialog)
{
    cOkCancel c;
    c.btnOK = new QPushButton(QStringLiteral("OK"), &Dialog);
    c.btnOK->setObjectName(QStringLiteral("btnOK"));
    c.btnCancel = new QPushButton(QStringLiteral("CANCEL"), &Dialog);
    c.btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Enter must not press OK behind the user's back: OK has its own rules.
    c.btnOK->setAutoDefault(false);
    c.btnCancel->setAutoDefault(false);

    c.Row = new QHBoxLayout;
    c.Row->addStretch(1);
    c.Row->addWidget(c.btnOK);
    c.Row->addWidget(c.btnCancel);
    return c;
}

bool StepNameGiven(QWidget* Dialog, QLineEdit* txtName, const QString& Message)
{
    if (!txtName->text().trimmed().isEmpty())
        return true;
    Dialogs().MsgBox(Dialog, Message, MsgBoxStyle::vbInformation, QStringLiteral("Meridox"));
    txtName->setFocus();
    return false;
}

bool StepNameUsable(QWidget* Dialog, QLineEdit* txtName, const cShapes& Shapes, const QString& NodeKey,
                    const QString& Ambient)
{
    // Steps are script objects and keys of Steps under their names: a name
    // that is no identifier breaks every reference written for it, and a
    // repeated one stops every run in its preparation.
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z][A-Za-z0-9_]*$"));
    const QString name = txtName->text();
    QString message;
    if (!identifier.match(name).hasMatch()) {
        message = Translate(QStringLiteral("A step name begins with a letter and holds only letters, digits and "
                                           "underscores (no blanks):"),
                            Ambient)
                  + QLatin1Char(' ') + name;
    } else {
        for (const cShapeRef& node : Shapes.Collection()) {
            if (node && node->Key != NodeKey && node->sCaption.compare(name, Qt::CaseInsensitive) == 0) {
                message = Translate(QStringLiteral("Another step already has this name:"), Ambient)
                          + QLatin1Char(' ') + node->sCaption;
                break;
            }
        }
    }
    if (message.isEmpty())
        return true;
    Dialogs().MsgBox(Dialog, message, MsgBoxStyle::vbExclamation);
    txtName->setFocus();
    return false;
}

void AddRegistryEntry()
{
    if (gConnections)
        gConnections->CreateConnection();
}

QStringList ConnectionNames()
{
    QStringList names;
    if (!gConnections)
        return names;
    for (const tConnection& entry : gConnections->ConnectionsList())
        names << entry.name;
    return names;
}

std::optional<ado::Connection> OpenConnection(const QString& Name)
{
    if (!gConnections || Name.isEmpty())
        return std::nullopt;
    return gConnections->Connection(Name);
}

QString ConnectionStringOf(const QString& Name)
{
    if (!gConnections)
        return QString();
    return gConnections->ConnectionString(Name).value_or(QString());
}

bool TablesAndViews(ado::Connection& Connection, QStringList& Names, QString& Error)
{
    Connection.Errors().Clear();
    ado::Recordset rs = Connection.OpenSchemaTables();
    if (!rs.isOpen()) {
        Error = Connection.lastError().Description;
        if (Error.isEmpty())
            Error = rs.lastError().Description;
        return false;
    }
    const int nameColumn = rs.fieldIndex(QStringLiteral("TABLE_NAME"));
    const int typeColumn = rs.fieldIndex(QStringLiteral("TABLE_TYPE"));
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        // Exact comparison: only the two kinds a step can read from.
        const QString type = rs.value(typeColumn).toString();
        if (type == QLatin1String("TABLE") || type == QLatin1String("VIEW"))
            Names << rs.value(nameColumn).toString();
    }
    rs.Close();
    return true;
}

QString ApplySpreadsheetRule(const QString& ConnectionString, const QString& Name)
{
    if (ConnectionString.indexOf(QLatin1String("Excel 8.0")) >= 1 && !Name.startsWith(u'['))
        return QLatin1Char('[') + Name + QLatin1Char(']');
    return Name;
}

std::optional<tFieldsRef> ReadFields(ado::Connection& Connection, const QString& Sql, bool Keyed, QString& Error)
{
    Connection.Errors().Clear();
    const auto infos = Connection.QueryFields(Sql);
    if (!infos) {
        Error = Connection.lastError().Description;
        return std::nullopt;
    }
    auto fields = std::make_shared<tFieldsList>();
    for (const ado::FieldInfo& info : *infos) {
        tFields field;
        field.f_name = info.name;
        field.f_type = static_cast<std::int16_t>(info.type);
        // Memo and large binary sizes exceed 32 bits on some providers.
        field.f_size = static_cast<std::int32_t>(
            std::min<long long>(info.definedSize, std::numeric_limits<std::int32_t>::max()));
        fields->Add(field, Keyed ? field.f_name : QString());
    }
    return fields;
}

cWaitCursor::cWaitCursor()
{
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

cWaitCursor::~cWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

}  // namespace StepDialogs
