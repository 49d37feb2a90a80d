// The connections screen over the designer's registry: add, edit and delete
// through scripted dialogs, the questions asked, and the file written after
// each change.

#include "AdminTestSupport.h"

#include <QFile>
#include <QTableWidget>

#include <deque>

#include "admin/frmConnections.h"
#include "app/basMain.h"
#include "connections/cConnections.h"

namespace {

// The registry's dialogs, answered from queues.
class cScriptedPrompts : public IConnectionPrompts {
public:
    std::deque<std::optional<QString>> NewAnswers;
    std::deque<std::optional<QString>> EditAnswers;
    std::deque<std::optional<QString>> Names;

    std::optional<QString> PromptNew() override
    {
        if (NewAnswers.empty())
            return std::nullopt;
        auto a = NewAnswers.front();
        NewAnswers.pop_front();
        return a;
    }
    bool PromptEdit(QString& ConnectionString) override
    {
        if (EditAnswers.empty() || !EditAnswers.front()) {
            if (!EditAnswers.empty())
                EditAnswers.pop_front();
            return false;
        }
        ConnectionString = *EditAnswers.front();
        EditAnswers.pop_front();
        return true;
    }
    std::optional<QString> InputBox(const QString&, const QString&, const QString& Default) override
    {
        if (Names.empty())
            return Default;
        auto a = Names.front();
        Names.pop_front();
        return a;
    }
    int MsgBox(const QString&, int, const QString&) override { return MsgBoxResult::vbOK; }
};

class Connections : public AdminTest {
protected:
    void SetUp() override
    {
        AdminTest::SetUp();
        gConnections = std::make_unique<cConnections>();
        gConnections->SetPrompts(&Prompts);
    }
    void TearDown() override
    {
        gConnections.reset();
        AdminTest::TearDown();
    }
    void Add(const QString& Name, const QString& ConnString)
    {
        Prompts.NewAnswers.push_back(ConnString);
        Prompts.Names.push_back(Name);
        Screen.ActionAdd();
    }
    QStringList Names() const
    {
        QStringList out;
        for (int r = 0; r < Screen.grdData()->rowCount(); ++r)
            out << Screen.grdData()->item(r, 1)->text();
        return out;
    }
    QStringList SavedNames() const
    {
        cConnections saved;
        saved.LoadConnections();
        QStringList out;
        for (const tConnection& c : saved.ConnectionsList())
            out << c.name;
        return out;
    }

    cScriptedPrompts Prompts;
    frmConnections Screen;
};

TEST_F(Connections, AddListsAndSavesEachConnection)
{
    Screen.ActionShow();
    EXPECT_EQ(Screen.windowTitle(), QStringLiteral("Current Connections"));
    EXPECT_EQ(Screen.grdData()->columnCount(), 3);
    EXPECT_EQ(Screen.grdData()->rowCount(), 0);
    EXPECT_TRUE(Screen.grdData()->isColumnHidden(0));
    EXPECT_EQ(Screen.grdData()->horizontalHeaderItem(1)->text(), QStringLiteral("Name"));
    EXPECT_EQ(Screen.grdData()->horizontalHeaderItem(2)->text(), QStringLiteral("Connection String"));

    Add("sales", Conn("sales"));
    Add("stock", Conn("stock"));
    EXPECT_EQ(Names(), (QStringList{"sales", "stock"}));
    EXPECT_EQ(Screen.grdData()->item(1, 0)->text(), QStringLiteral("2"));
    EXPECT_EQ(Screen.grdData()->item(1, 2)->text(), Conn("stock") + QLatin1Char(';'));
    EXPECT_EQ(Screen.grdData()->rowHeight(0), 40);
    EXPECT_EQ(SavedNames(), (QStringList{"sales", "stock"}));

    // A cancelled dialog adds nothing, yet the registry is written all the same.
    QFile::remove(cConnections::FilePath());
    Screen.ActionNewItem();
    EXPECT_EQ(Names().size(), 2);
    EXPECT_TRUE(QFile::exists(cConnections::FilePath()));

    // A password shows masked; the registry keeps it.
    Add("server", QStringLiteral("Provider=PostgreSQL;Data Source=db;User ID=ana;PWD=s3cret;Port=5432"));
    const QString shown = Screen.grdData()->item(2, 2)->text();
    EXPECT_FALSE(shown.contains(QStringLiteral("s3cret"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Provider=PostgreSQL;Data Source=db;User ID=ana;PWD=")));
    EXPECT_TRUE(shown.contains(QStringLiteral(";Port=5432")));
    EXPECT_TRUE(gConnections->ConnectionString(QStringLiteral("server")).value_or(QString()).contains("s3cret"));
}

TEST_F(Connections, EditAsksFirstAndMovesTheEditedEntryToTheEnd)
{
    Add("a", Conn("a"));
    Add("b", Conn("b"));
    Screen.ActionEdit();  // no selection: nothing
    EXPECT_TRUE(Boxes->Messages.empty());

    Screen.grdData()->selectRow(0);
    Boxes->MsgBoxAnswers.push_back(MsgBoxResult::vbNo);
    Screen.ActionEdit();
    ASSERT_EQ(Boxes->Messages.size(), 1u);
    EXPECT_EQ(Boxes->Messages[0].Prompt, QStringLiteral("This can affect existing connections.\nAre you sure?"));
    EXPECT_EQ(Boxes->Messages[0].Style, 67);
    EXPECT_EQ(Names(), (QStringList{"a", "b"}));

    Boxes->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    Prompts.EditAnswers.push_back(Conn("a2"));
    Prompts.Names.push_back(QStringLiteral("a2"));
    Screen.ActionEdit();
    EXPECT_EQ(Names(), (QStringList{"b", "a2"}));
    EXPECT_EQ(SavedNames(), (QStringList{"b", "a2"}));

    // The context-menu edit asks nothing and leaves the grid as it was.
    Screen.grdData()->selectRow(0);
    const size_t asked = Boxes->Messages.size();
    Prompts.EditAnswers.push_back(Conn("b2"));
    Prompts.Names.push_back(QStringLiteral("b2"));
    Screen.ActionEditItem();
    EXPECT_EQ(Boxes->Messages.size(), asked);
    EXPECT_EQ(Names(), (QStringList{"b", "a2"}));
    EXPECT_EQ(SavedNames(), (QStringList{"a2", "b2"}));

    // The row still names "b", which the registry no longer holds: nothing
    // happens and nothing is lost.
    Screen.ActionEditItem();
    EXPECT_EQ(SavedNames(), (QStringList{"a2", "b2"}));
    Screen.LoadConnectionsGrid();
    EXPECT_EQ(Names(), (QStringList{"a2", "b2"}));
}

TEST_F(Connections, DeleteNeedsASelectionAndAYes)
{
    Add("a", Conn("a"));
    Add("b", Conn("b"));
    Screen.ActionDelete();
    ASSERT_EQ(Boxes->Messages.size(), 1u);
    EXPECT_EQ(Boxes->Messages[0].Prompt, QStringLiteral("Select a connection first."));
    EXPECT_EQ(Boxes->Messages[0].Style, 0);

    Screen.grdData()->selectRow(1);
    Boxes->MsgBoxAnswers.push_back(MsgBoxResult::vbCancel);
    Screen.ActionDeleteItem();
    EXPECT_EQ(Boxes->Messages.back().Style, 35);
    EXPECT_EQ(Boxes->Messages.back().Title, QStringLiteral("Delete Connection"));
    EXPECT_EQ(Names(), (QStringList{"a", "b"}));

    Boxes->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    Screen.ActionDelete();
    EXPECT_EQ(Names(), QStringList{"a"});
    EXPECT_EQ(SavedNames(), QStringList{"a"});

    // The file may hold a connection without a name: Yes deletes it too.
    QFile file(cConnections::FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    ASSERT_TRUE(text.contains(">a<"));
    text.replace(">a<", "><");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    gConnections = std::make_unique<cConnections>();
    gConnections->SetPrompts(&Prompts);
    gConnections->LoadConnections();
    Screen.LoadConnectionsGrid();
    ASSERT_EQ(Names(), QStringList{QString()});
    Screen.grdData()->selectRow(0);
    Boxes->MsgBoxAnswers.push_back(MsgBoxResult::vbYes);
    Screen.ActionDelete();
    EXPECT_TRUE(Names().isEmpty());
    EXPECT_TRUE(SavedNames().isEmpty());
}

}  // namespace
