#pragma once

// The dialog that builds and edits a connection string in the OLE DB form:
// the user picks the provider, fills its fields, sees the resulting string
// and may test it. Keys the dialog does not know are kept when editing.

#include <QDialog>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

#include "datalink/Prompts.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

// Text, a connection string, as a screen shows it: its password values
// masked with the password boxes' own character.
QString MaskedConnectionString(const QString& Text);

class frmDataLink : public QDialog {
    Q_OBJECT

public:
    // Messages and Files may be null: the real Qt boxes are used then.
    explicit frmDataLink(QWidget* Parent = nullptr, IMessageBox* Messages = nullptr, IFileChooser* Files = nullptr);
    ~frmDataLink() override;

    // Fills the fields from Text. A text that cannot be read is kept as it
    // is (and given back by ConnectionString) until a field is changed.
    void SetConnectionString(const QString& Text);
    // The string the fields make now.
    QString ConnectionString() const;

    // Opens the current string and shows success or the provider's own
    // message. Returns an empty text on success, else that message.
    QString TestConnection();

private:
    enum Page { FilePage = 0, ServerPage = 1, OdbcPage = 2 };

    void BuildWidgets();
    void FillProviders();
    int ProviderIndex(const QString& Provider) const;
    void ClearFields();
    void FieldChanged();
    void UpdateResult();
    void Browse();
    void ProviderChanged();
    QString Tr(const QString& Text) const;

    IMessageBox* m_messages;
    IFileChooser* m_files;
    std::unique_ptr<QtMessageBox> m_ownMessages;
    std::unique_ptr<QtFileChooser> m_ownFiles;

    QComboBox* m_provider = nullptr;
    QStackedWidget* m_pages = nullptr;
    QLineEdit* m_file = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_database = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_dsn = nullptr;
    QLineEdit* m_odbc = nullptr;
    QLineEdit* m_result = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_test = nullptr;

    // Keys of the edited string that no field shows, kept for its provider.
    std::vector<std::pair<QString, QString>> m_unknown;
    int m_unknownProvider = -1;
    // An unreadable string being edited, until the user changes a field.
    QString m_raw;
    bool m_keepRaw = false;
    bool m_filling = false;
};
