#include "stores/basUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QHash>
#include <QSettings>

#include <sys/stat.h>

#include <dlfcn.h>
#include <sqlite3.h>

#include <memory>
#include <mutex>

namespace {

// One translation database per process, opened on first use. The
// statements are prepared once: screens translate every caption and header.
class TranslationDb {
public:
    ~TranslationDb() { close(); }

    void setFolder(const QString& folder)
    {
        if (folder == folder_)
            return;
        close();
        folder_ = folder;
    }

    QString folder() const { return folder_.isEmpty() ? LibraryFolder() : folder_; }

    // Empty text when there is no translation or the database is not usable.
    QString lookup(const QString& text, const QString& language, const QString& ambient)
    {
        if (!ensureOpen())
            return {};
        sqlite3_stmt* select = ambient.isEmpty() ? selectAny_ : selectAmbient_;
        const QByteArray lang = language.toUtf8();
        const QByteArray src = text.toUtf8();
        const QByteArray amb = ambient.toUtf8();
        sqlite3_reset(select);
        sqlite3_bind_text(select, 1, lang.constData(), lang.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(select, 2, src.constData(), src.size(), SQLITE_TRANSIENT);
        if (!ambient.isEmpty())
            sqlite3_bind_text(select, 3, amb.constData(), amb.size(), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(select);
        if (rc == SQLITE_ROW) {
            QString result;
            if (sqlite3_column_type(select, 0) != SQLITE_NULL)
                result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                                           sqlite3_column_bytes(select, 0));
            sqlite3_reset(select);
            return result;
        }
        sqlite3_reset(select);
        if (rc != SQLITE_DONE)
            return {};

        // A missed key is recorded once so the table collects every text asked for.
        sqlite3_reset(insert_);
        sqlite3_bind_text(insert_, 1, lang.constData(), lang.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert_, 2, src.constData(), src.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert_, 3, amb.constData(), amb.size(), SQLITE_TRANSIENT);
        sqlite3_step(insert_);
        sqlite3_reset(insert_);
        return {};
    }

private:
    bool ensureOpen()
    {
        if (db_)
            return true;
        if (tried_)
            return false; // a failed opening is not retried for the same folder
        tried_ = true;

        const QString path = QDir(folder()).filePath(QStringLiteral("MeridoxLang.db"));
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
            != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        // Several programs translate at once (designer, runners).
        sqlite3_busy_timeout(db, 5000);
        const char* schema =
            "CREATE TABLE IF NOT EXISTS SYS_TRANSLATION ("
            " DESTLANGUAGE TEXT NOT NULL DEFAULT '',"
            " SOURCESTRING TEXT NOT NULL DEFAULT '',"
            " AMBIENT TEXT NOT NULL DEFAULT '',"
            " DestString TEXT);"
            "CREATE INDEX IF NOT EXISTS SYS_TRANSLATION_KEY"
            " ON SYS_TRANSLATION (DESTLANGUAGE, SOURCESTRING, AMBIENT);";
        if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
            // A read-only database that already has the table still translates.
            sqlite3_exec(db, "SELECT 1 FROM SYS_TRANSLATION LIMIT 0", nullptr, nullptr, nullptr);
        }
        // A lookup without ambient matches a row of any ambient; a filled
        // translation is preferred over an empty one, then the oldest row.
        const char* selectAny =
            "SELECT DestString FROM SYS_TRANSLATION WHERE DESTLANGUAGE = ?1 AND SOURCESTRING = ?2"
            " ORDER BY (DestString IS NULL OR DestString = ''), rowid LIMIT 1";
        const char* selectAmbient =
            "SELECT DestString FROM SYS_TRANSLATION WHERE DESTLANGUAGE = ?1 AND SOURCESTRING = ?2"
            " AND AMBIENT = ?3 ORDER BY (DestString IS NULL OR DestString = ''), rowid LIMIT 1";
        // Two programs may miss the same key at the same moment; the check
        // inside the statement keeps the table to one row per key.
        const char* insert =
            "INSERT INTO SYS_TRANSLATION (DESTLANGUAGE, SOURCESTRING, AMBIENT)"
            " SELECT ?1, ?2, ?3 WHERE NOT EXISTS (SELECT 1 FROM SYS_TRANSLATION"
            " WHERE DESTLANGUAGE = ?1 AND SOURCESTRING = ?2 AND AMBIENT = ?3)";
        if (sqlite3_prepare_v2(db, selectAny, -1, &selectAny_, nullptr) != SQLITE_OK
            || sqlite3_prepare_v2(db, selectAmbient, -1, &selectAmbient_, nullptr) != SQLITE_OK
            || sqlite3_prepare_v2(db, insert, -1, &insert_, nullptr) != SQLITE_OK) {
            db_ = db;
            close();
            tried_ = true; // an unusable database is not opened again on every call
            return false;
        }
        db_ = db;
        return true;
    }

    void close()
    {
        sqlite3_finalize(selectAny_);
        sqlite3_finalize(selectAmbient_);
        sqlite3_finalize(insert_);
        selectAny_ = selectAmbient_ = insert_ = nullptr;
        if (db_)
            sqlite3_close(db_);
        db_ = nullptr;
        tried_ = false;
    }

    QString folder_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* selectAny_ = nullptr;
    sqlite3_stmt* selectAmbient_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    bool tried_ = false;
};

std::mutex& translationMutex()
{
    static std::mutex m;
    return m;
}

TranslationDb& translationDb()
{
    static TranslationDb db;
    return db;
}

// A function of this library that nothing outside can interpose: its
// address tells dladdr which loaded file holds the engine code.
void libraryAnchor() {}

bool statusOf(const QString& path, struct stat& st)
{
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

// SettingsFilePath() and whether that file exists, with its status: one
// look at each candidate.
bool settingsFileStatus(QString& path, struct stat& st)
{
    path = qEnvironmentVariable("MERIDOX_CONFIG");
    if (!path.isEmpty())
        return statusOf(path, st);
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = QDir::homePath() + QStringLiteral("/.config");
    path = configHome + QStringLiteral("/Velmora/Meridox.conf");
    if (statusOf(path, st))
        return true;
    const QString system = QStringLiteral("/etc/xdg/Velmora/Meridox.conf");
    if (statusOf(system, st)) {
        path = system;
        return true;
    }
    return false;
}

// The settings file's values, read again only when the file changed. Every
// failing record of a run asks for the run-data folder and the language, and
// a change (by this process or another) must be seen at the next call.
class SettingsCache {
public:
    // The value, and the settings file it was read from (folder may be null).
    QString value(const QString& key, QString* from = nullptr)
    {
        QString path;
        struct stat st {};
        const bool exists = settingsFileStatus(path, st);
        std::lock_guard lock(mutex_);
        if (!fresh(path, exists, st)) {
            QSettings settings(path, QSettings::IniFormat);
            values_.clear();
            for (const QString& k : settings.allKeys())
                values_.insert(k, settings.value(k).toString());
            path_ = path;
            exists_ = exists;
            stamp_ = st;
            valid_ = true;
        }
        if (from)
            *from = path_;
        return values_.value(key);
    }

private:
    bool fresh(const QString& path, bool exists, const struct stat& st) const
    {
        if (!valid_ || path != path_ || exists != exists_)
            return false;
        if (!exists)
            return true;
        // QSettings itself reads a file again only when its size or time
        // changed; the same test here.
        return st.st_dev == stamp_.st_dev && st.st_ino == stamp_.st_ino && st.st_size == stamp_.st_size
            && st.st_mtim.tv_sec == stamp_.st_mtim.tv_sec && st.st_mtim.tv_nsec == stamp_.st_mtim.tv_nsec
            && st.st_ctim.tv_sec == stamp_.st_ctim.tv_sec && st.st_ctim.tv_nsec == stamp_.st_ctim.tv_nsec;
    }

    std::mutex mutex_;
    bool valid_ = false;
    QString path_;
    bool exists_ = false;
    struct stat stamp_ {};
    QHash<QString, QString> values_;
};

QString settingValue(const QString& key, QString* from = nullptr)
{
    static SettingsCache cache;
    return cache.value(key, from);
}

} // namespace

QString GetTranslation(const QString& Text, const QString& Language, const QString& Ambient)
{
    std::lock_guard lock(translationMutex());
    return translationDb().lookup(Text, Language, Ambient);
}

QString Translate(const QString& Text, const QString& Ambient)
{
    if (Text.isEmpty())
        return Text;
    const QString result = GetTranslation(Text, LanguageKey(), Ambient);
    return result.isEmpty() ? Text : result;
}

void SetTranslationFolder(const QString& Folder)
{
    std::lock_guard lock(translationMutex());
    translationDb().setFolder(Folder);
}

QString TranslationFolder()
{
    std::lock_guard lock(translationMutex());
    return translationDb().folder();
}

QString SettingsFilePath()
{
    QString path;
    struct stat st {};
    settingsFileStatus(path, st);
    return path;
}

QString LibraryFolder()
{
    const QString home = qEnvironmentVariable("MERIDOX_HOME");
    if (!home.isEmpty()) {
        // Asked for on every error row: the last answer is kept.
        thread_local QString lastHome, lastClean;
        if (home != lastHome) {
            lastClean = QDir::cleanPath(home);
            lastHome = home;
        }
        return lastClean;
    }
    // The code loaded stays where it was loaded from: looked up once.
    static const QString loadedFrom = [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&libraryAnchor), &info) != 0 && info.dli_fname && *info.dli_fname) {
            const QFileInfo module(QFile::decodeName(info.dli_fname));
            // The name is the one the loader used, possibly relative to the
            // working folder; a bare program name is not found, and /proc tells.
            if (module.isFile())
                return module.canonicalPath();
        }
        return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    }();
    return loadedFrom;
}

QString RunDataFolder()
{
    QString settingsFile;
    const QString path = settingValue(QStringLiteral("Path"), &settingsFile);
    if (path.isEmpty())
        return LibraryFolder();
    if (!QDir::isRelativePath(path))
        return path;
    // A relative folder belongs to the settings file that names it, so that
    // every program started from anywhere finds the same stores.
    thread_local QString lastPath, lastFile, lastFolder;
    if (path != lastPath || settingsFile != lastFile) {
        lastFolder = QDir::cleanPath(QFileInfo(settingsFile).absoluteDir().filePath(path));
        lastPath = path;
        lastFile = settingsFile;
    }
    return lastFolder;
}

QString LanguageKey()
{
    const QString language = settingValue(QStringLiteral("Language"));
    return language.isEmpty() ? QLocale::system().name() : language;
}
