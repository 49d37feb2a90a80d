#pragma once

// The modal dialog in which the user sets up a storage step: its name, its
// connection, the target table and the operation. On OK the step record
// replaces the node's record; the field list (with the mappings made in the
// workbench's mapping panel) is kept while the table stays the same and is
// read afresh from the table when it changes or is empty.
//
//   frmAddTarget::ShowStep(workbench);   // edits the current node (CurrCtl)
//
// Tests fill and press the dialog through the handlers below, from a runner
// set with cModalRunnerGuard (ModalDialogs.h).

#include <QDialog>
#include <QPointer>

#include "document/cShapes.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class cStepComboBox;
class frmWorkBench;

class frmAddTarget : public QDialog {
    Q_OBJECT
public:
    explicit frmAddTarget(QWidget* Parent = nullptr);
    ~frmAddTarget() override;

    // The operations a storage step can perform, in list order.
    static const QStringList& Operations();

    // A new dialog over the workbench, on its current node, shown modally.
    // True when the user left it with OK.
    static bool ShowStep(frmWorkBench& frm);

    // Fills the dialog from the workbench's current node and shows it
    // modally; returns when it has been closed.
    void ShowView(frmWorkBench& frm);
    // The filling part of ShowView, without showing.
    void LoadView(frmWorkBench& frm);

    // Controls.
    QLineEdit* txtName() const { return m_txtName; }
    cStepComboBox* cmbConnection() const { return m_cmbConnection; }
    QPushButton* btnAddConn() const { return m_btnAddConn; }
    cStepComboBox* cmbTable() const { return m_cmbTable; }
    QComboBox* cboOperation() const { return m_cboOperation; }
    QPushButton* btnOK() const { return m_btnOK; }
    QPushButton* btnCancel() const { return m_btnCancel; }

    // True once OK or Cancel has closed the dialog.
    bool Closed() const { return m_closed; }

    // Handlers of the controls' events, public so a test can raise them.
    void cmbConnection_Click();      // the connection changed: fill the table list
    void cmbConnection_DropDown();   // the list opens: refill it from the registry
    void cmbTable_Click();
    void btnAddConn_Click();
    void btnOK_Click();
    void btnCancel_Click();

    void done(int Result) override;

private:
    void FillConnections();
    void FillTables();

    QLineEdit* m_txtName;
    cStepComboBox* m_cmbConnection;
    QPushButton* m_btnAddConn;
    cStepComboBox* m_cmbTable;
    QComboBox* m_cboOperation;
    QPushButton* m_btnOK;
    QPushButton* m_btnCancel;

    QPointer<frmWorkBench> m_frm;
    cShapeRef m_node;
    bool m_closed = false;
};
