#pragma once

// The modal dialog that edits one scheduled job. One dialog serves every
// opening: it is hidden, not destroyed, after OK or Cancel, so it shows the
// values it last held; closing it with the window's close box counts as
// Cancel and the next opening starts from the design values again.

#include <QDateTime>
#include <QDialog>
#include <QVariant>

#include <functional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;

class frmEditScheduled : public QDialog {
    Q_OBJECT
public:
    explicit frmEditScheduled(QWidget* Parent = nullptr);

    // The dialog in use, created (loaded) on first use.
    static frmEditScheduled& Instance();
    // Unloads the dialog (as its close box does): the next Instance() loads
    // it anew with the design values.
    static void Unload();
    // Replaces the modal loop (tests): the hook gets the shown dialog and
    // presses its buttons. Empty restores the real modal loop.
    using ModalHook = std::function<void(frmEditScheduled&)>;
    static void SetModalHook(ModalHook Hook);

    // Shows the dialog modally; returns Accepted.
    bool ShowModal();

    // True after OK, false after Cancel and when the dialog loads.
    bool Accepted = false;

    // The job's values as the dialog shows them.
    void SetJob(const QString& Name, const QDateTime& From, const QDateTime& To, int Every, int KindEvery,
                const QString& Status);
    QDateTime From() const;
    QDateTime To() const;
    short Every() const;
    int KindEvery() const;
    QString Filename() const;
    QString Status() const;

    QComboBox* edtStatus() const { return m_edtStatus; }
    QComboBox* EdtKindEvery() const { return m_edtKindEvery; }
    QLineEdit* EdtEvery() const { return m_edtEvery; }
    QLineEdit* EdtFilename() const { return m_edtFilename; }
    QTimeEdit* EdtRuntime() const { return m_edtRuntime; }
    QDateEdit* EdtRuntimeday() const { return m_edtRuntimeday; }
    QTimeEdit* Edtends() const { return m_edtends; }
    QDateEdit* EdtEndsday() const { return m_edtEndsday; }
    QPushButton* OKButton() const { return m_okButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QPushButton* vlmCommand1() const { return m_vlmCommand1; }

    // The job's values are fit to be stored (JobProblem). Otherwise says why
    // and returns false.
    bool ValidateJob();

    // Why a job with these values cannot be stored and run, translated;
    // empty when it can: a file name of 1 to 255 characters, EVERY a whole
    // number from 1 to 32767 and a unit from 1 (minutes) to 4 (weeks). The
    // dialog and the schedule import apply this one rule.
    static QString JobProblem(const QString& Name, const QVariant& Every, const QVariant& KindEvery);

protected:
    void closeEvent(QCloseEvent* Event) override;

private slots:
    void OKButton_Click();
    void CancelButton_Click();
    void vlmCommand1_Click();

private:
    QComboBox* m_edtStatus = nullptr;
    QComboBox* m_edtKindEvery = nullptr;
    QLineEdit* m_edtEvery = nullptr;
    QLineEdit* m_edtFilename = nullptr;
    QTimeEdit* m_edtRuntime = nullptr;
    QDateEdit* m_edtRuntimeday = nullptr;
    QTimeEdit* m_edtends = nullptr;
    QDateEdit* m_edtEndsday = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_vlmCommand1 = nullptr;
};
