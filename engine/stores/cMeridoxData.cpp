#include "stores/cMeridoxData.h"

#include "data/DataPrivate.h"
#include "data/Recordset.h"
#include "data/RowsetXml.h"
#include "stores/basUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QtGlobal>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

using ado::FieldInfo;
using ado::Recordset;

namespace {

struct StoreLayout {
    const char* file;
    std::vector<FieldInfo> fields;
};

FieldInfo field(const char* name, int type, long size)
{
    FieldInfo f(QString::fromLatin1(name), type, size);
    f.fixedLength = type == ado::adChar;
    return f;
}

const StoreLayout* layoutOf(kindrecordset krs)
{
    static const StoreLayout schedule{
        "scheduleddata.xml",
        {field("ID", ado::adDecimal, 10), field("NAME", ado::adChar, 255),
         field("FROM", ado::adDBTimeStamp, 0), field("TO", ado::adDBTimeStamp, 0),
         field("EVERY", ado::adDouble, 0), field("KINDEVERY", ado::adInteger, 2),
         field("WEEKDAY", ado::adInteger, 5), field("LASTRUN", ado::adDBTimeStamp, 0),
         field("STATUS", ado::adChar, 255)}};
    static const StoreLayout executions{
        "executeddata.xml",
        {field("ID", ado::adDecimal, 10), field("NAME", ado::adChar, 255),
         field("RUNTIME", ado::adDBTimeStamp, 0), field("END", ado::adDBTimeStamp, 0),
         field("ROWS", ado::adDecimal, 10), field("RINSERTS", ado::adDecimal, 10),
         field("RUPDATES", ado::adDecimal, 10), field("RDELETED", ado::adDecimal, 10),
         field("RERRORS", ado::adDecimal, 10), field("RESULT", ado::adChar, 255)}};
    static const StoreLayout errors{
        "executedlogdata.xml",
        {field("ID", ado::adDecimal, 10), field("RECORD", ado::adDecimal, 10),
         field("NAME", ado::adChar, 255), field("RUNTIME", ado::adDBTimeStamp, 0),
         field("ERRNUMBER", ado::adDecimal, 10), field("ERRDESC", ado::adChar, 255)}};
    switch (krs) {
    case scheduleddata: return &schedule;
    case executiondata: return &executions;
    case executionlogdata: return &errors;
    }
    return nullptr;
}

// What tells a store file apart and whether it changed: its device and
// number, and its size. Appends always grow a store; every other change
// writes a new file and renames it over the old one.
struct FileId {
    quint64 dev = 0;
    quint64 ino = 0;
    qint64 size = 0;
    quint32 links = 0;
    bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino && size == o.size; }
};

// The file's identity, asking for none of its times: on file systems with
// fine-grained timestamps, a file whose times were looked at gets a new
// precise time on its next write, which costs every append a journal entry.
std::optional<FileId> fileIdOf(int dirFd, const char* path, int flags)
{
    struct statx sx {};
    constexpr unsigned wanted = STATX_INO | STATX_SIZE | STATX_NLINK;
    if (::statx(dirFd, path, flags, wanted, &sx) != 0 || (sx.stx_mask & wanted) != wanted)
        return std::nullopt;
    FileId id;
    id.dev = (quint64(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    id.ino = sx.stx_ino;
    id.size = qint64(sx.stx_size);
    id.links = sx.stx_nlink;
    return id;
}

std::optional<FileId> fileIdOf(const QString& path)
{
    return fileIdOf(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW);
}

std::optional<FileId> fileIdOf(int fd)
{
    return fileIdOf(fd, "", AT_EMPTY_PATH);
}

// The lock file also remembers the highest ID after the last in-place
// append, with the store file as it was then; a store that grew since or
// is another file does not match, and every change other than an append
// blanks the note first. So an append needs not read the rows.
constexpr qsizetype NoteSize = 128;

QByteArray stampText(const FileId& id)
{
    return QByteArray::number(id.size) + ' ' + QByteArray::number(id.dev) + ':' + QByteArray::number(id.ino);
}

std::optional<qlonglong> noteHighestId(int lockFd, const FileId& store)
{
    char buffer[NoteSize];
    const ssize_t n = ::pread(lockFd, buffer, sizeof buffer, 0);
    if (n <= 0)
        return std::nullopt;
    const QByteArray note = QByteArray(buffer, static_cast<qsizetype>(n)).trimmed();
    const qsizetype blank = note.lastIndexOf(' ');
    if (blank < 0 || note.left(blank) != stampText(store))
        return std::nullopt;
    bool ok = false;
    const qlonglong highest = note.mid(blank + 1).trimmed().toLongLong(&ok);
    return ok ? std::optional<qlonglong>(highest) : std::nullopt;
}

// One fixed-size record, so that it is overwritten whole without truncating
// the file; an empty text blanks it.
void writeNoteText(int lockFd, const QByteArray& text)
{
    const QByteArray note = text.leftJustified(NoteSize - 1, ' ') + '\n';
    if (note.size() == NoteSize)
        (void)::pwrite(lockFd, note.constData(), static_cast<size_t>(note.size()), 0);
}

void writeNote(int lockFd, const FileId& store, qlonglong highest)
{
    writeNoteText(lockFd, stampText(store) + ' ' + QByteArray::number(highest));
}

// Opens (creating it when missing) the lock file of a store. Run-data folders
// may be shared with other users: a link planted there must not lead this
// process to write, through the lock's note, into a file of its choosing, so
// links are not followed and only a regular file is taken.
int openLockFile(const QByteArray& path, QString& error)
{
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == ELOOP
            ? QStringLiteral("Cannot open lock file %1: it is a symbolic link; remove it").arg(QFile::decodeName(path))
            : QStringLiteral("Cannot open lock file %1: %2").arg(QFile::decodeName(path), qt_error_string(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("Cannot open lock file %1: it is not a regular file; remove it").arg(QFile::decodeName(path));
        ::close(fd);
        return -1;
    }
    return fd;
}

// Exclusive lock on "<store>.lock" for the life of the object. The lock file
// itself is never removed: removing it would let two writers lock two
// different files. A writer that dies loses its lock with its descriptor.
class StoreLock {
public:
    explicit StoreLock(const QString& storePath)
    {
        const QByteArray path = QFile::encodeName(storePath + QStringLiteral(".lock"));
        fd_ = openLockFile(path, error_);
        if (fd_ < 0)
            return;
        int rc;
        do {
            rc = ::flock(fd_, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            error_ = QStringLiteral("Cannot lock %1: %2").arg(QFile::decodeName(path), qt_error_string(errno));
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~StoreLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool locked() const { return fd_ >= 0; }
    const QString& error() const { return error_; }

    // Before a change other than an append: the note of the highest ID no
    // longer holds for what the store becomes.
    void forgetNote() const
    {
        if (fd_ >= 0)
            writeNoteText(fd_, QByteArray());
    }

private:
    int fd_ = -1;
    QString error_;
};

// How a store's file stands in its folder, links not followed.
enum class StoreRead {
    Ok,       // read and parsed
    Missing,  // no file at the path
    Refused,  // not a regular file, or not readable: left alone
    Damaged,  // read, but not a rowset this reader can take
};

QString notRegularText(const QString& path)
{
    return QStringLiteral("Store %1 is not a regular file (a symbolic link or another kind of file); "
                          "it was left alone: remove it or put the store file there")
        .arg(path);
}

bool isMissingOrRegular(const QString& path, QString& error)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    if (S_ISREG(st.st_mode))
        return true;
    error = notRegularText(path);
    return false;
}

// Reads a store without following a link: a link planted in a shared folder
// would otherwise have this process read, and later rewrite, a file of
// someone else's choosing.
StoreRead readStore(const QString& path, Recordset& rs, QString& error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return StoreRead::Missing;
        error = errno == ELOOP ? notRegularText(path)
                               : QStringLiteral("Cannot read store %1: %2").arg(path, qt_error_string(errno));
        return StoreRead::Refused;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = notRegularText(path);
        return StoreRead::Refused;
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = QStringLiteral("Cannot read store %1: %2").arg(path, qt_error_string(errno));
            return StoreRead::Refused;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<qsizetype>(n));
    }
    if (!rs.OpenXml(bytes)) {
        error = rs.lastError().Description;
        return StoreRead::Damaged;
    }
    return StoreRead::Ok;
}

// Writes a whole store: a new file beside it, synced, then renamed over the
// path. The rename replaces whatever stands at the path (a link included)
// and follows nothing; until it, the old store is untouched, so a full disk
// loses no row. A new store gets the usual rights for new files; a store
// that existed keeps its own.
bool writeStore(const QString& path, const Recordset& rs, QString& error)
{
    const QByteArray bytes = rs.toXml();
    const QByteArray target = QFile::encodeName(path);
    struct stat old {};
    const bool existed = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target + ".new-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    const auto fail = [&](int code) {
        error = qt_error_string(code);
        if (fd >= 0)
            ::close(fd);
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
        return false;
    };
    if (fd < 0) {
        const int code = errno;
        temporary.clear();
        return fail(code);
    }
    if (existed)
        (void)::fchmod(fd, old.st_mode & 07777);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC);
        done += n;
    }
    if (::fsync(fd) != 0)
        return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(errno);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return fail(errno);
    return true;
}

// Fields whose value names something (the job's integration file, its
// status): a cut value would name something else, so it is refused.
QStringList keyFieldsOf(kindrecordset krs)
{
    if (krs == scheduleddata)
        return {QStringLiteral("NAME"), QStringLiteral("STATUS")};
    return {};
}

// A fixed-size text longer than its field is cut to fit instead of failing
// the whole row (a long error message must still be recorded), unless the
// field is a key field: then it fails with error set.
std::optional<QVariant> fitToField(const FieldInfo& info, const QVariant& value, const QStringList& keyFields,
                                   QString& error)
{
    if (value.isNull() || !ado::isTextType(info.type) || info.definedSize <= 0 || info.isLong)
        return value;
    const QString text = value.toString();
    if (text.size() <= info.definedSize)
        return value;
    if (keyFields.contains(info.name, Qt::CaseInsensitive)) {
        error = QStringLiteral("Field '%1': the value has %2 characters, more than the %3 the field holds")
                    .arg(info.name)
                    .arg(text.size())
                    .arg(info.definedSize);
        return std::nullopt;
    }
    return text.left(static_cast<int>(info.definedSize));
}

cMeridoxData::Row currentRow(const Recordset& rs)
{
    cMeridoxData::Row row;
    const auto& infos = rs.fieldInfos();
    for (int i = 0; i < static_cast<int>(infos.size()); ++i)
        row.insert(infos[static_cast<size_t>(i)].name, rs.value(i));
    return row;
}

// Assigns values on the current row (already in edit or add mode).
bool assignValues(Recordset& rs, const cMeridoxData::Row& values, QString& error, const QStringList& keyFields)
{
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const int index = rs.fieldIndex(it.key());
        if (index < 0) {
            error = QStringLiteral("Field '%1' is not a field of this store").arg(it.key());
            return false;
        }
        const FieldInfo& info = rs.fieldInfos()[static_cast<size_t>(index)];
        const std::optional<QVariant> fitted = fitToField(info, it.value(), keyFields, error);
        if (!fitted)
            return false;
        if (!rs.setValue(index, *fitted)) {
            error = QStringLiteral("Field '%1': %2").arg(info.name, rs.lastError().Description);
            return false;
        }
    }
    return true;
}

// A new row's values in the file's field order, converted as a recordset
// would store them (Null where Values has no value), without building one.
// With nextId, the ID field takes it and an ID in values is ignored.
std::optional<QVariantList> newRowValues(const std::vector<FieldInfo>& fields, const cMeridoxData::Row& values,
                                         std::optional<qlonglong> nextId, const QStringList& keyFields,
                                         QString& error)
{
    QVariantList row(static_cast<qsizetype>(fields.size()));
    const QString idName = QStringLiteral("ID");
    for (auto it = values.constBegin();; ++it) {
        const bool atId = it == values.constEnd();
        if (atId && !nextId)
            break;
        if (!atId && nextId && it.key().compare(idName, Qt::CaseInsensitive) == 0)
            continue;
        const QString& name = atId ? idName : it.key();
        const QVariant value = atId ? QVariant(*nextId) : it.value();
        const auto found = std::find_if(fields.begin(), fields.end(), [&](const FieldInfo& f) {
            return f.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (found == fields.end()) {
            error = QStringLiteral("Field '%1' is not a field of this store").arg(name);
            return std::nullopt;
        }
        const FieldInfo& info = *found;
        const std::optional<QVariant> fitted = fitToField(info, value, keyFields, error);
        if (!fitted)
            return std::nullopt;
        QVariant converted;
        QString why;
        if (ado::isDateType(info.type) && fitted->typeId() == QMetaType::QDateTime
            && fitted->toDateTime().timeSpec() == Qt::LocalTime && fitted->toDateTime().isValid()) {
            // A local time (when an error happened) is the wall-clock time
            // the file holds already: no round trip through the time zone.
            converted = *fitted;
        } else if (!ado::convertToFieldType(*fitted, info, converted, &why)) {
            error = QStringLiteral("Field '%1': %2")
                        .arg(info.name, ado::detail::makeError(ado::adErrMultipleStep, why).Description);
            return std::nullopt;
        }
        row[found - fields.begin()] = ado::detail::padFixed(converted, info);
        if (atId)
            break;
    }
    return row;
}

std::optional<qlonglong> idOf(const QVariant& v)
{
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<qlonglong>(d);
}

// A row's ID as the store's readers take it: jobs by the job-ID rule.
std::optional<qlonglong> rowIdOf(kindrecordset krs, const QVariant& v)
{
    if (krs == scheduleddata) {
        const std::optional<int> id = ParseJobId(v);
        return id ? std::optional<qlonglong>(*id) : std::nullopt;
    }
    return idOf(v);
}

qlonglong highestId(Recordset& rs)
{
    const int index = rs.fieldIndex(QStringLiteral("ID"));
    qlonglong highest = 0;
    if (index < 0 || rs.RecordCount() <= 0)
        return highest;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
        if (auto id = idOf(rs.value(index)); id && *id > highest)
            highest = *id;
    }
    return highest;
}

std::optional<int> nextJobId(Recordset& rs)
{
    QList<QVariant> ids;
    const int index = rs.fieldIndex(QStringLiteral("ID"));
    if (index >= 0 && rs.RecordCount() > 0)
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
            ids << rs.value(index);
    return NextJobId(ids);
}

StoreResult failure(QString error)
{
    StoreResult r;
    r.error = std::move(error);
    return r;
}

} // namespace

// Opens a store, creating or repairing it. Callers that change the store
// hold its lock; getRS takes it only when the file has to be created or
// set aside, since readers of an atomically replaced file need no lock.
class StoreAccess {
public:
    static std::optional<Recordset> open(const QString& path, const StoreLayout& layout, QString& report,
                                         QString& error)
    {
        Recordset rs;
        QString reason;
        switch (readStore(path, rs, reason)) {
        case StoreRead::Ok:
            return rs;
        case StoreRead::Refused:
            // Unreadable for want of rights, or not a file at all: no proof
            // of damage, and nothing this process may replace.
            error = reason;
            return std::nullopt;
        case StoreRead::Missing: {
            // Only a missing store is created without a word.
            const Recordset fresh = Recordset::CreateDisconnected(layout.fields);
            QString why;
            if (!writeStore(path, fresh, why)) {
                error = QStringLiteral("Cannot create store %1: %2").arg(path, why);
                return std::nullopt;
            }
            if (readStore(path, rs, why) != StoreRead::Ok) {
                error = why.isEmpty() ? QStringLiteral("Cannot read store %1").arg(path) : why;
                return std::nullopt;
            }
            return rs;
        }
        case StoreRead::Damaged:
            break;
        }
        // A file that does not parse holds a history nobody may wipe: set it
        // aside, say so, then start a new store.
        const QString base = path + QStringLiteral(".corrupt-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        QString aside = base;
        for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
            aside = base + QStringLiteral("-%1").arg(n);
        if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0) {
            error = QStringLiteral("Store %1 cannot be read (%2) and cannot be moved aside: %3")
                        .arg(path, reason, qt_error_string(errno));
            return std::nullopt;
        }
        report = QStringLiteral("Store %1 could not be read (%2); it was moved to %3 and a new store was created")
                     .arg(path, reason, aside);
        cMeridoxData::Notice(report);
        QString created;
        std::optional<Recordset> fresh = open(path, layout, created, error);
        return fresh;
    }
};

namespace {

// The change on a freshly read store, written back whole; the caller holds
// the store's lock.
StoreResult modifyLocked(const QString& path, const StoreLayout& layout,
                         const std::function<bool(Recordset&)>& Change, QString& lastError)
{
    QString report, error;
    auto rs = StoreAccess::open(path, layout, report, error);
    if (!rs) {
        lastError = error;
        return failure(error);
    }
    if (rs->RecordCount() > 0)
        rs->MoveFirst();
    if (!Change(*rs)) {
        lastError = report;
        StoreResult r;
        r.ok = true;
        return r;
    }
    if (rs->EditMode() != ado::adEditNone && !rs->Update()) {
        lastError = rs->lastError().Description;
        return failure(lastError);
    }
    QString why;
    if (!writeStore(path, *rs, why)) {
        lastError = QStringLiteral("Cannot save store %1: %2").arg(path, why);
        return failure(lastError);
    }
    lastError = report;
    StoreResult r;
    r.ok = true;
    return r;
}

} // namespace

namespace {

// In-place appends of this process to one store file. A run whose every
// record fails appends one row per record, so the lock file and the store
// stay open between appends, and what this process's last append left (the
// store's stamp, where its closing tags stand, the highest ID) is used again
// while the file is still the one it wrote. Any change by someone else shows
// as a different stamp and the store is then opened afresh, as on the first
// append. The lock itself is taken and released around every append.
class AppendSession {
public:
    AppendSession() = default;
    ~AppendSession() { closeLock(); }
    AppendSession(const AppendSession&) = delete;
    AppendSession& operator=(const AppendSession&) = delete;

    // Locks "<store>.lock", opening it when needed. The file held open must
    // still be the one at the path: a lock on a file that was removed (and
    // perhaps created again) would keep out nobody. The lock file is never
    // renamed, so a file still linked is the one at the path.
    bool lock(const QString& storePath, QString& error)
    {
        const QByteArray path = QFile::encodeName(storePath + QStringLiteral(".lock"));
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (lockFd_ < 0 && !openLock(path, storePath, error))
                return false;
            int rc;
            do {
                rc = ::flock(lockFd_, LOCK_EX);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                error = QStringLiteral("Cannot lock %1: %2").arg(QFile::decodeName(path), qt_error_string(errno));
                closeLock();
                return false;
            }
            if (const std::optional<FileId> now = fileIdOf(lockFd_); now && now->links > 0)
                return true;
            closeLock();
        }
        error = QStringLiteral("Cannot lock %1: the lock file keeps being replaced").arg(QFile::decodeName(path));
        return false;
    }

    void unlock()
    {
        if (lockFd_ >= 0)
            (void)::flock(lockFd_, LOCK_UN);
    }

    int lockDescriptor() const { return lockFd_; }

    // The store as this process's last append left it, when it still is.
    ado::RowsetAppender* current(const FileId& store)
    {
        // The tags are read too: a file written in place by a program that
        // takes no lock may keep its size.
        if (appender_ && left_ && *left_ == store && appender_->closingTagsInPlace())
            return appender_.get();
        return nullptr;
    }

    // A store just opened (its end checked), with the highest ID the lock
    // file's note gives for it.
    void use(std::unique_ptr<ado::RowsetAppender> appender, std::optional<qlonglong> highest)
    {
        appender_ = std::move(appender);
        highest_ = highest;
        left_.reset();
    }

    void forget()
    {
        appender_.reset();
        highest_.reset();
        left_.reset();
    }

    std::optional<qlonglong>& highest() { return highest_; }
    void left(const FileId& store) { left_ = store; }

private:
    bool openLock(const QByteArray& path, const QString& storePath, QString& error)
    {
        lockFd_ = openLockFile(path, error);
        if (lockFd_ < 0 && !QFileInfo(storePath).absoluteDir().exists()) {
            QDir().mkpath(QFileInfo(storePath).absolutePath());
            lockFd_ = openLockFile(path, error);
        }
        return lockFd_ >= 0;
    }

    void closeLock()
    {
        if (lockFd_ >= 0)
            ::close(lockFd_);
        lockFd_ = -1;
    }

    int lockFd_ = -1;
    std::unique_ptr<ado::RowsetAppender> appender_;
    std::optional<qlonglong> highest_;
    std::optional<FileId> left_;   // the store after this process's last append
};

QMutex& sessionsMutex()
{
    static QMutex mutex;
    return mutex;
}

// The caller holds sessionsMutex(): threads of one process share the lock
// file's descriptor, and flock does not keep them from each other.
AppendSession& sessionFor(const QString& storePath)
{
    static std::map<QString, std::unique_ptr<AppendSession>> sessions;
    auto it = sessions.find(storePath);
    if (it == sessions.end()) {
        // Few stores are written by one process; a long-lived one that moved
        // through many folders keeps no descriptors of the old ones.
        if (sessions.size() >= 16)
            sessions.clear();
        it = sessions.emplace(storePath, std::make_unique<AppendSession>()).first;
    }
    return *it->second;
}

// Appends rows in place of the closing tags under the store's lock, all in
// one write (with StoreId::Next, consecutive IDs from the highest). Nothing
// when the store has to be rewritten instead: it is missing, its end is not
// its closing tags (a writer was killed meanwhile), or it cannot be read; the
// rewrite creates, repairs or sets it aside. A row that cannot be made fails
// the call before anything is written. result.id is the last row's ID.
std::optional<StoreResult> appendInPlace(const QString& path, kindrecordset krs,
                                         std::span<const cMeridoxData::Row> Rows, StoreId Id, QString& lastError)
{
    QMutexLocker guard(&sessionsMutex());
    AppendSession& session = sessionFor(path);
    QString error;
    if (!session.lock(path, error)) {
        lastError = error;
        return failure(error);
    }
    struct Unlock {
        AppendSession& s;
        ~Unlock() { s.unlock(); }
    } unlock{session};

    if (!isMissingOrRegular(path, error)) {
        session.forget();
        lastError = error;
        return failure(error);
    }
    const std::optional<FileId> store = fileIdOf(path);
    if (!store) {
        session.forget();
        return std::nullopt;
    }
    ado::RowsetAppender* appender = session.current(*store);
    if (!appender) {
        session.forget();
        auto opened = std::make_unique<ado::RowsetAppender>();
        if (!opened->open(path) || fileIdOf(opened->descriptor()) != store)
            return std::nullopt;
        appender = opened.get();
        session.use(std::move(opened), noteHighestId(session.lockDescriptor(), *store));
    }

    std::optional<qlonglong>& highest = session.highest();
    if (!highest && Id == StoreId::Next) {
        Recordset all;
        QString why;
        if (readStore(path, all, why) != StoreRead::Ok) {
            session.forget();
            return std::nullopt;
        }
        highest = highestId(all);
    }

    const QStringList keyFields = keyFieldsOf(krs);
    std::vector<QVariantList> rows;
    rows.reserve(Rows.size());
    for (const cMeridoxData::Row& values : Rows) {
        const std::optional<qlonglong> nextId =
            Id == StoreId::Next ? std::optional<qlonglong>(*highest + 1 + qlonglong(rows.size())) : std::nullopt;
        std::optional<QVariantList> row = newRowValues(appender->fields(), values, nextId, keyFields, error);
        if (!row) {
            lastError = error;
            return failure(error);
        }
        rows.push_back(std::move(*row));
    }
    if (!appender->append(std::span<const QVariantList>(rows), &error)) {
        session.forget();
        lastError = QStringLiteral("Cannot save store %1: %2").arg(path, error);
        return failure(lastError);
    }

    StoreResult r;
    r.ok = true;
    r.rows = static_cast<int>(rows.size());
    const int idIndex = static_cast<int>(std::find_if(appender->fields().begin(), appender->fields().end(),
                                                      [](const FieldInfo& f) {
                                                          return f.name.compare(QLatin1String("ID"),
                                                                                Qt::CaseInsensitive) == 0;
                                                      })
                                         - appender->fields().begin());
    FileId after = *store;
    after.size = appender->size();
    session.left(after);
    for (const QVariantList& row : rows) {
        if (idIndex >= row.size())
            continue;
        r.id = row.at(idIndex);
        const std::optional<qlonglong> added = idOf(r.id);
        if (highest && added && *added > *highest)
            highest = *added;
    }
    if (highest)
        writeNote(session.lockDescriptor(), after, *highest);
    return r;
}

} // namespace

namespace {

QMutex& noticeMutex()
{
    static QMutex mutex;
    return mutex;
}

cMeridoxData::NoticeHandler& noticeHandler()
{
    static cMeridoxData::NoticeHandler handler;
    return handler;
}

} // namespace

void cMeridoxData::SetNoticeHandler(NoticeHandler Handler)
{
    QMutexLocker lock(&noticeMutex());
    noticeHandler() = std::move(Handler);
}

void cMeridoxData::Notice(const QString& Text)
{
    NoticeHandler handler;
    {
        QMutexLocker lock(&noticeMutex());
        handler = noticeHandler();
    }
    if (handler)
        handler(Text);
    else
        qWarning("%s", qUtf8Printable(Text));
}

cMeridoxData::cMeridoxData()
    : m_folder(RunDataFolder())
{
}

cMeridoxData::cMeridoxData(const QString& Folder)
    : m_folder(Folder)
{
}

cMeridoxData::~cMeridoxData() = default;

QString cMeridoxData::StoreFile(kindrecordset krs) const
{
    const StoreLayout* layout = layoutOf(krs);
    if (!layout)
        return {};
    return m_folder + QLatin1Char('/') + QLatin1String(layout->file);
}

Recordset cMeridoxData::getRSFromFile(const QString& Filename)
{
    m_lastError.clear();
    Recordset rs;
    if (rs.OpenFile(Filename))
        return rs;
    m_lastError = rs.lastError().Description;
    if (m_messageBox)
        m_messageBox(Translate(QStringLiteral("Error Opening File"), QString()), 16,
                     Translate(QStringLiteral("Error"), QString()));
    return Recordset();
}

Recordset cMeridoxData::getRS(kindrecordset krs)
{
    m_lastError.clear();
    const StoreLayout* layout = layoutOf(krs);
    if (!layout)
        return Recordset();
    const QString path = StoreFile(krs);
    {
        Recordset rs;
        QString why;
        switch (readStore(path, rs, why)) {
        case StoreRead::Ok:
            return rs;
        case StoreRead::Refused:
            m_lastError = why;
            return Recordset();
        default:
            break;
        }
    }
    QDir().mkpath(m_folder);
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return Recordset();
    }
    lock.forgetNote();
    QString report, error;
    auto rs = StoreAccess::open(path, *layout, report, error);
    m_lastError = error.isEmpty() ? report : error;
    return rs ? *rs : Recordset();
}

bool cMeridoxData::Clear(kindrecordset krs)
{
    m_lastError.clear();
    const QString path = StoreFile(krs);
    if (path.isEmpty())
        return true;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT)
        return true;
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return false;
    }
    lock.forgetNote();
    // The name is removed, never what a link there points at.
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return true;
    m_lastError = QStringLiteral("Cannot delete %1: %2").arg(path, qt_error_string(errno));
    return false;
}

StoreResult cMeridoxData::modify(kindrecordset krs, const std::function<bool(Recordset&)>& Change)
{
    m_lastError.clear();
    const StoreLayout* layout = layoutOf(krs);
    if (!layout) {
        m_lastError = QStringLiteral("Unknown store kind %1").arg(static_cast<int>(krs));
        return failure(m_lastError);
    }
    const QString path = StoreFile(krs);
    QDir().mkpath(m_folder);
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return failure(m_lastError);
    }
    lock.forgetNote();
    return modifyLocked(path, *layout, Change, m_lastError);
}

StoreResult cMeridoxData::appendRow(kindrecordset krs, const Row& Values, StoreId Id)
{
    m_lastError.clear();
    const StoreLayout* layout = layoutOf(krs);
    if (!layout) {
        m_lastError = QStringLiteral("Unknown store kind %1").arg(static_cast<int>(krs));
        return failure(m_lastError);
    }
    const QString path = StoreFile(krs);
    Row values = Values;
    const auto setNextId = [&values](qlonglong highest) {
        for (auto it = values.begin(); it != values.end();) {
            if (it.key().compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
                it = values.erase(it);
            else
                ++it;
        }
        values.insert(QStringLiteral("ID"), highest + 1);
    };

    // In place where the file allows it: the cost does not grow with the
    // store. The schedule is always rewritten: a new job's ID depends on
    // every ID in it, and it stays small.
    if (krs != scheduleddata) {
        if (std::optional<StoreResult> r =
                appendInPlace(path, krs, std::span<const Row>(&Values, 1), Id, m_lastError))
            return *r;
        m_lastError.clear();
    }
    QDir().mkpath(m_folder);
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return failure(m_lastError);
    }
    lock.forgetNote();

    QString error;
    QVariant newId;
    StoreResult r = modifyLocked(path, *layout, [&](Recordset& rs) {
        if (Id == StoreId::Next) {
            if (krs == scheduleddata) {
                const std::optional<int> id = nextJobId(rs);
                if (!id) {
                    error = QStringLiteral("Every job ID from %1 to %2 is taken").arg(kFirstJobId).arg(kLastJobId);
                    return false;
                }
                setNextId(*id - 1);
            } else {
                setNextId(highestId(rs));
            }
        }
        if (!rs.AddNew()) {
            error = rs.lastError().Description;
            return false;
        }
        if (!assignValues(rs, values, error, keyFieldsOf(krs)) || !rs.Update()) {
            if (error.isEmpty())
                error = rs.lastError().Description;
            rs.CancelUpdate();
            return false;
        }
        newId = rs.value(QStringLiteral("ID"));
        return true;
    }, m_lastError);
    if (!error.isEmpty()) {
        m_lastError = error;
        return failure(error);
    }
    if (r.ok) {
        r.rows = 1;
        r.id = newId;
    }
    return r;
}

StoreResult cMeridoxData::appendRows(kindrecordset krs, const std::vector<Row>& Rows, StoreId Id)
{
    m_lastError.clear();
    if (!layoutOf(krs)) {
        m_lastError = QStringLiteral("Unknown store kind %1").arg(static_cast<int>(krs));
        return failure(m_lastError);
    }
    StoreResult all;
    all.ok = true;
    QString firstError, report;
    const QString path = StoreFile(krs);
    std::span<const Row> rest(Rows);
    while (!rest.empty()) {
        if (krs != scheduleddata) {
            if (std::optional<StoreResult> r = appendInPlace(path, krs, rest, Id, m_lastError)) {
                if (r->ok) {
                    all.rows += r->rows;
                    all.id = r->id;
                    break;
                }
                if (rest.size() == 1)
                    return *r;
                // Nothing of the batch was kept (a full disk, a row that
                // cannot be written): row by row, whatever still fits is
                // kept, as appends one at a time would keep it.
                for (const Row& row : rest) {
                    const StoreResult one = appendRow(krs, row, Id);
                    if (one.ok) {
                        ++all.rows;
                        all.id = one.id;
                    } else if (all.ok) {
                        all.ok = false;
                        firstError = one.error;
                    }
                }
                break;
            }
        }
        // A store that is to be created, repaired or set aside: its first
        // row does that, and the others are tried in place again.
        const StoreResult r = appendRow(krs, rest.front(), Id);
        rest = rest.subspan(1);
        if (r.ok) {
            ++all.rows;
            all.id = r.id;
            if (!m_lastError.isEmpty())
                report = m_lastError;   // a repair
        } else if (all.ok) {
            all.ok = false;
            firstError = r.error;
        }
    }
    if (!all.ok)
        all.error = firstError;
    m_lastError = all.ok ? report : firstError;
    return all;
}

StoreResult cMeridoxData::updateRows(kindrecordset krs, const RowMatch& Match, const Row& Changes)
{
    QString error;
    int changed = 0;
    StoreResult r = modify(krs, [&](Recordset& rs) {
        if (rs.RecordCount() <= 0)
            return false;
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
            if (!Match(currentRow(rs)))
                continue;
            if (!assignValues(rs, Changes, error, keyFieldsOf(krs)) || !rs.Update()) {
                if (error.isEmpty())
                    error = rs.lastError().Description;
                rs.CancelUpdate();
                return false;
            }
            ++changed;
        }
        return changed > 0;
    });
    if (!error.isEmpty()) {
        m_lastError = error;
        return failure(error);
    }
    r.rows = changed;
    return r;
}

StoreResult cMeridoxData::updateRowById(kindrecordset krs, qlonglong ID, const Row& Changes)
{
    return updateRows(krs, [krs, ID](const Row& row) { return rowIdOf(krs, row.value(QStringLiteral("ID"))) == ID; },
                      Changes);
}

StoreResult cMeridoxData::deleteRows(kindrecordset krs, const RowMatch& Match)
{
    QString error;
    int deleted = 0;
    StoreResult r = modify(krs, [&](Recordset& rs) {
        if (rs.RecordCount() <= 0)
            return false;
        rs.MoveFirst();
        while (!rs.IsEOF()) {
            if (!Match(currentRow(rs))) {
                rs.MoveNext();
                continue;
            }
            if (!rs.Delete()) {
                error = rs.lastError().Description;
                return false;
            }
            ++deleted;
            rs.MoveNext();
        }
        return deleted > 0;
    });
    if (!error.isEmpty()) {
        m_lastError = error;
        return failure(error);
    }
    r.rows = deleted;
    return r;
}

StoreResult cMeridoxData::deleteRowById(kindrecordset krs, qlonglong ID)
{
    return deleteRows(krs, [krs, ID](const Row& row) { return rowIdOf(krs, row.value(QStringLiteral("ID"))) == ID; });
}

StoreResult cMeridoxData::replaceAll(kindrecordset krs, const Recordset& Source)
{
    QString error;
    int added = 0;
    Recordset source = Source;
    StoreResult r = modify(krs, [&](Recordset& rs) {
        const std::vector<FieldInfo> fields = rs.fieldInfos();
        Recordset fresh = Recordset::CreateDisconnected(fields);
        if (source.isOpen() && source.RecordCount() > 0) {
            const long keep = source.AbsolutePosition();
            for (source.MoveFirst(); !source.IsEOF(); source.MoveNext()) {
                Row values;
                for (const FieldInfo& f : fields) {
                    if (source.fieldIndex(f.name) >= 0)
                        values.insert(f.name, source.value(f.name));
                }
                if (!fresh.AddNew() || !assignValues(fresh, values, error, keyFieldsOf(krs)) || !fresh.Update()) {
                    if (error.isEmpty())
                        error = fresh.lastError().Description;
                    return false;
                }
                ++added;
            }
            if (keep > 0)
                source.setAbsolutePosition(keep);
        }
        rs = fresh;
        return true;
    });
    if (!error.isEmpty()) {
        m_lastError = error;
        return failure(error);
    }
    r.rows = added;
    return r;
}
