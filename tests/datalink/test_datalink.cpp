#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <deque>

#include "connections/cConnections.h"
#include "data/Connection.h"
#include "datalink/cDataLinkPrompts.h"
#include "datalink/frmDataLink.h"

namespace {

class RecordingMessages : public IMessageBox {
public:
    int MsgBox(QWidget*, const QString& Prompt, int Buttons, const QString&) override
    {
        prompts << Prompt;
        styles << Buttons;
        return MsgBoxResult::vbOK;
    }
    QStringList prompts;
    QList<int> styles;
};

class ScriptedInputs : public IInputBox {
public:
    std::optional<QString> InputBox(QWidget*, const QString&, const QString&, const QString&) override
    {
        if (answers.empty())
            return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<std::optional<QString>> answers;
};

class FixedFile : public IFileChooser {
public:
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return file; }
    QString file;
};

class DataLinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "test_datalink";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);  // lives for the whole run
    }

    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        qputenv("MERIDOX_HOME", home.path().toUtf8());
    }

    template <typename T>
    T* Child(frmDataLink& Dialog, const char* Name)
    {
        T* w = Dialog.findChild<T*>(QLatin1String(Name));
        EXPECT_NE(w, nullptr) << Name;
        return w;
    }

    static QString RoundTrip(frmDataLink& Dialog, const QString& Text)
    {
        Dialog.SetConnectionString(Text);
        return Dialog.ConnectionString();
    }

    QString MakeDatabase(const QString& Name)
    {
        const QString path = home.filePath(Name);
        ado::Connection cn;
        cn.setCreateIfMissing(true);
        EXPECT_TRUE(cn.Open(QStringLiteral("Provider=SQLite;Data Source=") + path));
        cn.Execute(QStringLiteral("CREATE TABLE t (id INTEGER)"));
        cn.Close();
        return path;
    }

    QTemporaryDir home;
    RecordingMessages messages;
    FixedFile files;
};

TEST_F(DataLinkTest, RoundTripsEachProviderAndKeepsUnknownKeys)
{
    frmDataLink dialog(nullptr, &messages, &files);

    const QString sqlite = QStringLiteral("Provider=SQLite;Data Source=/data/ventas ñ.db;Mode=Read");
    EXPECT_EQ(RoundTrip(dialog, sqlite), sqlite);
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtFile")->text(), QStringLiteral("/data/ventas ñ.db"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtConnectionString")->text(), sqlite);

    const QString pg = QStringLiteral(
        "Provider=PostgreSQL;Data Source=db.example;Port=5433;Initial Catalog=sales;User ID=ana;Password=\"p;w'd\";"
        "sslmode=require");
    EXPECT_EQ(RoundTrip(dialog, pg), pg);
    EXPECT_EQ(Child<QComboBox>(dialog, "cmbProvider")->currentText(), QStringLiteral("PostgreSQL"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtPassword")->text(), QStringLiteral("p;w'd"));
    // The string shown under the fields masks the password as its box does.
    const QString shown = Child<QLineEdit>(dialog, "txtConnectionString")->text();
    EXPECT_FALSE(shown.contains(QStringLiteral("p;w'd"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("User ID=ana;Password=\"")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\";sslmode=require"))) << shown.toStdString();
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtConnectionString")->displayText(), shown);
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtPort")->text(), QStringLiteral("5433"));

    // Synonyms fill the same fields and are written the usual way.
    EXPECT_EQ(RoundTrip(dialog, QStringLiteral("provider=postgresql;Server=h;Database=d;UID=u;PWD=p;")),
              QStringLiteral("Provider=postgresql;Data Source=h;Initial Catalog=d;User ID=u;Password=p"));

    const QString dsn = QStringLiteral("Provider=MSDASQL;DSN=warehouse;UID=u");
    EXPECT_EQ(RoundTrip(dialog, dsn), dsn);
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtDsn")->text(), QStringLiteral("warehouse"));
    EXPECT_EQ(RoundTrip(dialog, QStringLiteral("Provider=ODBC;Driver={SQLite3};Database=\"/x;y.db\"")),
              QStringLiteral("Provider=ODBC;Driver={SQLite3};Database=\"/x;y.db\""));
    EXPECT_TRUE(Child<QLineEdit>(dialog, "txtOdbc")->text().startsWith(QStringLiteral("Driver={SQLite3}")));

    // A provider the dialog does not list is kept with everything it carries.
    const QString other = QStringLiteral("Provider=Acme.OLEDB.3;Data Source=srv;Extended Properties=\"a=b\"");
    EXPECT_EQ(RoundTrip(dialog, other), other);

    // An unreadable string is given back unchanged until a field is edited.
    const QString broken = QStringLiteral("Provider=SQLite;Data Source='/no/end");
    EXPECT_EQ(RoundTrip(dialog, broken), broken);
    EXPECT_FALSE(Child<QLabel>(dialog, "lblStatus")->text().isEmpty());
    Child<QLineEdit>(dialog, "txtFile")->setText(QStringLiteral("/fixed.db"));
    EXPECT_EQ(dialog.ConnectionString(), QStringLiteral("Provider=SQLite;Data Source=/fixed.db"));
}

TEST_F(DataLinkTest, BuildsAStringFromTheFields)
{
    frmDataLink dialog(nullptr, &messages, &files);
    dialog.SetConnectionString(QStringLiteral("Provider=SQLite;Data Source=/a.db;Cache=Shared"));

    // Another provider: the old provider's extra keys do not follow.
    auto* provider = Child<QComboBox>(dialog, "cmbProvider");
    provider->setCurrentIndex(provider->findText(QStringLiteral("PostgreSQL")));
    Child<QLineEdit>(dialog, "txtServer")->setText(QStringLiteral("localhost"));
    Child<QLineEdit>(dialog, "txtDatabase")->setText(QStringLiteral("db"));
    Child<QLineEdit>(dialog, "txtUser")->setText(QStringLiteral("me"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "txtConnectionString")->text(),
              QStringLiteral("Provider=PostgreSQL;Data Source=localhost;Initial Catalog=db;User ID=me"));

    provider->setCurrentIndex(provider->findText(QStringLiteral("SQLite")));
    files.file = QStringLiteral("/chosen/file.db");
    Child<QPushButton>(dialog, "cmdBrowse")->click();
    // Back on the edited string's provider, its extra keys return.
    EXPECT_EQ(dialog.ConnectionString(), QStringLiteral("Provider=SQLite;Data Source=/chosen/file.db;Cache=Shared"));

    provider->setCurrentIndex(provider->findText(QStringLiteral("ODBC")));
    Child<QLineEdit>(dialog, "txtOdbc")->setText(QStringLiteral("Driver={SQLite3};Database=/o.db"));
    EXPECT_EQ(dialog.ConnectionString(), QStringLiteral("Provider=MSDASQL;Driver={SQLite3};Database=/o.db"));
}

TEST_F(DataLinkTest, TestConnectionReportsSuccessOrTheProviderMessage)
{
    const QString db = MakeDatabase(QStringLiteral("good.db"));
    frmDataLink dialog(nullptr, &messages, &files);
    dialog.SetConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + db);
    Child<QPushButton>(dialog, "cmdTest")->click();
    ASSERT_EQ(messages.prompts.size(), 1);
    EXPECT_EQ(messages.prompts.front(), QStringLiteral("Test connection succeeded."));
    EXPECT_EQ(messages.styles.front(), MsgBoxStyle::vbInformation);

    const QString missing = home.filePath(QStringLiteral("missing.db"));
    dialog.SetConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + missing);
    const QString error = dialog.TestConnection();
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(messages.prompts.back(), error);
    EXPECT_EQ(messages.styles.back(), MsgBoxStyle::vbCritical);
    EXPECT_FALSE(QFileInfo::exists(missing));  // testing never creates a database

    // Not a database at all: the provider's own words reach the user.
    const QString junk = home.filePath(QStringLiteral("junk.db"));
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    dialog.SetConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + junk);
    EXPECT_FALSE(dialog.TestConnection().isEmpty());
}

TEST_F(DataLinkTest, TestConnectionAgainstTheServer)
{
    const QString server = qEnvironmentVariable("MERIDOX_PG_CONNECTION");
    if (server.isEmpty())
        GTEST_SKIP() << "MERIDOX_PG_CONNECTION is not set";
    frmDataLink dialog(nullptr, &messages, &files);
    dialog.SetConnectionString(server);
    EXPECT_EQ(dialog.TestConnection(), QString());

    Child<QLineEdit>(dialog, "txtDatabase")->setText(QStringLiteral("no_such_database_here"));
    const QString error = dialog.TestConnection();
    EXPECT_TRUE(error.contains(QStringLiteral("no_such_database_here"))) << error.toStdString();
}

TEST_F(DataLinkTest, RegistryUsesTheDialogThroughThePrompts)
{
    ScriptedInputs inputs;
    cDataLinkPrompts prompts(nullptr, &messages, &inputs, &files);
    QString next = QStringLiteral("/new.db");
    bool accept = true;
    prompts.SetDialogRunner([&](frmDataLink& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("txtFile"))->setText(next);
        return accept ? QDialog::Accepted : QDialog::Rejected;
    });

    cConnections registry;
    registry.SetPrompts(&prompts);
    inputs.answers.push_back(QStringLiteral("Local"));
    ASSERT_TRUE(registry.CreateConnection());
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("Local")), QStringLiteral("Provider=SQLite;Data Source=/new.db;"));

    // The edit dialog opens on the stored string; a cancel keeps it.
    accept = false;
    EXPECT_FALSE(registry.ModifyConnection(QStringLiteral("Local")));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("Local")), QStringLiteral("Provider=SQLite;Data Source=/new.db;"));

    accept = true;
    next = QStringLiteral("/edited.db");
    inputs.answers.push_back(QString());
    EXPECT_TRUE(registry.ModifyConnection(QStringLiteral("Local")));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("Local")),
              QStringLiteral("Provider=SQLite;Data Source=/edited.db;"));

    // A cancelled new dialog asks nothing else.
    accept = false;
    EXPECT_FALSE(registry.CreateConnection());
    EXPECT_TRUE(messages.prompts.isEmpty());
}

}  // namespace
