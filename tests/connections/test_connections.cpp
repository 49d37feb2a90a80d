#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <deque>

#include <sys/stat.h>

#include "connections/cConnections.h"

namespace {

// Answers the registry's questions from queues and records the messages.
class ScriptedPrompts : public IConnectionPrompts {
public:
    std::deque<std::optional<QString>> newAnswers;
    std::deque<std::optional<QString>> editAnswers;  // nothing = cancel
    std::deque<std::optional<QString>> inputAnswers;
    QStringList messages;
    QList<int> styles;
    QStringList inputDefaults;

    std::optional<QString> PromptNew() override { return Take(newAnswers); }
    bool PromptEdit(QString& ConnectionString) override
    {
        const std::optional<QString> answer = Take(editAnswers);
        if (!answer)
            return false;
        ConnectionString = *answer;
        return true;
    }
    std::optional<QString> InputBox(const QString&, const QString&, const QString& Default) override
    {
        inputDefaults << Default;
        return Take(inputAnswers);
    }
    int MsgBox(const QString& Prompt, int Buttons, const QString&) override
    {
        messages << Prompt;
        styles << Buttons;
        return MsgBoxResult::vbOK;
    }

private:
    static std::optional<QString> Take(std::deque<std::optional<QString>>& Queue)
    {
        if (Queue.empty())
            return std::nullopt;
        auto value = Queue.front();
        Queue.pop_front();
        return value;
    }
};

class ConnectionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        qputenv("MERIDOX_HOME", home.path().toUtf8());
        registry.SetPrompts(&prompts);
    }

    QString FilePath() const { return home.filePath(QStringLiteral("connections.cnn")); }

    void WriteFile(const QByteArray& Content)
    {
        QFile f(FilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(Content);
    }

    QByteArray ReadFile() const
    {
        QFile f(FilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QStringList Names() const
    {
        QStringList names;
        for (const tConnection& c : registry.ConnectionsList())
            names << c.name;
        return names;
    }

    // Puts entries in the registry the way a user does.
    void Create(const QString& Name, const QString& String)
    {
        prompts.newAnswers.push_back(String);
        prompts.inputAnswers.push_back(Name);
        ASSERT_TRUE(registry.CreateConnection());
    }

    QTemporaryDir home;
    ScriptedPrompts prompts;
    cConnections registry;
};

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const QByteArray kRootStart =
    "<connections lastconn=\"\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xsi:noNamespaceSchemaLocation=\"connections.xsd\"";

TEST_F(ConnectionsTest, SavesTheExactLayoutOwnerOnlyAndLoadsItBack)
{
    WriteFile("old");
    ASSERT_EQ(::chmod(QFile::encodeName(FilePath()).constData(), 0644), 0);
    EXPECT_EQ(registry.SaveConnections(), QString());
    EXPECT_EQ(ReadFile(), kDeclaration + kRootStart + "/>");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(FilePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    Create(QStringLiteral("Sales & <Co>"), QStringLiteral("Provider=SQLite;Data Source=/tmp/ventas ñ.db"));
    Create(QStringLiteral("pg"), QStringLiteral("Provider=PostgreSQL;Data Source=h;Password=\"a;b\""));
    EXPECT_EQ(registry.SaveConnections(), QString());
    const QByteArray text = ReadFile();
    EXPECT_TRUE(text.startsWith(kDeclaration + kRootStart + "><connection><connname>Sales &amp; &lt;Co&gt;</connname>"
                                                            "<connstring>Provider=SQLite;Data Source=/tmp/ventas "))
        << text.constData();
    EXPECT_TRUE(text.endsWith("</connstring></connection></connections>")) << text.constData();

    cConnections reloaded;
    EXPECT_EQ(reloaded.LoadConnections(), QString());
    ASSERT_EQ(reloaded.ConnectionsList().Count(), 2);
    EXPECT_EQ(reloaded.ConnectionsList().Item(1)->name, QStringLiteral("Sales & <Co>"));
    EXPECT_EQ(reloaded.ConnectionsList().Item(1)->connString,
              QStringLiteral("Provider=SQLite;Data Source=/tmp/ventas ñ.db;"));
    EXPECT_EQ(reloaded.ConnectionsList().Item(2)->connString,
              QStringLiteral("Provider=PostgreSQL;Data Source=h;Password=\"a;b\";"));
    EXPECT_FALSE(reloaded.ConnectionsList().Item(3).has_value());
    EXPECT_FALSE(reloaded.ConnectionsList().Item(0).has_value());
}

TEST_F(ConnectionsTest, ReadsEntriesByLocalNameWithTheReadingRules)
{
    WriteFile("<?xml version=\"1.0\"?>\n"
              "<anyroot lastconn=\"old\" xmlns:m=\"urn:x\">\n"
              "  <connection><connstring>B;</connstring><connname>second-first</connname></connection>\n"
              "  <m:connection><m:connname>prefixed</m:connname><m:connstring>P;</m:connstring></m:connection>\n"
              "  <other><connname>ignored</connname></other>\n"
              "  <connection><connstring>nameless;</connstring><note>x</note></connection>\n"
              "  <connection><connname>twice</connname><connname>later</connname><connstring/></connection>\n"
              "</anyroot>");
    EXPECT_EQ(registry.LoadConnections(), QString());
    EXPECT_EQ(Names(), (QStringList{"second-first", "prefixed", "", "later"}));
    EXPECT_EQ(registry.ConnectionsList().Item(1)->connString, QStringLiteral("B;"));
    EXPECT_EQ(registry.ConnectionsList().Item(3)->connString, QStringLiteral("nameless;"));
    EXPECT_EQ(registry.ConnectionsList().Item(4)->connString, QString());
    EXPECT_TRUE(prompts.messages.isEmpty());

    // lastconn is not read, and written back empty.
    EXPECT_EQ(registry.SaveConnections(), QString());
    EXPECT_TRUE(ReadFile().contains(kRootStart + ">"));
}

TEST_F(ConnectionsTest, RepeatedNamesLoadEveryOtherEntryAndAreReported)
{
    Create(QStringLiteral("held"), QStringLiteral("Provider=SQLite;Data Source=/held.db"));
    WriteFile("<connections><connection><connname>a</connname><connstring>1;</connstring></connection>"
              "<connection><connname>A</connname><connstring>2;</connstring></connection>"
              "<connection><connname>HELD</connname><connstring>3;</connstring></connection>"
              "<connection><connname>b</connname><connstring>4;</connstring></connection></connections>");
    const QString report = registry.LoadConnections();
    EXPECT_EQ(Names(), (QStringList{"held", "a", "b"}));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("A")), QStringLiteral("1;"));  // the first one wins
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("held")), QStringLiteral("Provider=SQLite;Data Source=/held.db;"));
    EXPECT_TRUE(report.contains(QStringLiteral("\r\nA")));
    EXPECT_TRUE(report.contains(QStringLiteral("HELD")));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.styles.front(), MsgBoxStyle::vbExclamation);

    // Loading the same file again adds nothing new and reports every name.
    registry.LoadConnections();
    EXPECT_EQ(registry.ConnectionsList().Count(), 3);
}

TEST_F(ConnectionsTest, UnreadableFileShowsTheParseErrorAndKeepsTheRegistry)
{
    Create(QStringLiteral("kept"), QStringLiteral("Provider=SQLite;Data Source=/k.db"));

    const QString missing = registry.LoadConnections();
    EXPECT_TRUE(missing.startsWith(QStringLiteral("Your XML Document failed to loaddue the following error.\r\nError #: ")))
        << missing.toStdString();
    EXPECT_TRUE(missing.endsWith(QStringLiteral("Document URL: ") + FilePath()));

    // Well-formed entries before the fault are not added either: the file loads whole or not at all.
    WriteFile("<connections>\n<connection><connname>x</connname><connstring>1;</connstring></connection>\n"
              "<connection><connname>broken</connection>\n</connections>");
    const QString message = registry.LoadConnections();
    EXPECT_EQ(Names(), QStringList{"kept"});
    EXPECT_TRUE(message.contains(QStringLiteral("Line #: 3\r\nLine Position: ")));
    EXPECT_TRUE(message.contains(QStringLiteral("Source Text: <connection><connname>broken</connection>\r\n")));
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_EQ(prompts.messages.back(), message);
    EXPECT_EQ(prompts.styles.back(), MsgBoxStyle::vbExclamation);

    WriteFile("");
    EXPECT_FALSE(registry.LoadConnections().isEmpty());
    EXPECT_EQ(registry.ConnectionsList().Count(), 1);
}

TEST_F(ConnectionsTest, FailedSaveReportsTheReasonAndKeepsTheOldFile)
{
    Create(QStringLiteral("one"), QStringLiteral("Provider=SQLite;Data Source=/1.db"));
    ASSERT_EQ(registry.SaveConnections(), QString());
    const QByteArray before = ReadFile();

    // A folder that cannot take the temporary file (works for root too).
    qputenv("MERIDOX_HOME", home.filePath(QStringLiteral("missing/folder")).toUtf8());
    Create(QStringLiteral("two"), QStringLiteral("Provider=SQLite;Data Source=/2.db"));
    const QString reason = registry.SaveConnections();
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(reason.contains(QStringLiteral("missing/folder")));
    qputenv("MERIDOX_HOME", home.path().toUtf8());
    EXPECT_EQ(ReadFile(), before);
    EXPECT_EQ(registry.ConnectionsList().Count(), 2);
    // No leftover temporary files beside the registry.
    EXPECT_EQ(QDir(home.path()).entryList({QStringLiteral("connections.cnn*")}, QDir::Files).size(), 1);
}

TEST_F(ConnectionsTest, CreateConnectionAddsOnlyNamedNewEntries)
{
    cConnections windowless;
    EXPECT_FALSE(windowless.CreateConnection());
    EXPECT_EQ(windowless.ConnectionsList().Count(), 0);

    prompts.newAnswers.push_back(std::nullopt);  // dialog cancelled: nothing asked, nothing shown
    EXPECT_FALSE(registry.CreateConnection());
    EXPECT_TRUE(prompts.inputDefaults.isEmpty());

    prompts.newAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/x.db"));
    prompts.inputAnswers.push_back(QString());  // empty name
    prompts.newAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/x.db"));
    prompts.inputAnswers.push_back(std::nullopt);  // name box cancelled
    EXPECT_FALSE(registry.CreateConnection());
    EXPECT_FALSE(registry.CreateConnection());
    EXPECT_EQ(registry.ConnectionsList().Count(), 0);
    EXPECT_TRUE(prompts.messages.isEmpty());

    Create(QStringLiteral("Main"), QStringLiteral("Provider=SQLite;Data Source=/m.db"));
    Create(QStringLiteral("Ends"), QStringLiteral("Provider=SQLite;Data Source=/e.db;"));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("main")), QStringLiteral("Provider=SQLite;Data Source=/m.db;"));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("Ends")), QStringLiteral("Provider=SQLite;Data Source=/e.db;"));

    prompts.newAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/other.db"));
    prompts.inputAnswers.push_back(QStringLiteral("MAIN"));
    EXPECT_FALSE(registry.CreateConnection());
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("Main")), QStringLiteral("Provider=SQLite;Data Source=/m.db;"));
    EXPECT_EQ(Names(), (QStringList{"Main", "Ends"}));
}

TEST_F(ConnectionsTest, ModifyConnectionEditsRenamesAndMovesTheEntry)
{
    Create(QStringLiteral("a"), QStringLiteral("Provider=SQLite;Data Source=/a.db"));
    Create(QStringLiteral("b"), QStringLiteral("Provider=SQLite;Data Source=/b.db"));
    Create(QStringLiteral("c"), QStringLiteral("Provider=SQLite;Data Source=/c.db"));
    prompts.inputDefaults.clear();

    // Cancelled edit: nothing changes, no ";" added, the name is not asked.
    prompts.editAnswers.push_back(std::nullopt);
    EXPECT_FALSE(registry.ModifyConnection(QStringLiteral("a")));
    EXPECT_EQ(Names(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("a")), QStringLiteral("Provider=SQLite;Data Source=/a.db;"));
    EXPECT_TRUE(prompts.inputDefaults.isEmpty());

    // Confirmed with the string unchanged and an empty name: same name, same
    // string (no second ";"), moved to the end.
    prompts.editAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/a.db;"));
    prompts.inputAnswers.push_back(QString());
    EXPECT_TRUE(registry.ModifyConnection(QStringLiteral("A")));
    EXPECT_EQ(prompts.inputDefaults.back(), QStringLiteral("a"));
    EXPECT_EQ(Names(), (QStringList{"b", "c", "a"}));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("a")), QStringLiteral("Provider=SQLite;Data Source=/a.db;"));

    // Renaming to a name another entry holds is refused and loses nothing.
    prompts.editAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/new.db"));
    prompts.inputAnswers.push_back(QStringLiteral("C"));
    EXPECT_FALSE(registry.ModifyConnection(QStringLiteral("b")));
    EXPECT_EQ(Names(), (QStringList{"b", "c", "a"}));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("b")), QStringLiteral("Provider=SQLite;Data Source=/b.db;"));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("c")), QStringLiteral("Provider=SQLite;Data Source=/c.db;"));
    EXPECT_EQ(prompts.messages.size(), 1);

    // A real rename, and a change of letter case of the entry's own name.
    prompts.editAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/new.db"));
    prompts.inputAnswers.push_back(QStringLiteral("renamed"));
    prompts.editAnswers.push_back(QStringLiteral("Provider=SQLite;Data Source=/c.db;"));
    prompts.inputAnswers.push_back(QStringLiteral("C"));
    EXPECT_TRUE(registry.ModifyConnection(QStringLiteral("b")));
    EXPECT_TRUE(registry.ModifyConnection(QStringLiteral("c")));
    EXPECT_EQ(Names(), (QStringList{"a", "renamed", "C"}));
    EXPECT_EQ(registry.ConnectionString(QStringLiteral("renamed")), QStringLiteral("Provider=SQLite;Data Source=/new.db;"));

    // Unknown names: an error, nothing shown, nothing changed.
    EXPECT_FALSE(registry.ModifyConnection(QStringLiteral("nope")));
    EXPECT_FALSE(registry.LastError().isEmpty());
    EXPECT_FALSE(registry.ConnectionString(QStringLiteral("nope")).has_value());
    EXPECT_FALSE(registry.LastError().isEmpty());
    registry.DeleteConnection(QStringLiteral("nope"));
    registry.DeleteConnection(QStringLiteral("RENAMED"));
    EXPECT_EQ(Names(), (QStringList{"a", "C"}));
    EXPECT_EQ(prompts.messages.size(), 1);

    cConnections windowless;
    WriteFile("<connections><connection><connname>w</connname><connstring>s;</connstring></connection></connections>");
    windowless.LoadConnections();
    EXPECT_FALSE(windowless.ModifyConnection(QStringLiteral("w")));
    EXPECT_EQ(windowless.ConnectionString(QStringLiteral("w")), QStringLiteral("s;"));
}

TEST_F(ConnectionsTest, ConnectionOpensANamedDatabase)
{
    const QString db = home.filePath(QStringLiteral("data.db"));
    {
        ado::Connection create;
        create.setCreateIfMissing(true);
        ASSERT_TRUE(create.Open(QStringLiteral("Provider=SQLite;Data Source=") + db));
        create.Execute(QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT)"));
        create.Execute(QStringLiteral("INSERT INTO t (name) VALUES ('x')"));
        create.Close();
    }
    Create(QStringLiteral("local"), QStringLiteral("Provider=SQLite;Data Source=") + db);
    Create(QStringLiteral("gone"), QStringLiteral("Provider=SQLite;Data Source=") + home.filePath("absent.db"));

    std::optional<ado::Connection> first = registry.Connection(QStringLiteral("LOCAL"));
    std::optional<ado::Connection> second = registry.Connection(QStringLiteral("local"));
    ASSERT_TRUE(first.has_value()) << registry.LastError().toStdString();
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(first->isOpen());
    EXPECT_FALSE(first->sameConnection(*second));  // a new connection on every call
    ado::Recordset rs = first->Execute(QStringLiteral("SELECT name FROM t"));
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.Fields(QStringLiteral("name")).Value().toString(), QStringLiteral("x"));

    EXPECT_FALSE(registry.Connection(QStringLiteral("unknown")).has_value());
    EXPECT_FALSE(registry.Connection(QStringLiteral("gone")).has_value());
    EXPECT_FALSE(registry.LastError().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.filePath("absent.db")));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

}  // namespace
