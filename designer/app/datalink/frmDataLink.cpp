#include "datalink/frmDataLink.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "connections/cConnections.h"
#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "stores/basUtils.h"

namespace {

constexpr int kPageRole = Qt::UserRole + 1;

// Keys each page shows, with the synonyms the data layer also accepts; the
// first of each list is the one written.
const QStringList kFileKeys = {QStringLiteral("Data Source")};
const QStringList kServerKeys = {QStringLiteral("Data Source"), QStringLiteral("Server"), QStringLiteral("Host")};
const QStringList kPortKeys = {QStringLiteral("Port")};
const QStringList kDatabaseKeys = {QStringLiteral("Initial Catalog"), QStringLiteral("Database")};
const QStringList kUserKeys = {QStringLiteral("User ID"), QStringLiteral("UID"), QStringLiteral("User")};
const QStringList kPasswordKeys = {QStringLiteral("Password"), QStringLiteral("PWD")};

bool IsOneOf(const QString& Key, const QStringList& Keys) { return Keys.contains(Key, Qt::CaseInsensitive); }

QString FirstValue(const ado::ConnectionString& Cs, const QStringList& Keys)
{
    for (const QString& k : Keys)
        if (Cs.contains(k))
            return Cs.value(k);
    return QString();
}

QString Unbraced(const QString& Value)
{
    if (Value.size() >= 2 && Value.front() == QLatin1Char('{') && Value.back() == QLatin1Char('}'))
        return Value.mid(1, Value.size() - 2);
    return Value;
}

}  // namespace

QString MaskedConnectionString(const QString& Text)
{
    const QChar mask(QApplication::style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter));
    return ado::maskConnectionPasswords(Text, mask.isNull() ? QChar(u'*') : mask);
}

frmDataLink::frmDataLink(QWidget* Parent, IMessageBox* Messages, IFileChooser* Files)
    : QDialog(Parent), m_messages(Messages), m_files(Files)
{
    if (!m_messages) {
        m_ownMessages = std::make_unique<QtMessageBox>();
        m_messages = m_ownMessages.get();
    }
    if (!m_files) {
        m_ownFiles = std::make_unique<QtFileChooser>();
        m_files = m_ownFiles.get();
    }
    setObjectName(QStringLiteral("frmDataLink"));
    BuildWidgets();
    FillProviders();
    ProviderChanged();
}

frmDataLink::~frmDataLink() = default;

QString frmDataLink::Tr(const QString& Text) const { return Translate(Text, QStringLiteral("frmDataLink")); }

void frmDataLink::BuildWidgets()
{
    setWindowTitle(Tr("Data Link Properties"));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QFormLayout;
    m_provider = new QComboBox(this);
    m_provider->setObjectName(QStringLiteral("cmbProvider"));
    top->addRow(Tr("Provider:"), m_provider);
    layout->addLayout(top);

    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("stkProvider"));
    layout->addWidget(m_pages);

    const auto lineEdit = [this](const char* Name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(Name));
        connect(edit, &QLineEdit::textChanged, this, [this] { FieldChanged(); });
        return edit;
    };

    // File-based databases.
    auto* filePage = new QWidget(m_pages);
    auto* fileForm = new QFormLayout(filePage);
    auto* fileRow = new QHBoxLayout;
    m_file = lineEdit("txtFile");
    m_browse = new QPushButton(Tr("Browse..."), filePage);
    m_browse->setObjectName(QStringLiteral("cmdBrowse"));
    connect(m_browse, &QPushButton::clicked, this, [this] { Browse(); });
    fileRow->addWidget(m_file);
    fileRow->addWidget(m_browse);
    fileForm->addRow(Tr("Database file:"), fileRow);
    m_pages->insertWidget(FilePage, filePage);

    // Database servers.
    auto* serverPage = new QWidget(m_pages);
    auto* serverForm = new QFormLayout(serverPage);
    m_server = lineEdit("txtServer");
    m_port = lineEdit("txtPort");
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_database = lineEdit("txtDatabase");
    m_user = lineEdit("txtUser");
    m_password = lineEdit("txtPassword");
    m_password->setEchoMode(QLineEdit::Password);
    serverForm->addRow(Tr("Server:"), m_server);
    serverForm->addRow(Tr("Port:"), m_port);
    serverForm->addRow(Tr("Database:"), m_database);
    serverForm->addRow(Tr("User name:"), m_user);
    serverForm->addRow(Tr("Password:"), m_password);
    m_pages->insertWidget(ServerPage, serverPage);

    // ODBC: a data source name and/or the rest of an ODBC connection string.
    auto* odbcPage = new QWidget(m_pages);
    auto* odbcForm = new QFormLayout(odbcPage);
    m_dsn = lineEdit("txtDsn");
    m_odbc = lineEdit("txtOdbc");
    m_odbc->setPlaceholderText(QStringLiteral("Driver={SQLite3};Database=/path/file.db"));
    odbcForm->addRow(Tr("Data source name (DSN):"), m_dsn);
    odbcForm->addRow(Tr("ODBC connection string:"), m_odbc);
    m_pages->insertWidget(OdbcPage, odbcPage);

    auto* resultForm = new QFormLayout;
    m_result = new QLineEdit(this);
    m_result->setObjectName(QStringLiteral("txtConnectionString"));
    m_result->setReadOnly(true);
    resultForm->addRow(Tr("Connection string:"), m_result);
    layout->addLayout(resultForm);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    auto* buttons = new QDialogButtonBox(this);
    m_test = buttons->addButton(Tr("Test Connection"), QDialogButtonBox::ActionRole);
    m_test->setObjectName(QStringLiteral("cmdTest"));
    connect(m_test, &QPushButton::clicked, this, [this] { TestConnection(); });
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setText(Tr("OK"));
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setText(Tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_provider, &QComboBox::currentIndexChanged, this, [this] { FieldChanged(); });
    resize(520, sizeHint().height());
}

void frmDataLink::FillProviders()
{
    m_filling = true;
    m_provider->clear();
    const auto add = [this](const QString& Text, const QString& Provider, Page P) {
        m_provider->addItem(Text, Provider);
        m_provider->setItemData(m_provider->count() - 1, static_cast<int>(P), kPageRole);
    };
    add(QStringLiteral("SQLite"), QStringLiteral("SQLite"), FilePage);
    add(QStringLiteral("PostgreSQL"), QStringLiteral("PostgreSQL"), ServerPage);
    add(QStringLiteral("ODBC"), QStringLiteral("MSDASQL"), OdbcPage);
    // Any other installed Qt SQL driver, named by its driver name.
    for (const QString& driver : QSqlDatabase::drivers()) {
        if (driver == QLatin1String("QSQLITE") || driver == QLatin1String("QPSQL") || driver == QLatin1String("QODBC") ||
            driver.startsWith(QLatin1String("QSQLITE")) || driver.startsWith(QLatin1String("QPSQL")) ||
            driver.startsWith(QLatin1String("QODBC")))
            continue;
        add(driver, driver, ServerPage);
    }
    m_provider->setCurrentIndex(0);
    m_filling = false;
}

int frmDataLink::ProviderIndex(const QString& Provider) const
{
    for (int i = 0; i < m_provider->count(); ++i)
        if (m_provider->itemData(i).toString().compare(Provider, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void frmDataLink::ClearFields()
{
    for (QLineEdit* edit : {m_file, m_server, m_port, m_database, m_user, m_password, m_dsn, m_odbc})
        edit->clear();
    m_unknown.clear();
    m_unknownProvider = -1;
}

void frmDataLink::SetConnectionString(const QString& Text)
{
    m_filling = true;
    FillProviders();
    m_filling = true;
    ClearFields();
    m_keepRaw = false;
    m_raw.clear();
    m_status->clear();

    QString error;
    const std::optional<ado::ConnectionString> parsed = ado::ConnectionString::parse(Text, &error);
    if (!parsed) {
        // Nothing is lost: the text stays the result until the user builds a new one.
        m_raw = Text;
        m_keepRaw = true;
        m_status->setText(Tr("The connection string cannot be read:") + QLatin1Char(' ') + error);
        m_filling = false;
        ProviderChanged();
        return;
    }
    const ado::ConnectionString& cs = *parsed;

    int index = -1;
    const QString written = cs.provider();
    switch (cs.providerKind()) {
    case ado::ProviderKind::SQLite: index = 0; break;
    case ado::ProviderKind::PostgreSQL: index = 1; break;
    case ado::ProviderKind::ODBC: index = 2; break;
    default:
        index = ProviderIndex(written);
        if (index < 0) {
            // A provider this system does not list: shown with the server fields, kept as written.
            m_provider->addItem(written, written);
            index = m_provider->count() - 1;
            m_provider->setItemData(index, static_cast<int>(ServerPage), kPageRole);
        }
        break;
    }
    if (!written.isEmpty())
        m_provider->setItemData(index, written);  // keep the provider's spelling ("ODBC", "sqlite")
    m_provider->setCurrentIndex(index);

    const Page page = static_cast<Page>(m_provider->itemData(index, kPageRole).toInt());
    QStringList shown = {QStringLiteral("Provider")};
    switch (page) {
    case FilePage:
        m_file->setText(FirstValue(cs, kFileKeys));
        shown << kFileKeys;
        break;
    case ServerPage:
        m_server->setText(FirstValue(cs, kServerKeys));
        m_port->setText(FirstValue(cs, kPortKeys));
        m_database->setText(FirstValue(cs, kDatabaseKeys));
        m_user->setText(FirstValue(cs, kUserKeys));
        m_password->setText(FirstValue(cs, kPasswordKeys));
        shown << kServerKeys << kPortKeys << kDatabaseKeys << kUserKeys << kPasswordKeys;
        break;
    case OdbcPage: {
        m_dsn->setText(Unbraced(cs.value(QStringLiteral("DSN"))));
        // Every other key is part of the ODBC string.
        ado::ConnectionString rest;
        for (const auto& [key, value] : cs.pairs())
            if (!IsOneOf(key, {QStringLiteral("Provider"), QStringLiteral("DSN")}))
                rest.set(key, value);
        m_odbc->setText(rest.toString());
        shown << QStringLiteral("DSN");
        for (const auto& pair : rest.pairs())
            shown << pair.first;
        break;
    }
    }
    for (const auto& [key, value] : cs.pairs())
        if (!IsOneOf(key, shown))
            m_unknown.emplace_back(key, value);
    m_unknownProvider = index;

    m_filling = false;
    ProviderChanged();
}

QString frmDataLink::ConnectionString() const
{
    if (m_keepRaw)
        return m_raw;
    const int index = m_provider->currentIndex();
    ado::ConnectionString cs;
    cs.set(QStringLiteral("Provider"), m_provider->itemData(index).toString());
    const auto put = [&cs](const QString& Key, const QString& Value) {
        if (!Value.isEmpty())
            cs.set(Key, Value);
    };
    switch (static_cast<Page>(m_provider->itemData(index, kPageRole).toInt())) {
    case FilePage: put(kFileKeys.first(), m_file->text()); break;
    case ServerPage:
        put(kServerKeys.first(), m_server->text().trimmed());
        put(kPortKeys.first(), m_port->text().trimmed());
        put(kDatabaseKeys.first(), m_database->text());
        put(kUserKeys.first(), m_user->text());
        put(kPasswordKeys.first(), m_password->text());
        break;
    case OdbcPage: {
        put(QStringLiteral("DSN"), m_dsn->text().trimmed());
        if (const auto rest = ado::ConnectionString::parse(m_odbc->text()))
            for (const auto& [key, value] : rest->pairs())
                if (key.compare(QLatin1String("Provider"), Qt::CaseInsensitive) != 0 &&
                    (key.compare(QLatin1String("DSN"), Qt::CaseInsensitive) != 0 || m_dsn->text().trimmed().isEmpty()))
                    cs.set(key, value);
        break;
    }
    }
    if (index == m_unknownProvider)
        for (const auto& [key, value] : m_unknown)
            cs.set(key, value);
    return cs.toString();
}

void frmDataLink::ProviderChanged()
{
    if (m_filling)
        return;
    const int index = m_provider->currentIndex();
    if (index >= 0)
        m_pages->setCurrentIndex(m_provider->itemData(index, kPageRole).toInt());
    UpdateResult();
}

void frmDataLink::FieldChanged()
{
    if (m_filling)
        return;
    // A change to any field replaces an unreadable string with the built one.
    if (m_keepRaw) {
        m_keepRaw = false;
        m_status->clear();
    }
    ProviderChanged();
}

void frmDataLink::UpdateResult()
{
    if (m_filling)
        return;
    if (!m_keepRaw && m_pages->currentIndex() == OdbcPage && !m_odbc->text().trimmed().isEmpty()) {
        QString error;
        if (!ado::ConnectionString::parse(m_odbc->text(), &error))
            m_status->setText(Tr("The ODBC connection string cannot be read:") + QLatin1Char(' ') + error);
        else
            m_status->clear();
    }
    // The password box masks what is typed: the string built from it does too.
    m_result->setText(MaskedConnectionString(ConnectionString()));
    m_result->setCursorPosition(0);
}

void frmDataLink::Browse()
{
    const QString current = m_file->text();
    const QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    const QString chosen = m_files->OpenFileName(
        this, Tr("Select the database file"), folder,
        Tr("SQLite databases") + QStringLiteral(" (*.db *.db3 *.sqlite *.sqlite3);;") + Tr("All files") +
            QStringLiteral(" (*)"));
    if (!chosen.isEmpty())
        m_file->setText(chosen);
}

QString frmDataLink::TestConnection()
{
    ado::Connection connection;
    QString error;
    if (!connection.Open(ConnectionString())) {
        error = connection.lastError().Description;
        if (error.isEmpty())
            error = Tr("The connection could not be opened.");
    }
    connection.Close();
    if (error.isEmpty())
        m_messages->MsgBox(this, Tr("Test connection succeeded."), MsgBoxStyle::vbInformation, Tr("Test Connection"));
    else
        m_messages->MsgBox(this, error, MsgBoxStyle::vbCritical, Tr("Test Connection"));
    return error;
}
