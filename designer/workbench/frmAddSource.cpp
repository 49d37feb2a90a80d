#include "workbench/frmAddSource.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
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

const QString Ambient = QStringLiteral("frmAddSource");

QString Tr(const char* Text)
{
    return Translate(QString::fromUtf8(Text), Ambient);
}

}  // namespace

frmAddSource::frmAddSource(QWidget* Parent)
    : QDialog(Parent)
{
    setObjectName(Ambient);
    setWindowTitle(QStringLiteral("Add Source..."));
    setModal(true);

    auto* grid = new QGridLayout;
    const cNameAndConnection top = AddNameAndConnectionRows(*this, *grid);
    m_txtName = top.txtName;
    m_cmbConnection = top.cmbConnection;
    m_btnAddConn = top.btnAddConn;
    m_optTable = new QRadioButton(QStringLiteral("Use Table:"), this);
    m_optTable->setObjectName(QStringLiteral("optTable"));
    m_cmbTable = new cStepComboBox(this);
    m_cmbTable->setObjectName(QStringLiteral("cmbTable"));
    m_optSql = new QRadioButton(QStringLiteral("Use Query:"), this);
    m_optSql->setObjectName(QStringLiteral("optSql"));
    m_txtSql = new QPlainTextEdit(this);
    m_txtSql->setObjectName(QStringLiteral("txtSql"));
    m_btnTest = new QPushButton(QStringLiteral("TEST"), this);
    m_btnTest->setObjectName(QStringLiteral("btnTest"));
    m_btnTest->setAutoDefault(false);
    m_lblRecords = new QLabel(this);
    m_lblRecords->setObjectName(QStringLiteral("lblRecords"));
    const cOkCancel bottom = AddOkCancelRow(*this);
    m_btnOK = bottom.btnOK;
    m_btnCancel = bottom.btnCancel;

    grid->addWidget(m_optTable, 2, 0, 1, 3);
    grid->addWidget(NamedLabel(this, "lblTable", "Table:"), 3, 0);
    grid->addWidget(m_cmbTable, 3, 1, 1, 2);
    grid->addWidget(m_optSql, 4, 0, 1, 3);
    grid->addWidget(NamedLabel(this, "lblQuery", "Query:"), 5, 0, Qt::AlignTop);
    grid->addWidget(m_txtSql, 5, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);

    auto* testRow = new QHBoxLayout;
    testRow->addWidget(m_btnTest);
    testRow->addWidget(m_lblRecords, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(testRow);
    layout->addLayout(bottom.Row);
    resize(480, 420);

    ConnectCommonControls(*this);
    connect(m_optTable, &QRadioButton::clicked, this, [this] { optTable_Click(); });
    connect(m_optSql, &QRadioButton::clicked, this, [this] { optSql_Click(); });
    connect(m_txtSql, &QPlainTextEdit::textChanged, this, [this] { txtSql_Change(); });
    connect(m_btnTest, &QPushButton::clicked, this, [this] { btnTest_Click(); });

    TranslateForm(this, Ambient);

    m_btnOK->setEnabled(false);
    m_btnTest->setEnabled(false);
    m_optTable->setChecked(true);
    TableMode();
}

frmAddSource::~frmAddSource() = default;

bool frmAddSource::ShowStep(frmWorkBench& frm)
{
    frmAddSource dialog(&frm);
    dialog.ShowView(frm);
    return dialog.Closed() && dialog.result() == QDialog::Accepted;
}

void frmAddSource::ShowView(frmWorkBench& frm)
{
    LoadView(frm);
    if (m_shapes && !m_nodeKey.isEmpty())
        RunModalDialog(*this);
}

void frmAddSource::LoadView(frmWorkBench& frm)
{
    m_frm = &frm;
    m_shapes = frm.Process()->Shapes();
    const cShapeRef node = m_shapes->item(m_shapes->CurrCtl);
    if (!node) {
        m_nodeKey.clear();
        return;
    }
    m_nodeKey = node->Key;
    const tData record = node->dataRecord() ? *node->dataRecord() : tData{};

    if (!record.connName.isEmpty()) {
        m_cmbConnection->setEditText(record.connName);
        FillConnections();
        FillTables();
    }
    m_txtName->setText(node->sCaption);

    if (record.sourcetype == QLatin1String("table")) {
        m_optTable->setChecked(true);
        m_cmbTable->setEditText(record.Source);
        TableMode();
    } else if (record.sourcetype == QLatin1String("sql")) {
        m_optSql->setChecked(true);
        m_txtSql->setPlainText(record.Source);
        SqlMode();
    }
    // Any other type is a new step: the dialog stays as loaded (table mode, empty).
}

void frmAddSource::TableMode()
{
    m_cmbTable->setEnabled(true);
    if (!m_cmbTable->currentText().isEmpty())
        m_btnOK->setEnabled(true);
    m_txtSql->setReadOnly(true);
    m_btnTest->setEnabled(false);
}

void frmAddSource::SqlMode()
{
    m_cmbTable->setEnabled(false);
    m_btnOK->setEnabled(true);
    m_txtSql->setReadOnly(false);
    m_btnTest->setEnabled(true);
}

void frmAddSource::optTable_Click()
{
    m_optTable->setChecked(true);
    TableMode();
}

void frmAddSource::optSql_Click()
{
    m_optSql->setChecked(true);
    SqlMode();
}

void frmAddSource::txtSql_Change()
{
    // A changed query has to pass a test again before it is accepted.
    if (!m_txtSql->isReadOnly())
        m_btnOK->setEnabled(false);
}

void frmAddSource::cmbTable_Click()
{
    m_btnOK->setEnabled(true);
}

void frmAddSource::cmbConnection_Click()
{
    FillTables();
}

void frmAddSource::cmbConnection_DropDown()
{
    FillConnections();
}

void frmAddSource::FillConnections()
{
    m_cmbConnection->setItemsKeepText(ConnectionNames());
}

void frmAddSource::FillTables()
{
    {
        const QSignalBlocker blocker(m_cmbTable);
        m_cmbTable->clear();
        m_cmbTable->setEditText(QString());
    }
    QString error;
    QStringList names;
    {
        const cWaitCursor wait;
        auto cn = OpenConnection(m_cmbConnection->currentText());
        if (!cn) {
            Dialogs().MsgBox(this, Tr("Error opening connection"), MsgBoxStyle::vbOKOnly);
            return;
        }
        TablesAndViews(*cn, names, error);
        cn->Close();
    }
    // The list keeps what was read before an error.
    m_cmbTable->setItemsKeepText(names);
    if (!error.isEmpty())
        Dialogs().MsgBox(this, error, MsgBoxStyle::vbOKOnly);
}

void frmAddSource::btnAddConn_Click()
{
    AddRegistryEntry();
}

void frmAddSource::btnTest_Click()
{
    if (!m_optSql->isChecked())
        return;
    QString error;
    long count = -1;
    {
        const cWaitCursor wait;
        auto cn = OpenConnection(m_cmbConnection->currentText());
        if (!cn) {
            Dialogs().MsgBox(this, Tr("Error opening connection"), MsgBoxStyle::vbOKOnly);
            return;
        }
        // A test reads; whatever the statement does is rolled back.
        const bool inTransaction = cn->BeginTrans() > 0;
        cn->Errors().Clear();
        ado::Recordset rs;
        const bool opened = rs.Open(m_txtSql->toPlainText(), *cn, ado::adOpenForwardOnly, ado::adLockReadOnly);
        if (!opened || cn->Errors().Count() > 0) {
            error = cn->Errors().Count() > 0 ? cn->Errors().Item(0).Description : rs.lastError().Description;
        } else if (rs.isOpen()) {
            count = rs.RecordCount();
            if (count < 0) {
                // The count query was refused; count the rows one by one.
                count = 0;
                for (; !rs.IsEOF(); rs.MoveNext())
                    ++count;
            }
        } else {
            count = 0;
        }
        rs.Close();
        if (inTransaction)
            cn->RollbackTrans();
        cn->Close();
    }
    if (!error.isEmpty()) {
        Dialogs().MsgBox(this, error, MsgBoxStyle::vbCritical);
        return;
    }
    m_lblRecords->setText(QLatin1Char('[') + QString::number(count) + Tr(" records affected]"));
    m_btnOK->setEnabled(true);
}

void frmAddSource::btnOK_Click()
{
    if (!m_shapes || m_nodeKey.isEmpty())
        return;
    if (!StepNameGiven(this, m_txtName, Tr("Please enter a step name.")))
        return;
    if (!StepNameUsable(this, m_txtName, *m_shapes, m_nodeKey, Ambient))
        return;
    const QString connName = m_cmbConnection->currentText();
    auto cn = OpenConnection(connName);
    if (!cn) {
        Dialogs().MsgBox(this, Tr("Error opening connection"), MsgBoxStyle::vbOKOnly);
        return;
    }

    tData record;
    record.connName = connName;
    record.connString = ConnectionStringOf(connName);
    QString select;
    if (m_optTable->isChecked()) {
        record.sourcetype = QStringLiteral("table");
        record.Source = ApplySpreadsheetRule(record.connString, m_cmbTable->currentText());
        select = QStringLiteral("SELECT * FROM ") + cn->quoteIdentifier(record.Source) + QStringLiteral(" where 1=2");
    } else {
        record.sourcetype = QStringLiteral("sql");
        record.Source = m_txtSql->toPlainText();
        select = record.Source;
    }
    if (!record.Source.isEmpty()) {
        // A source that cannot be read would leave a step without fields:
        // say why and let the user choose another table or mend the query.
        QString error;
        std::optional<tFieldsRef> fields;
        {
            const cWaitCursor wait;
            fields = ReadFields(*cn, select, false, error);
        }
        if (!fields) {
            cn->Close();
            Dialogs().MsgBox(this, error, MsgBoxStyle::vbCritical);
            return;
        }
        record.fields = *fields;
    }
    cn->Close();

    m_shapes->AddElementsToNode(m_nodeKey, record);
    m_shapes->AddCaptionToShape(m_nodeKey, m_txtName->text());
    if (m_frm)
        m_frm->Modified();
    accept();
}

void frmAddSource::btnCancel_Click()
{
    reject();
}

void frmAddSource::done(int Result)
{
    m_closed = true;
    QDialog::done(Result);
}
