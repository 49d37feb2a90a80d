#pragma once

// The modal editor of one named formula of an integration: a VBScript text
// whose function Main gives a target field's value. It lists the steps and
// their fields for insertion, checks the text with the process's
// CheckFormula before saving, stores it in the formulas and adds its node to
// the workbench's formula tree.
//
//   frmAddFormula::FormulaName = name;      // empty for a new formula
//   frmAddFormula::FormulaText = text;
//   bool saved = frmAddFormula::ShowFormula(workbench, 0);   // 0 new, 1 edit
//
//   QString condition = ...;                // a decision node's condition
//   if (frmAddFormula::EditCondition(&workbench, condition)) store(condition);
//
// Tests fill and press the dialog through the handlers below, from a runner
// set with cModalRunnerGuard (ModalDialogs.h).

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class cShape;
class frmWorkBench;

class frmAddFormula : public QDialog {
    Q_OBJECT
public:
    // The editor's public variables, set by the caller before ShowView; they
    // keep their values between uses. The editor itself never writes them.
    static QString FormulaName;
    static QString FormulaText;

    // The script a new formula starts with.
    static QString DefaultScript();

    explicit frmAddFormula(QWidget* Parent = nullptr);
    ~frmAddFormula() override;

    // A new editor over the workbench, shown with ShowView. Mode 0 adds a
    // formula, 1 edits an existing one. True when a formula was saved.
    static bool ShowFormula(frmWorkBench& frm, int Mode);

    // Edits a decision node's condition (conditions are kept, not run, so
    // they are neither named nor checked). The steps of frm, when given, are
    // offered for insertion. True, with Condition changed, on OK.
    static bool EditCondition(frmWorkBench* frm, QString& Condition);

    // Fills the editor for the window and the mode and shows it modally.
    // Returns True when a formula was saved.
    bool ShowView(frmWorkBench& frm, int Mode);
    // The filling part of ShowView, without showing.
    void LoadView(frmWorkBench& frm, int Mode);

    // Puts one step node and its fields into the tree (replacing its entry).
    void AddFields(const cShape& Node);

    // Controls.
    QLineEdit* txtName() const { return m_txtName; }
    QPlainTextEdit* txtFormula() const { return m_txtFormula; }
    QTreeWidget* trvObjects() const { return m_trvObjects; }
    QSplitter* vlmSplitter1() const { return m_vlmSplitter1; }
    QWidget* picButtons() const { return m_picButtons; }
    QPushButton* btnOK() const { return m_btnOK; }
    QPushButton* btnCancel() const { return m_btnCancel; }

    // The text box's text with CR LF line ends (as formulas are stored).
    QString FormulaBoxText() const;
    void setFormulaBoxText(const QString& Text);

    // The full path of a tree node: its texts from the root, joined by "!".
    static QString FullPath(const QTreeWidgetItem* Item);

    bool Saved() const { return m_saved; }
    // True once OK or Cancel has closed the dialog.
    bool Closed() const { return m_closed; }

    // Handlers of the controls' events, public so a test can raise them.
    void trvObjects_DblClick();   // inserts the selected node at the caret
    void btnOK_Click();
    void btnCancel_Click();

    void done(int Result) override;

    // A formula check's error with its "On Line" and line number joined so
    // that a wrapping message box keeps them together.
    static QString KeepLineNumberTogether(const QString& CheckError);

private:
    void FillTree();
    void SaveCondition();

    QLabel* m_lblName;
    QLineEdit* m_txtName;
    QPlainTextEdit* m_txtFormula;
    QTreeWidget* m_trvObjects;
    QSplitter* m_vlmSplitter1;
    QWidget* m_picButtons;
    QPushButton* m_btnOK;
    QPushButton* m_btnCancel;

    QPointer<frmWorkBench> m_frm;
    std::int16_t m_mode = 0;
    // The name the edited formula had when the dialog opened.
    QString m_editedName;
    bool m_saved = false;
    bool m_closed = false;
    bool m_conditionMode = false;
    QString* m_condition = nullptr;
};
