// The scheduler driven with an in-memory schedule, runner and clock.

#include "CDispather.h"
#include "FakeSchedule.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cstdlib>
#include <ctime>

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

ScheduleRow job(int id, const QString& name, const QVariant& from, int every, int kind,
                const QVariant& lastRun = {}, const QString& status = QStringLiteral("Active"),
                const QVariant& to = {})
{
    ScheduleRow r;
    r.ID = qlonglong(id);
    r.NAME = name.leftJustified(255, u' '); // fixed-text fields come back padded
    r.FROM = from;
    r.TO = to;
    r.EVERY = double(every);
    r.KINDEVERY = kind;
    r.LASTRUN = lastRun;
    r.STATUS = status.leftJustified(255, u' ');
    return r;
}

QDateTime next(const ScheduleRow& r, const QDateTime& now)
{
    const auto t = scheduleNextRunTime(r, now);
    return t ? *t : QDateTime();
}

struct Entry {
    QString text;
    int type;
};

struct Harness {
    FakeStore store;
    FakeLauncher launcher;
    FakeClock clock;
    std::vector<Entry> log;
    CDispather dispatcher{store, launcher, clock, [this](const QString& m, int t) {
                              log.push_back({m, t});
                              return true;
                          }};

    QStringList texts(int type = -1) const
    {
        QStringList out;
        for (const Entry& e : log)
            if (type < 0 || e.type == type)
                out << e.text;
        return out;
    }
    // One pass at the given time.
    void passAt(const QDateTime& now)
    {
        clock.current = now;
        dispatcher.ProcessEvents();
    }
};

// Sets TZ for one test and puts the old value back afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old, had_ = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

} // namespace

TEST(NextRunTime, FollowsTheSeriesFromFromAndLastRun)
{
    // Every 10 minutes from 08:00, last run 08:20, service started 08:47.
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 8, 0), 10, 1, at(2024, 5, 6, 8, 20)), at(2024, 5, 6, 8, 47)),
              at(2024, 5, 6, 8, 50));
    // A time exactly now is due now, not a step later.
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 8, 0), 10, 1, at(2024, 5, 6, 8, 20)), at(2024, 5, 6, 8, 30)),
              at(2024, 5, 6, 8, 30));
    // Units: hours, days, weeks.
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 8, 0), 3, 2, at(2024, 5, 6, 8, 0)), at(2024, 5, 6, 8, 1)),
              at(2024, 5, 6, 11, 0));
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 8, 0), 2, 3, at(2024, 5, 6, 8, 0)), at(2024, 5, 6, 9, 0)),
              at(2024, 5, 8, 8, 0));
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 8, 0), 1, 4, at(2024, 5, 13, 8, 0)), at(2024, 5, 13, 8, 0)),
              at(2024, 5, 20, 8, 0));
    // Missed periods are skipped, arithmetically even years back.
    EXPECT_EQ(next(job(1, "a", at(2001, 1, 1, 0, 0), 1, 1, at(2001, 1, 1, 0, 0)), at(2024, 5, 6, 8, 47, 30)),
              at(2024, 5, 6, 8, 48));
    // A LASTRUN off the series (edited by hand) leads back onto it.
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 8, 0), 10, 1, at(2024, 5, 6, 8, 23)), at(2024, 5, 6, 8, 24)),
              at(2024, 5, 6, 8, 30));
}

TEST(NextRunTime, NeverRunJobStartsAtFrom)
{
    // FROM ahead: due at FROM, not at once.
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 9, 0), 1, 3), at(2024, 5, 6, 8, 0)), at(2024, 5, 6, 9, 0));
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 6, 9, 0), 1, 3, QVariant(QDateTime())), at(2024, 5, 6, 8, 0)),
              at(2024, 5, 6, 9, 0));
    // FROM long past: the first time of the series not earlier than now.
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 1, 9, 0), 1, 3), at(2024, 5, 6, 10, 0)), at(2024, 5, 7, 9, 0));
    EXPECT_EQ(next(job(1, "a", at(2024, 5, 1, 9, 0), 1, 3), at(2024, 5, 6, 9, 0)), at(2024, 5, 6, 9, 0));
}

TEST(NextRunTime, EndOfSeries)
{
    const QDateTime now = at(2024, 5, 6, 8, 47);
    const QDateTime from = at(2024, 5, 6, 8, 0);
    const QDateTime last = at(2024, 5, 6, 8, 20);
    // TO later than FROM and passed: about 101 years ahead.
    const QDateTime ended = next(job(1, "a", from, 10, 1, last, "Active", at(2024, 5, 6, 8, 45)), now);
    EXPECT_EQ(ended, now.addDays(36891));
    // TO not passed yet, or exactly the next time: runs.
    EXPECT_EQ(next(job(1, "a", from, 10, 1, last, "Active", at(2024, 5, 6, 8, 50)), now), at(2024, 5, 6, 8, 50));
    // TO equal to or earlier than FROM: no end.
    EXPECT_EQ(next(job(1, "a", from, 10, 1, last, "Active", from), now), at(2024, 5, 6, 8, 50));
    EXPECT_EQ(next(job(1, "a", from, 10, 1, last, "Active", at(2024, 5, 5, 8, 0)), now), at(2024, 5, 6, 8, 50));
}

TEST(NextRunTime, RefusesSchedulesWithoutAPositiveStep)
{
    const QDateTime now = at(2024, 5, 6, 8, 47);
    const QDateTime from = at(2024, 5, 6, 8, 0);
    QString why;
    for (const ScheduleRow& bad : {job(1, "a", from, 0, 1), job(1, "a", from, -5, 1), job(1, "a", from, 10, 0),
                                   job(1, "a", from, 10, 5), job(1, "a", from, 100000, 1)}) {
        why.clear();
        EXPECT_FALSE(scheduleNextRunTime(bad, now, &why));
        EXPECT_FALSE(why.isEmpty());
    }
    ScheduleRow noFrom = job(1, "a", {}, 10, 1);
    EXPECT_FALSE(scheduleNextRunTime(noFrom, now));
    ScheduleRow noEvery = job(1, "a", from, 10, 1);
    noEvery.EVERY = QVariant();
    EXPECT_FALSE(scheduleNextRunTime(noEvery, now));
    ScheduleRow noKind = job(1, "a", from, 10, 1);
    noKind.KINDEVERY = QVariant();
    EXPECT_FALSE(scheduleNextRunTime(noKind, now));
    // EVERY is stored as a double: 0.4 rounds to no step at all, 2.5 to 2.
    ScheduleRow tiny = job(1, "a", from, 10, 1);
    tiny.EVERY = 0.4;
    EXPECT_FALSE(scheduleNextRunTime(tiny, now));
    ScheduleRow half = job(1, "a", from, 10, 1, from);
    half.EVERY = 2.5;
    EXPECT_EQ(next(half, at(2024, 5, 6, 8, 1)), at(2024, 5, 6, 8, 2));
}

TEST(NextRunTime, KeepsWallClockAcrossDaylightSaving)
{
    ZoneGuard zone("Europe/Madrid"); // clocks go forward 2024-03-31 02:00, back 2024-10-27 03:00
    // A daily job stays at 08:00 local on both sides of each change.
    EXPECT_EQ(next(job(1, "a", at(2024, 3, 1, 8, 0), 1, 3, at(2024, 3, 30, 8, 0)), at(2024, 3, 30, 9, 0)),
              at(2024, 3, 31, 8, 0));
    EXPECT_EQ(next(job(1, "a", at(2024, 3, 1, 8, 0), 1, 3, at(2024, 10, 26, 8, 0)), at(2024, 10, 26, 9, 0)),
              at(2024, 10, 27, 8, 0));
    // A weekly job too.
    EXPECT_EQ(next(job(1, "a", at(2024, 3, 24, 8, 0), 1, 4, at(2024, 3, 24, 8, 0)), at(2024, 3, 25, 8, 0)),
              at(2024, 3, 31, 8, 0));

    // A daily 02:30 does not exist on 31 March: it runs once the clock has
    // jumped, and the next day it is back at 02:30.
    Harness h;
    h.store.rows = {job(1, "/jobs/night.xml", at(2024, 3, 1, 2, 30), 1, 3, at(2024, 3, 30, 2, 30))};
    h.clock.current = at(2024, 3, 30, 12, 0);
    ASSERT_TRUE(h.dispatcher.Initialize());
    h.passAt(QDateTime(QDate(2024, 3, 31), QTime(1, 59, 59)));
    EXPECT_TRUE(h.launcher.started.isEmpty());
    h.passAt(QDateTime::fromSecsSinceEpoch(QDateTime(QDate(2024, 3, 31), QTime(1, 59, 59)).toSecsSinceEpoch() + 1));
    ASSERT_EQ(h.launcher.started.size(), 1);
    ASSERT_EQ(h.store.saves.size(), 1u);
    const QDateTime saved = h.store.saves[0].at(1);
    // A time that exists, so that the store can hold it: the end of the gap.
    EXPECT_TRUE(saved.isValid());
    EXPECT_EQ(saved, QDateTime(QDate(2024, 3, 31), QTime(3, 0)));
    EXPECT_EQ(h.dispatcher.dueTimes().at(1).time, at(2024, 4, 1, 2, 30));

    // An hourly job runs once per wall-clock hour when the clock goes back.
    Harness back;
    back.store.rows = {job(2, "/jobs/hourly.xml", at(2024, 10, 1, 0, 0), 1, 2, at(2024, 10, 27, 1, 0))};
    back.clock.current = at(2024, 10, 27, 1, 30);
    ASSERT_TRUE(back.dispatcher.Initialize());
    // From 02:00 summer time through the repeated hour to 03:00 winter time.
    const qint64 first = QDateTime(QDate(2024, 10, 27), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    for (qint64 s = first; s < first + 2 * 3600 + 60; s += 60)
        back.passAt(QDateTime::fromSecsSinceEpoch(s));
    // 02:00 (first), then the repeated hour waits for 03:00.
    EXPECT_EQ(back.launcher.started.size(), 2);
}

TEST(Dispatcher, LoadsActiveJobsAndLogsTheirNextTime)
{
    Harness h;
    h.clock.current = at(2024, 5, 6, 8, 47);
    h.store.rows = {job(1, "/jobs/a.xml", at(2024, 5, 6, 8, 0), 10, 1, at(2024, 5, 6, 8, 20)),
                    job(2, "/jobs/b.xml", at(2024, 5, 6, 8, 0), 10, 1, {}, "Inactive"),
                    job(3, "/jobs/c.xml", at(2024, 5, 6, 9, 0), 1, 2, {}, "active"),
                    job(4, "/jobs/d.xml", at(2024, 5, 6, 9, 0), 1, 2)};
    ASSERT_TRUE(h.dispatcher.Initialize());
    EXPECT_EQ(h.texts(), (QStringList{QStringLiteral("Registros Planificados: 4"),
                                      QStringLiteral("Proxima ejecución: ") + eventLogDateText(at(2024, 5, 6, 8, 50)),
                                      QStringLiteral("Proxima ejecución: ") + eventLogDateText(at(2024, 5, 6, 9, 0))}));
    ASSERT_EQ(h.dispatcher.dueTimes().size(), 2u);
    EXPECT_EQ(h.dispatcher.dueTimes().at(1).time, at(2024, 5, 6, 8, 50));
    EXPECT_EQ(h.dispatcher.dueTimes().at(4).time, at(2024, 5, 6, 9, 0));

    // Passes until 10:00: the inactive and lower-case jobs never start.
    for (QDateTime t = h.clock.current; t <= at(2024, 5, 6, 10, 0); t = t.addSecs(30))
        h.passAt(t);
    EXPECT_FALSE(h.launcher.started.contains(QStringLiteral("/jobs/b.xml")));
    EXPECT_FALSE(h.launcher.started.contains(QStringLiteral("/jobs/c.xml")));
    EXPECT_EQ(h.launcher.started.count(QStringLiteral("/jobs/d.xml")), 2); // 09:00 and 10:00
    EXPECT_EQ(h.launcher.started.count(QStringLiteral("/jobs/a.xml")), 8); // 08:50 .. 10:00
}

TEST(Dispatcher, EmptyAndUnreadableStores)
{
    Harness empty;
    empty.clock.current = at(2024, 5, 6, 8, 0);
    EXPECT_TRUE(empty.dispatcher.Initialize());
    empty.passAt(at(2024, 5, 6, 8, 0));
    EXPECT_EQ(empty.texts(), QStringList{QStringLiteral("Registros Planificados: 0")});

    Harness broken;
    broken.store.failRead = true;
    EXPECT_FALSE(broken.dispatcher.Initialize());
    // The entry itself is the exact text; the reason follows on its own.
    ASSERT_EQ(broken.log.size(), 2u);
    EXPECT_EQ(broken.log[0].text, QStringLiteral("Error en inicializacion"));
    EXPECT_EQ(broken.log[0].type, 1);
    EXPECT_TRUE(broken.log[1].text.contains(QStringLiteral("cannot read")));
    EXPECT_EQ(broken.log[1].type, 1);
}

TEST(Dispatcher, DatesInEntriesUseTheGeneralDateFormat)
{
    const QLocale system = QLocale::system();
    // Midnight gives the date alone; any other time date and time.
    EXPECT_EQ(eventLogDateText(at(2024, 5, 7, 0, 0)), system.toString(QDate(2024, 5, 7), QLocale::ShortFormat));
    const QString withTime = eventLogDateText(at(2024, 5, 7, 8, 50, 5));
    EXPECT_TRUE(withTime.startsWith(system.toString(QDate(2024, 5, 7), QLocale::ShortFormat) + u' ')) << qPrintable(withTime);
    EXPECT_TRUE(withTime.contains(QStringLiteral("50"))) << qPrintable(withTime);
    EXPECT_EQ(withTime, withTime.trimmed());
}

TEST(Dispatcher, DueJobsRunOnceWithTrimmedNameAndOneSavePerPass)
{
    Harness h;
    h.clock.current = at(2024, 5, 6, 7, 0);
    h.store.rows = {job(7, "/data/my jobs/first file.xml", at(2024, 5, 6, 8, 0), 1, 3),
                    job(8, "/data/second.xml", at(2024, 5, 6, 7, 30), 1, 3),
                    job(9, "/data/later.xml", at(2024, 5, 6, 9, 0), 1, 3)};
    ASSERT_TRUE(h.dispatcher.Initialize());
    h.log.clear();

    h.passAt(at(2024, 5, 6, 7, 59, 59));
    EXPECT_EQ(h.launcher.started, QStringList{QStringLiteral("/data/second.xml")});
    h.launcher.started.clear();
    h.store.saves.clear();
    h.log.clear();

    // Exactly at the due time, with two jobs due: store order, one save.
    h.passAt(at(2024, 5, 6, 9, 0));
    EXPECT_EQ(h.launcher.started,
              (QStringList{QStringLiteral("/data/my jobs/first file.xml"), QStringLiteral("/data/later.xml")}));
    EXPECT_EQ(h.texts(), (QStringList{
                             QStringLiteral("Se va a ejecutar: ") + eventLogDateText(at(2024, 5, 6, 8, 0)),
                             QStringLiteral("Llamando a Shell MeridoxRunner /data/my jobs/first file.xml"),
                             QStringLiteral("Se va a ejecutar: ") + eventLogDateText(at(2024, 5, 6, 9, 0)),
                             QStringLiteral("Llamando a Shell MeridoxRunner /data/later.xml"),
                         }));
    ASSERT_EQ(h.store.saves.size(), 1u);
    // LASTRUN is the scheduled time, not the time of starting.
    EXPECT_EQ(h.store.saves[0], (std::map<int, QDateTime>{{7, at(2024, 5, 6, 8, 0)}, {9, at(2024, 5, 6, 9, 0)}}));

    // The same second again and the seconds after: nothing more, no save.
    h.launcher.started.clear();
    h.passAt(at(2024, 5, 6, 9, 0));
    h.passAt(at(2024, 5, 6, 9, 0, 1));
    EXPECT_TRUE(h.launcher.started.isEmpty());
    EXPECT_EQ(h.store.saves.size(), 1u);
    EXPECT_EQ(h.dispatcher.dueTimes().at(7).time, at(2024, 5, 7, 8, 0));
    EXPECT_EQ(h.dispatcher.dueTimes().at(9).time, at(2024, 5, 7, 9, 0));
}

TEST(Dispatcher, BadRowsAreRefusedOneByOne)
{
    Harness h;
    h.clock.current = at(2024, 5, 6, 7, 0);
    ScheduleRow noId = job(0, "/j/noid.xml", at(2024, 5, 6, 8, 0), 1, 3);
    noId.ID = QVariant();
    h.store.rows = {job(1, "/j/one.xml", at(2024, 5, 6, 8, 0), 1, 3),
                    job(40000, "/j/big.xml", at(2024, 5, 6, 8, 0), 1, 3),
                    job(1, "/j/dup.xml", at(2024, 5, 6, 8, 0), 1, 3),
                    noId,
                    job(2, "/j/zero.xml", at(2024, 5, 6, 8, 0), 0, 1),
                    job(3, "/j/kind.xml", at(2024, 5, 6, 8, 0), 1, 9),
                    job(4, "/j/nofrom.xml", {}, 1, 3),
                    job(-5, "/j/last.xml", at(2024, 5, 6, 8, 0), 1, 3)};
    ASSERT_TRUE(h.dispatcher.Initialize());
    const QStringList errors = h.texts(1);
    ASSERT_EQ(errors.size(), 6);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("40000")));
    EXPECT_TRUE(errors[1].contains(QStringLiteral("dup.xml")));
    EXPECT_TRUE(errors[2].contains(QStringLiteral("noid.xml")));
    EXPECT_TRUE(errors[3].contains(QStringLiteral("ID 2 ")) && errors[3].contains(QStringLiteral("zero.xml")));
    EXPECT_TRUE(errors[4].contains(QStringLiteral("kind.xml")));
    EXPECT_TRUE(errors[5].contains(QStringLiteral("nofrom.xml")));
    // The good rows, also the one after the bad ones, are scheduled.
    ASSERT_EQ(h.dispatcher.dueTimes().size(), 2u);
    EXPECT_TRUE(h.dispatcher.dueTimes().count(1) && h.dispatcher.dueTimes().count(-5));

    for (int s = 0; s < 5; ++s)
        h.passAt(at(2024, 5, 6, 8, 0, s));
    EXPECT_EQ(h.launcher.started, (QStringList{QStringLiteral("/j/one.xml"), QStringLiteral("/j/last.xml")}));
}

TEST(Dispatcher, StartAndSaveFailuresAreLoggedAndTheRestGoesOn)
{
    Harness h;
    h.clock.current = at(2024, 5, 6, 7, 0);
    h.store.rows = {job(1, "/j/missing.xml", at(2024, 5, 6, 8, 0), 1, 2),
                    job(2, "/j/good.xml", at(2024, 5, 6, 8, 0), 1, 2)};
    h.launcher.refuse = QStringList{QStringLiteral("/j/missing.xml")};
    ASSERT_TRUE(h.dispatcher.Initialize());
    h.log.clear();

    h.passAt(at(2024, 5, 6, 8, 0));
    EXPECT_EQ(h.launcher.started, QStringList{QStringLiteral("/j/good.xml")});
    ASSERT_EQ(h.texts(1).size(), 1);
    EXPECT_TRUE(h.texts(1)[0].contains(QStringLiteral("ID 1")));
    // LASTRUN only for the job whose runner started.
    ASSERT_EQ(h.store.saves.size(), 1u);
    EXPECT_EQ(h.store.saves[0], (std::map<int, QDateTime>{{2, at(2024, 5, 6, 8, 0)}}));
    // The failed job waits for its next time instead of retrying every second.
    h.passAt(at(2024, 5, 6, 8, 0, 1));
    EXPECT_EQ(h.texts(1).size(), 1);
    EXPECT_EQ(h.dispatcher.dueTimes().at(1).time, at(2024, 5, 6, 9, 0));

    // A failed save: an error entry for the job; its LASTRUN goes with the next save.
    h.launcher.refuse.clear();
    h.store.failSave = true;
    h.log.clear();
    h.passAt(at(2024, 5, 6, 9, 0));
    EXPECT_EQ(h.launcher.started.size(), 3);
    ASSERT_EQ(h.texts(1).size(), 2);
    EXPECT_TRUE(h.texts(1)[0].contains(QStringLiteral("missing.xml")));
    EXPECT_TRUE(h.texts(1)[1].contains(QStringLiteral("good.xml")));
    h.store.failSave = false;
    h.passAt(at(2024, 5, 6, 10, 0));
    ASSERT_EQ(h.store.saves.size(), 2u);
    EXPECT_EQ(h.store.saves[1], (std::map<int, QDateTime>{{1, at(2024, 5, 6, 10, 0)}, {2, at(2024, 5, 6, 10, 0)}}));
}
