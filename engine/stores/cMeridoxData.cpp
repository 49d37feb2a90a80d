#include "stores/cMeridoxData.h"

#include "data/Recordset.h"
#include "data/RowsetXml.h"
#include "stores/basUtils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
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

// Exclusive lock on "<store>.lock" for the life of the object. The lock file
// itself is never removed: removing it would let two writers lock two
// different files. A writer that dies loses its lock with its descriptor.
class StoreLock {
public:
    explicit StoreLock(const QString& storePath)
    {
        const QByteArray path = QFile::encodeName(storePath + QStringLiteral(".lock"));
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            error_ = QStringLiteral("Cannot open lock file %1: %2").arg(QFile::decodeName(path), qt_error_string(errno));
            return;
        }
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

    // The lock file also remembers the highest ID after the last in-place
    // append, with the store file as it was then; any other change to the
    // store (a rewrite, another program) shows as a different file, and the
    // note is then not used. So an append needs not read the rows.
    std::optional<qlonglong> knownHighestId(const QString& storePath) const
    {
        const std::optional<QByteArray> now = fileStamp(storePath);
        if (!now)
            return std::nullopt;
        char buffer[NoteSize];
        const ssize_t n = ::pread(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            return std::nullopt;
        const QByteArray note = QByteArray(buffer, static_cast<qsizetype>(n)).trimmed();
        const qsizetype blank = note.lastIndexOf(' ');
        if (blank < 0 || note.left(blank) != *now)
            return std::nullopt;
        bool ok = false;
        const qlonglong highest = note.mid(blank + 1).trimmed().toLongLong(&ok);
        return ok ? std::optional<qlonglong>(highest) : std::nullopt;
    }

    void rememberHighestId(const QString& storePath, qlonglong highest) const
    {
        const std::optional<QByteArray> now = fileStamp(storePath);
        if (!now)
            return;
        // One fixed-size record, so that it is overwritten whole without
        // truncating the file.
        const QByteArray note = (*now + ' ' + QByteArray::number(highest)).leftJustified(NoteSize - 1, ' ') + '\n';
        if (note.size() == NoteSize)
            (void)::pwrite(fd_, note.constData(), static_cast<size_t>(note.size()), 0);
    }

private:
    static constexpr qsizetype NoteSize = 128;

    // Size, change time and file number of a file, as text.
    static std::optional<QByteArray> fileStamp(const QString& path)
    {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return std::nullopt;
        return QByteArray::number(qint64(st.st_size)) + ' ' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + ' '
            + QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ' ' + QByteArray::number(quint64(st.st_ino));
    }

    int fd_ = -1;
    QString error_;
};

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
        if (!QFileInfo::exists(path)) {
            // Only a missing store is created without a word.
            Recordset fresh = Recordset::CreateDisconnected(layout.fields);
            if (!fresh.Save(path)) {
                error = QStringLiteral("Cannot create store %1: %2").arg(path, fresh.lastError().Description);
                return std::nullopt;
            }
            if (!rs.OpenFile(path)) {
                error = rs.lastError().Description;
                return std::nullopt;
            }
            return rs;
        }
        if (rs.OpenFile(path))
            return rs;
        const QString reason = rs.lastError().Description;
        {
            QFile probe(path);
            if (!probe.open(QIODevice::ReadOnly)) {
                // Unreadable for want of rights is no proof of damage: keep it.
                error = QStringLiteral("Cannot read store %1: %2").arg(path, probe.errorString());
                return std::nullopt;
            }
        }
        // A file that does not parse holds a history nobody may wipe: set it
        // aside, say so, then start a new store.
        const QString base = path + QStringLiteral(".corrupt-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        QString aside = base;
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = base + QStringLiteral("-%1").arg(n);
        if (!QFile::rename(path, aside)) {
            error = QStringLiteral("Store %1 cannot be read (%2) and cannot be moved aside").arg(path, reason);
            return std::nullopt;
        }
        report = QStringLiteral("Store %1 could not be read (%2); it was moved to %3 and a new store was created")
                     .arg(path, reason, aside);
        qWarning("%s", qUtf8Printable(report));
        return open(path, layout, report, error);
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
    if (!rs->Save(path)) {
        lastError = QStringLiteral("Cannot save store %1: %2").arg(path, rs->lastError().Description);
        return failure(lastError);
    }
    lastError = report;
    StoreResult r;
    r.ok = true;
    return r;
}

} // namespace

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
        if (rs.OpenFile(path))
            return rs;
    }
    QDir().mkpath(m_folder);
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return Recordset();
    }
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
    if (!QFileInfo::exists(path))
        return true;
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return false;
    }
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    m_lastError = QStringLiteral("Cannot delete %1: %2").arg(path, file.errorString());
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
    QDir().mkpath(m_folder);
    StoreLock lock(path);
    if (!lock.locked()) {
        m_lastError = lock.error();
        return failure(m_lastError);
    }

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
    // store. A missing store, one whose end is not its closing tags (a writer
    // was killed meanwhile) or one that cannot be read is rewritten whole
    // below, which creates, repairs or sets it aside. The schedule is always
    // rewritten: a new job's ID depends on every ID in it, and it stays small.
    ado::RowsetAppender appender;
    if (krs != scheduleddata && QFileInfo::exists(path) && appender.open(path)) {
        std::optional<qlonglong> highest = lock.knownHighestId(path);
        bool readable = true;
        if (!highest && Id == StoreId::Next) {
            Recordset all;
            readable = all.OpenFile(path);
            if (readable)
                highest = highestId(all);
        }
        if (readable) {
            if (Id == StoreId::Next)
                setNextId(*highest);
            Recordset row = Recordset::CreateDisconnected(appender.fields());
            QString error;
            if (!row.AddNew() || !assignValues(row, values, error, keyFieldsOf(krs)) || !row.Update()) {
                m_lastError = error.isEmpty() ? row.lastError().Description : error;
                return failure(m_lastError);
            }
            QVariantList rowValues;
            for (int i = 0; i < static_cast<int>(appender.fields().size()); ++i)
                rowValues.push_back(row.value(i));
            if (!appender.append(rowValues, &error)) {
                m_lastError = QStringLiteral("Cannot save store %1: %2").arg(path, error);
                return failure(m_lastError);
            }
            StoreResult r;
            r.ok = true;
            r.rows = 1;
            r.id = row.value(QStringLiteral("ID"));
            if (highest) {
                const std::optional<qlonglong> added = idOf(r.id);
                lock.rememberHighestId(path, added ? std::max(*highest, *added) : *highest);
            }
            return r;
        }
    }

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
