#include "stores/basUtils.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace {

// Reads the translation table directly, beside the code under test.
struct Row {
    QString language, source, ambient, dest;
    bool destNull = true;
};

QList<Row> tableRows(const QString& folder)
{
    QList<Row> rows;
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(QDir(folder).filePath("MeridoxLang.db"));
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT DESTLANGUAGE, SOURCESTRING, AMBIENT, DestString FROM SYS_TRANSLATION ORDER BY rowid",
                       -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
        Row r;
        auto text = [&](int c) { return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, c))); };
        r.language = text(0);
        r.source = text(1);
        r.ambient = text(2);
        r.destNull = sqlite3_column_type(st, 3) == SQLITE_NULL;
        r.dest = text(3);
        rows << r;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

void execSql(const QString& folder, const char* sql, const QString& a = {}, const QString& b = {})
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(QDir(folder).filePath("MeridoxLang.db")).constData(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    const QByteArray ua = a.toUtf8(), ub = b.toUtf8();
    if (sqlite3_bind_parameter_count(st) >= 1)
        sqlite3_bind_text(st, 1, ua.constData(), -1, SQLITE_TRANSIENT);
    if (sqlite3_bind_parameter_count(st) >= 2)
        sqlite3_bind_text(st, 2, ub.constData(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

class Translation : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        config = dir.filePath("Meridox.conf");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nLanguage=es_ES\n");
        f.close();
        qputenv("MERIDOX_CONFIG", QFile::encodeName(config));
        qputenv("MERIDOX_HOME", QFile::encodeName(dir.path()));
        SetTranslationFolder(dir.path());
    }
    void TearDown() override
    {
        SetTranslationFolder(QString());
        qunsetenv("MERIDOX_CONFIG");
        qunsetenv("MERIDOX_HOME");
    }
    QTemporaryDir dir;
    QString config;
};

TEST_F(Translation, MissRecordsKeyOnceThenFilledTranslationIsReturned)
{
    EXPECT_EQ(Translate("Starts", "frmSchedule"), "Starts");
    auto rows = tableRows(dir.path());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].language, "es_ES");
    EXPECT_EQ(rows[0].source, "Starts");
    EXPECT_EQ(rows[0].ambient, "frmSchedule");
    EXPECT_TRUE(rows[0].destNull);

    EXPECT_EQ(Translate("Starts", "frmSchedule"), "Starts");
    EXPECT_EQ(tableRows(dir.path()).size(), 1);

    execSql(dir.path(), "UPDATE SYS_TRANSLATION SET DestString = ?1 WHERE SOURCESTRING = ?2", "Comienza", "Starts");
    EXPECT_EQ(Translate("Starts", "frmSchedule"), "Comienza");
    // Another ambient is another key.
    EXPECT_EQ(Translate("Starts", "frmOther"), "Starts");
    EXPECT_EQ(tableRows(dir.path()).size(), 2);
    // Another language is another key too.
    EXPECT_EQ(GetTranslation("Starts", "fr_FR", "frmSchedule"), QString());
    EXPECT_EQ(tableRows(dir.path()).size(), 3);
}

TEST_F(Translation, LookupWithoutAmbientMatchesAnyAmbient)
{
    EXPECT_EQ(Translate("Ends", "frmSchedule"), "Ends");
    execSql(dir.path(), "UPDATE SYS_TRANSLATION SET DestString = ?1 WHERE SOURCESTRING = ?2", "Termina", "Ends");
    EXPECT_EQ(Translate("Ends"), "Termina");
    EXPECT_EQ(tableRows(dir.path()).size(), 1) << "a hit without ambient adds nothing";

    EXPECT_EQ(Translate("Error"), "Error");
    auto rows = tableRows(dir.path());
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].ambient, "");
}

TEST_F(Translation, ApostrophesAndUnicodeAreKeysLikeAnyOther)
{
    const QString text = "Can't open 'file'; DROP TABLE SYS_TRANSLATION --";
    EXPECT_EQ(Translate(text, "frm'Quote"), text);
    auto rows = tableRows(dir.path());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].source, text);
    EXPECT_EQ(rows[0].ambient, "frm'Quote");
    execSql(dir.path(), "UPDATE SYS_TRANSLATION SET DestString = ?1 WHERE SOURCESTRING = ?2", "No se puede abrir «x»", text);
    EXPECT_EQ(Translate(text, "frm'Quote"), "No se puede abrir «x»");
}

TEST_F(Translation, UnusableDatabaseGivesTextUnchanged)
{
    // A folder that cannot exist: the database cannot be created.
    QFile blocker(dir.filePath("notafolder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SetTranslationFolder(dir.filePath("notafolder"));
    EXPECT_EQ(Translate("Starts", "frmSchedule"), "Starts");
    EXPECT_EQ(Translate("Starts"), "Starts");

    // A file that is not a database.
    QDir(dir.path()).mkdir("garbage");
    QFile junk(dir.filePath("garbage/MeridoxLang.db"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    SetTranslationFolder(dir.filePath("garbage"));
    EXPECT_EQ(Translate("Starts", "frmSchedule"), "Starts");
    EXPECT_EQ(junk.size(), 4096);

    // Back to the default folder (the library folder): translation works again.
    SetTranslationFolder(QString());
    EXPECT_EQ(TranslationFolder(), QDir::cleanPath(dir.path()));
    EXPECT_EQ(Translate("Starts", "frmSchedule"), "Starts");
    EXPECT_EQ(tableRows(dir.path()).size(), 1);
}

TEST(Settings, FoldersAndLanguageComeFromTheSettingsFile)
{
    QTemporaryDir dir;
    const QString config = dir.filePath("Meridox.conf");
    qputenv("MERIDOX_CONFIG", QFile::encodeName(config));
    qputenv("MERIDOX_HOME", QFile::encodeName(dir.path() + "/home/"));
    EXPECT_EQ(SettingsFilePath(), config);
    EXPECT_EQ(LibraryFolder(), dir.path() + "/home");
    // No settings file: library folder and the system language.
    EXPECT_EQ(RunDataFolder(), LibraryFolder());
    EXPECT_EQ(LanguageKey(), QLocale::system().name());

    QFile f(config);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[General]\nPath=/srv/meridox data\nLanguage=de_DE\n");
    f.close();
    EXPECT_EQ(RunDataFolder(), "/srv/meridox data");
    EXPECT_EQ(LanguageKey(), "de_DE");
    // Changed again at once: seen at once.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[General]\nPath=/srv/other\nLanguage=fr_FR\n");
    f.close();
    EXPECT_EQ(RunDataFolder(), "/srv/other");
    EXPECT_EQ(LanguageKey(), "fr_FR");

    qunsetenv("MERIDOX_HOME");
    // Without MERIDOX_HOME the folder is the one holding the engine code.
    EXPECT_TRUE(QFileInfo(LibraryFolder()).isDir());
    EXPECT_FALSE(LibraryFolder().isEmpty());

    qunsetenv("MERIDOX_CONFIG");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    EXPECT_EQ(SettingsFilePath(), dir.path() + "/Velmora/Meridox.conf");
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
