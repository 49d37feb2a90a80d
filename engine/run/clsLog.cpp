#include "run/clsLog.h"

#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QRegularExpression>

#include "stores/cMeridoxData.h"

namespace {

QMutex& defaultSinkMutex() {
    static QMutex mutex;
    return mutex;
}

cMeridoxData::Row storeValues(const tErrorRow& row) {
    bool numeric = false;
    const qlonglong number = row.ErrNumber.trimmed().toLongLong(&numeric);
    cMeridoxData::Row values;
    values.insert(QStringLiteral("RECORD"), row.Record);
    values.insert(QStringLiteral("NAME"), row.Name);
    values.insert(QStringLiteral("RUNTIME"), row.RunTime);
    values.insert(QStringLiteral("ERRNUMBER"), numeric ? QVariant(number) : QVariant());
    values.insert(QStringLiteral("ERRDESC"), row.ErrDesc);
    return values;
}

QString storeFailure(const StoreResult& result) {
    if (result.ok)
        return QString();
    return result.error.isEmpty() ? QStringLiteral("the errors store could not be written") : result.error;
}

// Appends the row to the errors store under the store's lock, with the next
// free ID, so concurrent runs lose no rows.
QString saveToErrorsStore(const tErrorRow& row) {
    cMeridoxData store;
    return storeFailure(store.appendRow(executionlogdata, storeValues(row), StoreId::Next));
}

// The rows of one commit group: one lock, one write, consecutive IDs.
QString saveAllToErrorsStore(const std::vector<tErrorRow>& rows) {
    std::vector<cMeridoxData::Row> values;
    values.reserve(rows.size());
    for (const tErrorRow& row : rows)
        values.push_back(storeValues(row));
    cMeridoxData store;
    return storeFailure(store.appendRows(executionlogdata, values, StoreId::Next));
}

clsLog::ErrorSink& defaultSink() {
    static clsLog::ErrorSink sink = saveToErrorsStore;
    return sink;
}

// Whether the default sink is still the errors store, whose rows can then be
// saved together.
bool& defaultSinkIsStore() {
    static bool isStore = true;
    return isStore;
}

const QString LineBreak = QStringLiteral("\r\n");

// The locale's time format without a time-zone field (a time of day has none).
// Every failing record adds a line: the format is worked out once per
// locale format, and the text once per second.
QString timeOfDay(const QTime& time) {
    static QMutex mutex;
    static QString givenFormat, usedFormat, lastText;
    static int lastSecond = -1;
    const QLocale locale = QLocale::system();
    const QString given = locale.timeFormat(QLocale::LongFormat);
    const int second = time.msecsSinceStartOfDay() / 1000;
    QMutexLocker lock(&mutex);
    if (given != givenFormat || usedFormat.isEmpty()) {
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        QString cleaned = given;
        cleaned.replace(zone, QStringLiteral(" "));
        givenFormat = given;
        usedFormat = cleaned.trimmed();
        lastSecond = -1;
    }
    // A format showing less than a second (the caller adds hundredths) is
    // applied to every time.
    if (!time.isValid() || usedFormat.contains(u'z'))
        return locale.toString(time, usedFormat);
    if (second != lastSecond) {
        lastText = locale.toString(QTime::fromMSecsSinceStartOfDay(second * 1000), usedFormat);
        lastSecond = second;
    }
    return lastText;
}

}  // namespace

clsLog::clsLog(QObject* parent) : QObject(parent) {
    QMutexLocker lock(&defaultSinkMutex());
    m_sink = defaultSink();
    if (defaultSinkIsStore())
        m_batchSink = saveAllToErrorsStore;
}

clsLog::~clsLog() = default;

void clsLog::setErrorSink(ErrorSink sink) {
    m_sink = std::move(sink);
    m_batchSink = nullptr;
    m_sinkFailureReported = false;
}

void clsLog::setDefaultErrorSink(ErrorSink sink) {
    QMutexLocker lock(&defaultSinkMutex());
    defaultSink() = std::move(sink);
    defaultSinkIsStore() = false;
}

QString clsLog::WithTimePrefix(const QString& Val, const QTime& time) {
    const int hundredths = (time.msec() / 10) % 100;
    return timeOfDay(time) + QLatin1Char('.') + QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0')) +
           QStringLiteral(": ") + Val;
}

void clsLog::append(const QString& line) {
    m_buffer += LineBreak;
    m_buffer += line;
    emit LogAdded(line);
}

QString clsLog::AddLog(const QString& Val, bool ShowTime, const QString& IntName, const QString& ErrNumber,
                       std::int32_t Record, bool SaveRecord) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString line = ShowTime ? WithTimePrefix(Val, now.time()) : Val;
    m_announcedRecord = SaveRecord ? Record : -1;
    append(line);
    m_announcedRecord = -1;
    if (SaveRecord && m_sink)
        sinkOutcome(runSink([&] { return m_sink(tErrorRow{Record, IntName, now, ErrNumber, line}); }));
    return line;
}

template <typename Save> QString clsLog::runSink(const Save& save) {
    try {
        return save();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown failure");
    }
}

void clsLog::sinkOutcome(const QString& failure) {
    if (!failure.isEmpty())
        m_runDataLost = true;
    if (failure.isEmpty()) {
        m_sinkFailureReported = false;
    } else if (!m_sinkFailureReported) {
        // Once, so a store that stays unwritable does not double every
        // line of a long run.
        m_sinkFailureReported = true;
        // An error entry for the runner: the record's failure is lost.
        append(QStringLiteral("MeridoxRunner ERROR: Error rows cannot be saved to the errors store: ") + failure);
    }
}

void clsLog::AddErrorLogs(const std::vector<tErrorLine>& Lines, bool ShowTime, const QString& IntName) {
    if (!m_sink || !m_batchSink || Lines.size() < 2) {
        for (const tErrorLine& l : Lines)
            AddLog(l.Text, ShowTime, IntName, l.ErrNumber, l.Record, true);
        return;
    }
    // The rows are saved before their lines are announced, so that a failure
    // is said right after the first line, where saving that line's row alone
    // would have said it.
    std::vector<tErrorRow> rows;
    rows.reserve(Lines.size());
    for (const tErrorLine& l : Lines) {
        const QDateTime now = QDateTime::currentDateTime();
        rows.push_back({l.Record, IntName, now, l.ErrNumber, ShowTime ? WithTimePrefix(l.Text, now.time()) : l.Text});
    }
    const QString failure = runSink([&] { return m_batchSink(rows); });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_announcedRecord = rows[i].Record;
        append(rows[i].ErrDesc);
        m_announcedRecord = -1;
        if (i == 0)
            sinkOutcome(failure);
    }
}

QString clsLog::AddRunDataLoss(const QString& Val) {
    m_runDataLost = true;
    append(Val);
    return Val;
}

QString clsLog::AddCritical(const QString& Val, bool ShowTime) {
    const QString line = ShowTime ? WithTimePrefix(Val, QTime::currentTime()) : Val;
    m_critical = true;
    append(line);
    return line;
}

QString clsLog::SaveLog(const QString& LogFile) {
    QFile file(LogFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.errorString();
    const QByteArray bytes = (m_buffer + LineBreak).toUtf8();
    if (file.write(bytes) != bytes.size())
        return file.errorString();
    if (!file.flush())
        return file.errorString();
    return QString();
}
