#pragma once

// The modal dialog in which the user sets up the data step of an
// integration: its name, its connection, and a table or a tested query.
// On OK the step record (with the source's field list) replaces the node's
// record, the node takes the name as caption and the workbench is marked
// modified.
//
//   frmAddSource::ShowStep(workbench);   // edits the current node (CurrCtl)
//
// Tests fill and press the dialog through the handlers below, from a runner
// set with cModalRunnerGuard (ModalDialogs.h).

#include <QDialog>
#include <QPointer>

#include <memory>

#include "document/Records.h"
#include "document/cShapes.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class cStepComboBox;
class frmWorkBench;

class frmAddSource : public QDialog {
    Q_OBJECT
public:
    explicit frmAddSource(QWidget* Parent = nullptr);
    ~frmAddSource() override;

    // A new dialog over the workbench, on its current node, shown modally.
    // True when the user left it with OK.
    static bool ShowStep(frmWorkBench& frm);

    // Fills the dialog from the workbench's current node and shows it
    // modally; returns when it has been closed. The workbench learns of a
    // change only through its dirty flag.
    void ShowView(frmWorkBench& frm);
    // The filling part of ShowView, without showing.
    void LoadView(frmWorkBench& frm);

    // Controls.
    QLineEdit* txtName() const { return m_txtName; }
    cStepComboBox* cmbConnection() const { return m_cmbConnection; }
    QPushButton* btnAddConn() const { return m_btnAddConn; }
    QRadioButton* optTable() const { return m_optTable; }
    cStepComboBox* cmbTable() const { return m_cmbTable; }
    QRadioButton* optSql() const { return m_optSql; }
    QPlainTextEdit* txtSql() const { return m_txtSql; }
    QPushButton* btnTest() const { return m_btnTest; }
    QLabel* lblRecords() const { return m_lblRecords; }
    QPushButton* btnOK() const { return m_btnOK; }
    QPushButton* btnCancel() const { return m_btnCancel; }

    // True once OK or Cancel has closed the dialog.
    bool Closed() const { return m_closed; }

    // Handlers of the controls' events, public so a test can raise them.
    void cmbConnection_Click();      // a connection chosen: fill the table list
    void cmbConnection_DropDown();   // the list opens: refill it from the registry
    void cmbTable_Click();           // a table chosen
    void optTable_Click();
    void optSql_Click();
    void txtSql_Change();
    void btnAddConn_Click();
    void btnTest_Click();
    void btnOK_Click();
    void btnCancel_Click();

    void done(int Result) override;

private:
    void TableMode();
    void SqlMode();
    void FillConnections();
    void FillTables();

    QLineEdit* m_txtName;
    cStepComboBox* m_cmbConnection;
    QPushButton* m_btnAddConn;
    QRadioButton* m_optTable;
    cStepComboBox* m_cmbTable;
    QRadioButton* m_optSql;
    QPlainTextEdit* m_txtSql;
    QPushButton* m_btnTest;
    QLabel* m_lblRecords;
    QPushButton* m_btnOK;
    QPushButton* m_btnCancel;

    QPointer<frmWorkBench> m_frm;
    cShapes* m_shapes = nullptr;
    QString m_nodeKey;
    bool m_closed = false;
};
