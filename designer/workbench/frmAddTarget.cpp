#include "workbench/frmAddTarget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/FormTranslation.h"
#include "app/UserDialogs.h"
#include "document/clsProcess.h"
#include "stores/basUtils.h"
#include "workbench/ModalDialogs.h"
#include "workbench/StepComboBox.h"
#include "workbench/StepDialogSupport.h"
#include "workbench/frmWorkBench.h"

using namespace StepDialogs;

namespace {

const QString Ambient = QStringLiteral("frmAddTarget");

QString Tr(const char* Text)
{
    return Translate(QString::fromUtf8(Text), Ambient);
}

}  // namespace

const QStringList& frmAddTarget::Operations()
{
    static const QStringList operations{QStringLiteral("UpdateInsert"), QStringLiteral("Insert"),
                                        QStringLiteral("Update"), QStringLiteral("Lookup"),
                                        QStringLiteral("Delete")};
    return operations;
}

frmAddTarget::frmAddTarget(QWidget* Parent)
    : QDialog(Parent)
{
    setObjectName(Ambient);
    setWindowTitle(QStringLiteral("Add Connection..."));
    setModal(true);

    auto* grid = new QGridLayout;
    const cNameAndConnection top = AddNameAndConnectionRows(*this, *grid);
    m_txtName = top.txtName;
    m_cmbConnection = top.cmbConnection;
    m_btnAddConn = top.btnAddConn;
    m_cmbTable = new cStepComboBox(this);
    m_cmbTable->setObjectName(QStringLiteral("cmbTable"));
    m_cboOperation = new QComboBox(this);
    m_cboOperation->setObjectName(QStringLiteral("cboOperation"));
    const cOkCancel bottom = AddOkCancelRow(*this);
    m_btnOK = bottom.btnOK;
    m_btnCancel = bottom.btnCancel;

    grid->addWidget(NamedLabel(this, "lblTable", "Table:"), 2, 0);
    grid->addWidget(m_cmbTable, 2, 1, 1, 2);
    grid->addWidget(NamedLabel(this, "lblOperation", "Operation:"), 3, 0);
    grid->addWidget(m_cboOperation, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(bottom.Row);
    resize(440, 220);

    ConnectCommonControls(*this);

    TranslateForm(this, Ambient);

    m_cboOperation->clear();
    m_cboOperation->addItems(Operations());
    m_cboOperation->setCurrentText(QStringLiteral("UpdateInsert"));
}

frmAddTarget::~frmAddTarget() = default;

bool frmAddTarget::ShowStep(frmWorkBench& frm)
{
    frmAddTarget dialog(&frm);
    dialog.ShowView(frm);
    return dialog.Closed() && dialog.result() == QDialog::Accepted;
}

void frmAddTarget::ShowView(frmWorkBench& frm)
{
    LoadView(frm);
    if (m_node)
        RunModalDialog(*this);
}

void frmAddTarget::LoadView(frmWorkBench& frm)
{
    m_frm = &frm;
    cShapes* shapes = frm.Process()->Shapes();
    m_node = shapes->item(shapes->CurrCtl);
    if (!m_node)
        return;
    const tStorage record = m_node->storageRecord() ? *m_node->storageRecord() : tStorage{};

    m_txtName->setText(m_node->sCaption);
    m_cmbConnection->setEditText(record.connName);
    m_cmbTable->setEditText(record.target);
    FillTables();
    m_cmbTable->setEditText(record.target);

    // A new step has no operation yet: it keeps the first one, which is
    // what the list shows, rather than an empty operation the run cannot do.
    const int operation = m_cboOperation->findText(record.shpOperation);
    if (operation >= 0)
        m_cboOperation->setCurrentIndex(operation);

    m_btnOK->setEnabled(true);
}

void frmAddTarget::cmbConnection_Click()
{
    FillTables();
}

void frmAddTarget::cmbConnection_DropDown()
{
    FillConnections();
}

void frmAddTarget::cmbTable_Click()
{
    m_btnOK->setEnabled(true);
}

void frmAddTarget::btnAddConn_Click()
{
    AddRegistryEntry();
}

void frmAddTarget::FillConnections()
{
    m_cmbConnection->setItemsKeepText(ConnectionNames());
}

void frmAddTarget::FillTables()
{
    const QString connName = m_cmbConnection->currentText();
    QStringList names;
    {
        const cWaitCursor wait;
        auto cn = OpenConnection(connName);
        if (!cn) {
            // A step without a connection yet opens quietly; the list keeps its items.
            if (!connName.trimmed().isEmpty())
                Dialogs().MsgBox(this, Tr("Error openingConnection"), MsgBoxStyle::vbOKOnly);
            return;
        }
        // Errors while the list is read are passed over: the list shows what was read.
        QString ignored;
        TablesAndViews(*cn, names, ignored);
        cn->Close();
    }
    const QSignalBlocker blocker(m_cmbTable);
    m_cmbTable->clear();
    m_cmbTable->addItems(names);
    m_cmbTable->setEditText(QString());
}

void frmAddTarget::btnOK_Click()
{
    if (!m_node)
        return;
    if (!StepNameGiven(this, m_txtName, Tr("Please enter a step name.")))
        return;
    if (m_frm && !StepNameUsable(this, m_txtName, *m_frm->Process()->Shapes(), m_node->Key, Ambient))
        return;
    const QString connName = m_cmbConnection->currentText();
    auto cn = OpenConnection(connName);
    if (!cn) {
        Dialogs().MsgBox(this, Tr("Error opening conection"), MsgBoxStyle::vbOKOnly);
        return;
    }

    // The copy shares the node's field list, and with it the mappings made
    // in the mapping panel, until the list is replaced.
    tStorage record = m_node->storageRecord() ? *m_node->storageRecord() : tStorage{};
    record.connName = connName;
    record.connString = ConnectionStringOf(connName);
    record.targettype = QStringLiteral("table");
    const QString table = m_cmbTable->currentText();
    if (table != record.target) {
        record.target = ApplySpreadsheetRule(record.connString, table);
        record.fields.reset();
    }
    record.shpOperation = m_cboOperation->currentText();

    if (!record.fields)
        record.fields = std::make_shared<tFieldsList>();
    // Without a table there is nothing to read yet.
    if (record.fields->isEmpty() && !record.target.isEmpty()) {
        QString error;
        std::optional<tFieldsRef> fields;
        {
            const cWaitCursor wait;
            fields = ReadFields(*cn, QStringLiteral("SELECT * FROM ") + cn->quoteIdentifier(record.target), true, error);
        }
        if (!fields) {
            // A target that cannot be read would leave a step that cannot be
            // mapped: say why and let the user choose another table.
            cn->Close();
            Dialogs().MsgBox(this, error, MsgBoxStyle::vbCritical);
            return;
        }
        record.fields = *fields;
    }
    cn->Close();

    cShapes* shapes = m_frm ? m_frm->Process()->Shapes() : nullptr;
    if (!shapes)
        return;
    shapes->AddElementsToNode(m_node->Key, record);
    shapes->AddCaptionToShape(m_node->Key, m_txtName->text());
    m_frm->Modified();
    accept();
}

void frmAddTarget::btnCancel_Click()
{
    reject();
}

void frmAddTarget::done(int Result)
{
    m_closed = true;
    QDialog::done(Result);
}
