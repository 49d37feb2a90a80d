#include "CDispather.h"

#include "EventLog.h"
#include "stores/JobId.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

constexpr qint64 kMsPerMinute = 60 * 1000;
constexpr int kDaysAfterEnd = 36891; // a finished series is pushed about 101 years ahead

// Wall-clock value of a date: its local date and time fields held in a
// zone-free QDateTime, so that arithmetic and comparisons ignore
// daylight-saving jumps. Fields survive even for a local time that falls in
// a spring-forward gap (which Qt reports as invalid).
QDateTime wallClock(const QDateTime& dt)
{
    if (!dt.date().isValid())
        return {};
    if (dt.timeSpec() == Qt::LocalTime)
        return QDateTime(dt.date(), dt.time().isValid() ? dt.time() : QTime(0, 0), Qt::UTC);
    const QDateTime local = dt.toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

// A wall-clock value as a local date for the store and the caller. A time in
// a spring-forward gap does not exist locally; it becomes the first local
// time after the gap.
QDateTime localTime(const QDateTime& wall)
{
    QDateTime local(wall.date(), wall.time(), Qt::LocalTime);
    for (int quarter = 1; !local.isValid() && quarter <= 16; ++quarter) {
        const QDateTime later = wall.addSecs(qint64(quarter) * 15 * 60);
        local = QDateTime(later.date(), later.time(), Qt::LocalTime);
    }
    return local;
}

std::optional<QDateTime> dateValue(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    QDateTime dt;
    if (v.metaType().id() == QMetaType::QDateTime)
        dt = v.toDateTime();
    else if (v.metaType().id() == QMetaType::QDate)
        dt = QDateTime(v.toDate(), QTime(0, 0));
    else if (v.metaType().id() == QMetaType::QString) {
        const QString text = v.toString().trimmed();
        if (text.isEmpty())
            return std::nullopt;
        dt = QDateTime::fromString(text, Qt::ISODate);
    } else
        return std::nullopt;
    QDateTime wall = wallClock(dt);
    if (!wall.isValid())
        return std::nullopt;
    return wall;
}

// A whole number from a numeric or decimal-text value, rounded half to even
// (as the stored doubles and decimals were converted originally).
std::optional<qint64> wholeValue(const QVariant& v, bool mustBeWhole)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    bool ok = false;
    double d = 0;
    if (v.metaType().id() == QMetaType::QString) {
        const QString text = v.toString().trimmed();
        d = text.toDouble(&ok);
    } else {
        d = v.toDouble(&ok);
    }
    if (!ok || !std::isfinite(d) || std::fabs(d) > 1e15)
        return std::nullopt;
    const double r = std::nearbyint(d);
    if (mustBeWhole && r != d)
        return std::nullopt;
    return qint64(r);
}

qint64 unitMinutes(qint64 kind)
{
    switch (kind) {
    case 1: return 1;
    case 2: return 60;
    case 3: return 24 * 60;
    case 4: return 7 * 24 * 60;
    default: return 0;
    }
}

QString jobText(int id, const QString& name)
{
    return QStringLiteral("ID %1 (%2)").arg(id).arg(name.trimmed());
}

} // namespace

QString eventLogDateText(const QDateTime& time)
{
    const QLocale locale = QLocale::system();
    // The zone name ("t", outside quoted literal text) means nothing for a
    // wall-clock time.
    const QString longFormat = locale.timeFormat(QLocale::LongFormat);
    QString timeFormat;
    bool quoted = false;
    for (const QChar c : longFormat) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            timeFormat += c;
    }
    const QDateTime wall = wallClock(time);
    const QString date = locale.toString(wall.date(), QLocale::ShortFormat);
    // The general date format leaves out a time of midnight.
    if (wall.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + locale.toString(wall.time(), timeFormat.trimmed());
}

std::optional<QDateTime> scheduleNextRunTime(const ScheduleRow& row, const QDateTime& now, QString* why)
{
    auto fail = [why](const QString& text) -> std::optional<QDateTime> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    const std::optional<QDateTime> from = dateValue(row.FROM);
    if (!from)
        return fail(QStringLiteral("FROM vacio"));
    const std::optional<qint64> every = wholeValue(row.EVERY, false);
    if (!every)
        return fail(QStringLiteral("EVERY vacio"));
    if (*every < 1 || *every > std::numeric_limits<qint16>::max())
        return fail(QStringLiteral("EVERY fuera de rango: %1").arg(row.EVERY.toString()));
    const std::optional<qint64> kind = wholeValue(row.KINDEVERY, false);
    if (!kind)
        return fail(QStringLiteral("KINDEVERY vacio"));
    const qint64 unit = unitMinutes(*kind);
    if (unit == 0)
        return fail(QStringLiteral("KINDEVERY fuera de rango: %1").arg(*kind));

    const qint64 stepMs = *every * unit * kMsPerMinute;
    const QDateTime wallNow = wallClock(now);
    const std::optional<QDateTime> last = dateValue(row.LASTRUN);

    // Index k of FROM + k * step: first one after LASTRUN when the job ran
    // at or after FROM, else FROM itself; then never earlier than now.
    // Counting on FROM rather than adding a step to LASTRUN keeps the times on
    // the series even when LASTRUN is off it (a run moved out of a
    // daylight-saving gap, a FROM or EVERY changed after runs).
    qint64 k = 0;
    if (last && *last >= *from)
        k = from->msecsTo(*last) / stepMs + 1;
    const qint64 toNow = from->msecsTo(wallNow);
    if (toNow > 0)
        k = std::max(k, (toNow + stepMs - 1) / stepMs);
    QDateTime next = from->addMSecs(k * stepMs);

    const std::optional<QDateTime> till = dateValue(row.TO);
    if (till && *till > *from && next > *till)
        next = wallNow.addDays(kDaysAfterEnd);
    return localTime(next);
}

CDispather::CDispather(IScheduleStore& store, IRunnerLauncher& launcher, const ISchedulerClock& clock,
                       Logger logger)
    : store_(store), launcher_(launcher), clock_(clock), logger_(std::move(logger))
{
    if (!logger_)
        logger_ = [](const QString& message, int eventType) { return WriteEventLog(message, eventType); };
}

bool CDispather::log(const QString& message, int eventType) const
{
    return logger_(message, eventType);
}

std::optional<QDateTime> CDispather::NextRunTime(const ScheduleRow& row, QString* why) const
{
    return scheduleNextRunTime(row, clock_.now(), why);
}

bool CDispather::Initialize()
{
    rows_.clear();
    rowIds_.clear();
    table_.clear();
    unsaved_.clear();

    QString error;
    if (!store_.readRows(rows_, error)) {
        rows_.clear();
        log(QStringLiteral("Error en inicializacion"), 1);
        log(QStringLiteral("No se puede leer la planificacion: ") + error, 1);
        return false;
    }
    log(QStringLiteral("Registros Planificados: ") + QString::number(rows_.size()), 4);

    rowIds_.resize(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        const ScheduleRow& row = rows_[i];
        // A bad row is refused on its own; the rows after it still load.
        const std::optional<int> id = ParseJobId(row.ID);
        if (!id) {
            log(QStringLiteral("Error en inicializacion: ID no valido '%1' (%2)")
                    .arg(row.ID.toString(), row.NAME.trimmed()), 1);
            continue;
        }
        const int jobId = int(*id);
        bool duplicate = false;
        for (size_t j = 0; j < i && !duplicate; ++j)
            duplicate = rowIds_[j] == jobId;
        if (duplicate) {
            log(QStringLiteral("Error en inicializacion: ID repetido ") + jobText(jobId, row.NAME), 1);
            continue;
        }
        rowIds_[i] = jobId;

        if (row.STATUS.trimmed() != QLatin1String("Active"))
            continue;
        // Without a file name the runner would be started on nothing.
        if (row.NAME.trimmed().isEmpty()) {
            log(QStringLiteral("Planificacion no valida ") + jobText(jobId, row.NAME) + QStringLiteral(": NAME vacio"), 1);
            continue;
        }
        QString why;
        const std::optional<QDateTime> next = NextRunTime(row, &why);
        if (!next) {
            log(QStringLiteral("Planificacion no valida ") + jobText(jobId, row.NAME) + QStringLiteral(": ") + why, 1);
            continue;
        }
        log(QStringLiteral("Proxima ejecución: ") + eventLogDateText(*next), 4);
        table_[jobId] = Cdispinfo{*next, jobId};
    }
    return true;
}

void CDispather::Disconnect()
{
}

bool CDispather::RunScheduledJob(ScheduleRow& row, int id, const QDateTime& DueTime)
{
    // Fixed-text names come back padded; the runner gets the name itself.
    QString name = row.NAME;
    while (!name.isEmpty() && name.back().isSpace())
        name.chop(1);
    log(QStringLiteral("Llamando a Shell ") + launcher_.programName() + QLatin1Char(' ') + name, 4);
    QString error;
    if (!launcher_.start(name, error)) {
        log(QStringLiteral("Error al ejecutar ") + jobText(id, row.NAME) + QStringLiteral(": ") + error, 1);
        return false;
    }
    row.LASTRUN = DueTime;
    return true;
}

void CDispather::ProcessEvents()
{
    launcher_.reap();
    if (table_.empty())
        return;
    const QDateTime now = clock_.now();
    std::vector<std::pair<int, QString>> ranNow; // jobs started in this pass
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!rowIds_[i])
            continue;
        const auto entry = table_.find(*rowIds_[i]);
        if (entry == table_.end())
            continue;
        Cdispinfo& info = entry->second;
        if (wallClock(info.time) > wallClock(now))
            continue;
        ScheduleRow& row = rows_[i];
        const QDateTime due = info.time;
        log(QStringLiteral("Se va a ejecutar: ") + eventLogDateText(due), 4);
        if (RunScheduledJob(row, info.id, due)) {
            unsaved_[info.id] = due;
            ranNow.emplace_back(info.id, row.NAME);
        }
        // Also after a failed start, so that a broken job is tried again once
        // per period rather than at every pass.
        ScheduleRow asRun = row;
        asRun.LASTRUN = due;
        const std::optional<QDateTime> next = NextRunTime(asRun);
        if (next)
            info.time = *next;
        else
            table_.erase(entry);
    }
    if (ranNow.empty())
        return;
    QString error;
    if (store_.saveLastRuns(unsaved_, error)) {
        unsaved_.clear();
        return;
    }
    for (const auto& [id, name] : ranNow)
        log(QStringLiteral("Error al guardar LASTRUN ") + jobText(id, name) + QStringLiteral(": ") + error, 1);
}
