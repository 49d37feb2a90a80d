// The daemon as a process: a temporary run-data folder, a stand-in runner
// that records its arguments, the event log through its file redirect.

#include "CDispather.h"
#include "EventLog.h"
#include "FakeSchedule.h"
#include "ReadLines.h"
#include "RunnerLauncher.h"
#include "ScheduleStore.h"

#include "data/Recordset.h"
#include "stores/cMeridoxData.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Waits until pred() holds, at most timeoutMs.
template <class Pred>
bool waitFor(Pred pred, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// Children of pid that have ended and were not collected.
int zombieChildren(qint64 pid)
{
    int zombies = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: read after the last ')'.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid && fields[0] == "Z")
            ++zombies;
    }
    return zombies;
}

QDateTime wholeSecondsFromNow(int seconds)
{
    QDateTime t = QDateTime::currentDateTime().addSecs(seconds);
    return t.addMSecs(-t.time().msec());
}

class ServiceProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        runner = dir.filePath("runner stand-in.sh");
        record = dir.filePath("runs.txt");
        events = dir.filePath("events.log");
        QFile script(runner);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s|%s|%s\\n' \"$#\" \"$1\" \"${NOTIFY_SOCKET-unset}\" >> '%1'\n")
                         .arg(record)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("NOTIFY_SOCKET"));
        env.insert(QStringLiteral("MERIDOX_HOME"), dir.path());
        env.insert(QStringLiteral("MERIDOX_CONFIG"), dir.filePath("Meridox.conf"));
        env.insert(QString::fromLatin1(kEventLogFileEnv), events);
        env.insert(QString::fromLatin1(kRunnerProgramEnv), runner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        const QString binDir = qEnvironmentVariable("MERIDOX_BIN_DIR");
        program = binDir.isEmpty() ? QStringLiteral(VMERIDOXSRV_PATH) : binDir + QStringLiteral("/VMeridoxSrv");
    }

    void TearDown() override
    {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
    }

    void addJob(int id, const QString& name, const QDateTime& from, int every, int kind, const QString& status)
    {
        cMeridoxData data(dir.path());
        const StoreResult r = data.appendRow(scheduleddata, {{"ID", id}, {"NAME", name}, {"FROM", from},
                                                             {"EVERY", every}, {"KINDEVERY", kind}, {"STATUS", status}});
        ASSERT_TRUE(r.ok) << qPrintable(r.error);
    }

    QVariant lastRunOf(int id)
    {
        cMeridoxData data(dir.path());
        ado::Recordset rs = data.getRS(scheduleddata);
        for (rs.MoveFirst(); rs.hasCurrentRecord(); rs.MoveNext())
            if (rs.value(QStringLiteral("ID")).toInt() == id)
                return rs.value(QStringLiteral("LASTRUN"));
        return QStringLiteral("no such job");
    }

    QProcess& start(const QStringList& args, const QProcessEnvironment& environment)
    {
        processes.push_back(std::make_unique<QProcess>());
        QProcess& p = *processes.back();
        p.setProcessEnvironment(environment);
        p.start(program, args);
        EXPECT_TRUE(p.waitForStarted(5000));
        return p;
    }

    QTemporaryDir dir;
    QString runner, record, events, program;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> processes;
};

} // namespace

TEST_F(ServiceProcess, RunsTheDueJobOnceAndStopsOnSigterm)
{
    const QString file = dir.filePath("my integration.xml");
    // Far enough ahead that a slow start on a loaded machine does not see
    // the time as missed and step it a whole interval on.
    const QDateTime due = wholeSecondsFromNow(4);
    addJob(1, file, due, 1, 3, QStringLiteral("Active"));
    addJob(2, dir.filePath("other.xml"), wholeSecondsFromNow(-120), 1, 1, QStringLiteral("Inactive"));

    QProcess& service = start({QStringLiteral("--foreground")}, env);
    ASSERT_TRUE(waitFor([&] { return !readLines(record).isEmpty(); }, 20000)) << qPrintable(readLines(events).join('\n'));

    // A second instance on the same schedule ends at once, silently.
    QProcess& second = start({QStringLiteral("--foreground")}, env);
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 0);

    QThread::msleep(1500); // more passes: the job must not start again
    EXPECT_EQ(readLines(record), QStringList{QStringLiteral("1|") + file + QStringLiteral("|unset")});
    EXPECT_EQ(lastRunOf(1).toDateTime(), due);
    EXPECT_TRUE(lastRunOf(2).isNull());
    EXPECT_EQ(zombieChildren(service.processId()), 0); // the ended runner was reaped

    service.terminate(); // SIGTERM
    ASSERT_TRUE(service.waitForFinished(3000));
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);

    const QStringList lines = readLines(events);
    const QString runnerName = QStringLiteral("runner stand-in.sh");
    const QStringList expected{
        QStringLiteral("4\tVelmora Meridox Service Starting"),
        QStringLiteral("4\tRegistros Planificados: 2"),
        QStringLiteral("4\tProxima ejecución: ") + eventLogDateText(due),
        QStringLiteral("4\tVelmora Meridox Service Started"),
        QStringLiteral("4\tSe va a ejecutar: ") + eventLogDateText(due),
        QStringLiteral("4\tLlamando a Shell ") + runnerName + u' ' + file,
        QStringLiteral("4\tVelmora Meridox Service Stopped"),
    };
    EXPECT_EQ(lines, expected); // also: nothing from the second instance
}

TEST_F(ServiceProcess, OutsideSystemdItRefusesToRun)
{
    QProcess& service = start({}, env);
    ASSERT_TRUE(service.waitForFinished(5000));
    EXPECT_NE(service.exitCode(), 0);
    EXPECT_TRUE(service.readAllStandardError().contains("This program must be started as a service."));
    EXPECT_TRUE(readLines(events).isEmpty());
}

TEST_F(ServiceProcess, NotifiesReadyAfterLoadingAndStoppingOnSigterm)
{
    const QString socketPath = dir.filePath("notify");
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(encoded.size()), sizeof(addr.sun_path));
    std::memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto receive = [fd](int timeoutMs) -> QByteArray {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return {};
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
    };

    const QString file = dir.filePath("job.xml");
    addJob(5, file, wholeSecondsFromNow(4), 1, 2, QStringLiteral("Active"));
    QProcessEnvironment notifyEnv = env;
    notifyEnv.insert(QStringLiteral("NOTIFY_SOCKET"), socketPath);
    QProcess& service = start({}, notifyEnv);

    EXPECT_EQ(receive(10000), QByteArray("READY=1"));
    const QStringList atReady = readLines(events);
    ASSERT_GE(atReady.size(), 3);
    EXPECT_EQ(atReady[1], QStringLiteral("4\tRegistros Planificados: 1"));
    EXPECT_TRUE(atReady[2].startsWith(QStringLiteral("4\tProxima ejecución: ")));

    // The runner does not inherit the service's notify socket.
    ASSERT_TRUE(waitFor([&] { return !readLines(record).isEmpty(); }, 20000));
    EXPECT_EQ(readLines(record), QStringList{QStringLiteral("1|") + file + QStringLiteral("|unset")});

    service.terminate();
    EXPECT_EQ(receive(3000), QByteArray("STOPPING=1"));
    ASSERT_TRUE(service.waitForFinished(3000));
    EXPECT_EQ(service.exitCode(), 0);
    EXPECT_EQ(readLines(events).last(), QStringLiteral("4\tVelmora Meridox Service Stopped"));
    ::close(fd);
}

// ---------------------------------------------------------------- damaged schedules

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Writes path anew (a new file, as an editor or another program would).
void replaceFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

bool hasLine(const QStringList& lines, const QString& prefix, const QString& part)
{
    for (const QString& line : lines)
        if (line.startsWith(prefix) && line.contains(part))
            return true;
    return false;
}

// The name of the instance lock for the run-data folder.
QString instanceLockName(const QString& runDataFolder)
{
    const QByteArray hash =
        QCryptographicHash::hash(QFileInfo(runDataFolder).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QStringLiteral("VMeridoxSrv-%1-%2.lock").arg(::geteuid()).arg(QString::fromLatin1(hash));
}

} // namespace

// The last job's NAME holds a raw '&' while the closing tags stand whole: the
// file was not cut by a killed append, it is damaged. It is set aside whole
// (with the job in it) and reported, not read as if the job never existed.
TEST_F(ServiceProcess, AScheduleWhoseLastRowDoesNotParseIsSetAsideAndReported)
{
    addJob(1, dir.filePath("a.xml"), wholeSecondsFromNow(3600), 1, 3, QStringLiteral("Active"));
    addJob(2, dir.filePath("b.xml"), wholeSecondsFromNow(3600), 1, 3, QStringLiteral("Active"));
    const QString store = cMeridoxData(dir.path()).StoreFile(scheduleddata);
    QByteArray bytes = fileBytes(store);
    ASSERT_TRUE(bytes.contains("/b.xml"));
    bytes.replace("/b.xml", "/b&c.xml");
    replaceFile(store, bytes);

    QProcess& service = start({QStringLiteral("--foreground")}, env);
    ASSERT_TRUE(waitFor([&] { return readLines(events).contains(QStringLiteral("4\tVelmora Meridox Service Started")); },
                        10000))
        << qPrintable(readLines(events).join('\n'));
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(3000));

    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("scheduleddata.xml.corrupt-*")});
    ASSERT_EQ(aside.size(), 1) << qPrintable(QDir(dir.path()).entryList().join(u' '));
    EXPECT_EQ(fileBytes(dir.filePath(aside[0])), bytes);
    EXPECT_TRUE(hasLine(readLines(events), QStringLiteral("2\t"), aside[0])) << qPrintable(readLines(events).join('\n'));
    EXPECT_TRUE(service.readAllStandardError().contains(aside[0].toUtf8()));
}

// An active job without a file name is refused with an error entry, like
// any other bad row; the runner is never started on an empty name.
TEST_F(ServiceProcess, AJobWithoutANameIsRefusedNotStarted)
{
    addJob(1, QString(), wholeSecondsFromNow(3), 1, 3, QStringLiteral("Active"));
    const QString file = dir.filePath("job.xml");
    addJob(2, file, wholeSecondsFromNow(3), 1, 3, QStringLiteral("Active"));
    start({QStringLiteral("--foreground")}, env);
    ASSERT_TRUE(waitFor([&] { return !readLines(record).isEmpty(); }, 10000)) << qPrintable(readLines(events).join('\n'));
    QThread::msleep(1500);
    EXPECT_EQ(readLines(record), QStringList{QStringLiteral("1|") + file + QStringLiteral("|unset")});
    EXPECT_TRUE(hasLine(readLines(events), QStringLiteral("1\t"), QStringLiteral("ID 1")))
        << qPrintable(readLines(events).join('\n'));
}

// ---------------------------------------------------------------- shared folders

// A link put in place of the schedule's lock file does not lead the service
// to write into the file it points at: saving the last run is refused, and
// the entry says why.
TEST_F(ServiceProcess, ALinkedScheduleLockIsNotFollowed)
{
    addJob(1, dir.filePath("job.xml"), wholeSecondsFromNow(3), 1, 3, QStringLiteral("Active"));
    const QString lock = cMeridoxData(dir.path()).StoreFile(scheduleddata) + QStringLiteral(".lock");
    const QString victim = dir.filePath("victim.txt");
    const QByteArray precious = QByteArray("keep me\n").repeated(40);
    replaceFile(victim, precious);
    ASSERT_TRUE(QFile::remove(lock));
    ASSERT_TRUE(QFile::link(victim, lock));

    start({QStringLiteral("--foreground")}, env);
    ASSERT_TRUE(waitFor([&] { return hasLine(readLines(events), QStringLiteral("1\t"), QStringLiteral("LASTRUN")); },
                        10000))
        << qPrintable(readLines(events).join('\n'));
    EXPECT_TRUE(hasLine(readLines(events), QStringLiteral("1\t"), QStringLiteral("symbolic link")))
        << qPrintable(readLines(events).join('\n'));
    EXPECT_EQ(fileBytes(victim), precious);
    EXPECT_TRUE(QFileInfo(lock).isSymLink());
}

// Without a runtime folder the instance lock used to be a name in the shared
// temporary folder, which anyone could take first (and hold), so that the
// service ended at once without a word. Its lock now lives where only its
// user can write: the other user's file changes nothing.
TEST_F(ServiceProcess, AnInstanceLockTakenFirstByAnotherUserDoesNotStopTheService)
{
    const QString tmp = dir.filePath("tmp");
    const QString home = dir.filePath("home");
    ASSERT_TRUE(QDir().mkpath(tmp));
    ASSERT_TRUE(QDir().mkpath(home));
    QProcessEnvironment noRuntime = env;
    noRuntime.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    noRuntime.remove(QStringLiteral("XDG_STATE_HOME"));
    noRuntime.insert(QStringLiteral("TMPDIR"), tmp);
    noRuntime.insert(QStringLiteral("HOME"), home);
    const QString planted = QDir(tmp).filePath(instanceLockName(dir.path()));
    const int fd = ::open(QFile::encodeName(planted).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);

    const QString file = dir.filePath("job.xml");
    addJob(1, file, wholeSecondsFromNow(3), 1, 3, QStringLiteral("Active"));
    QProcess& service = start({QStringLiteral("--foreground")}, noRuntime);
    const bool ran = waitFor([&] { return !readLines(record).isEmpty(); }, 10000);
    ::close(fd);
    ASSERT_TRUE(ran) << "exit " << service.exitCode() << ": " << qPrintable(readLines(events).join('\n'));
    EXPECT_EQ(service.state(), QProcess::Running);

    // A second instance still finds the first one's lock.
    QProcess& second = start({QStringLiteral("--foreground")}, noRuntime);
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 0);
}

// A lock that cannot be taken for any reason other than another instance
// holding it is reported (stderr and an error entry) with a non-zero exit.
TEST_F(ServiceProcess, AnInstanceLockThatCannotBeTakenIsReported)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath(instanceLockName(dir.path()))));
    QProcess& service = start({QStringLiteral("--foreground")}, env);
    ASSERT_TRUE(service.waitForFinished(5000));
    EXPECT_NE(service.exitCode(), 0);
    EXPECT_TRUE(service.readAllStandardError().contains("instance lock"));
    EXPECT_TRUE(hasLine(readLines(events), QStringLiteral("1\t"), QStringLiteral("instance lock")))
        << qPrintable(readLines(events).join('\n'));
}

TEST(MeridoxScheduleStore, SavesLastRunIntoTheStoreAsItIsNow)
{
    QTemporaryDir dir;
    cMeridoxData designer(dir.path());
    const QDateTime from(QDate(2024, 5, 6), QTime(8, 0));
    ASSERT_TRUE(designer.appendRow(scheduleddata, {{"ID", 1}, {"NAME", "/j/a.xml"}, {"FROM", from}, {"EVERY", 1},
                                                   {"KINDEVERY", 3}, {"STATUS", "Active"}}));
    ASSERT_TRUE(designer.appendRow(scheduleddata, {{"ID", 2}, {"NAME", "/j/b.xml"}, {"FROM", from}, {"EVERY", 1},
                                                   {"KINDEVERY", 3}, {"STATUS", "Active"}}));

    MeridoxScheduleStore store(dir.path());
    std::vector<ScheduleRow> rows;
    QString error;
    ASSERT_TRUE(store.readRows(rows, error)) << qPrintable(error);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].NAME.size(), 255); // padded, as the store gives it
    EXPECT_TRUE(rows[0].LASTRUN.isNull());

    // Meanwhile the designer changes job 2 and adds job 3.
    ASSERT_TRUE(designer.updateRowById(scheduleddata, 2, {{"EVERY", 7}}));
    ASSERT_TRUE(designer.appendRow(scheduleddata, {{"ID", 3}, {"NAME", "/j/c.xml"}, {"STATUS", "Inactive"}}));

    const QDateTime ran(QDate(2024, 5, 7), QTime(8, 0));
    ASSERT_TRUE(store.saveLastRuns({{1, ran}, {9, ran}}, error)) << qPrintable(error); // job 9 no longer exists

    ASSERT_TRUE(store.readRows(rows, error));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].LASTRUN.toDateTime(), ran);
    EXPECT_TRUE(rows[1].LASTRUN.isNull());
    EXPECT_EQ(rows[1].EVERY.toInt(), 7);
    EXPECT_EQ(rows[2].ID.toInt(), 3);
}

// An ADO program cleared the end (TO) of an hourly job and saved the
// schedule with the change pending: the job has no end and runs every hour.
TEST(MeridoxScheduleStore, AJobWhoseEndWasForcedToNullRunsEveryInterval)
{
    QTemporaryDir dir;
    const QByteArray ado = R"(<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
	xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
	xmlns:rs='urn:schemas-microsoft-com:rowset'
	xmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
	<s:ElementType name='row' content='eltOnly' rs:updatable='true'>
		<s:AttributeType name='ID' rs:number='1' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='number' rs:dbtype='decimal' dt:maxLength='16' rs:scale='0' rs:precision='10'
			 rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='NAME' rs:number='2' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='255' rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='FROM' rs:number='3' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' rs:scale='0' rs:precision='19'
			 rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='TO' rs:number='4' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' rs:scale='0' rs:precision='19'
			 rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='EVERY' rs:number='5' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='float' dt:maxLength='8' rs:precision='15' rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='KINDEVERY' rs:number='6' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='WEEKDAY' rs:number='7' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='LASTRUN' rs:number='8' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' rs:scale='0' rs:precision='19'
			 rs:fixedlength='true'/>
		</s:AttributeType>
		<s:AttributeType name='STATUS' rs:number='9' rs:nullable='true' rs:writeunknown='true'>
			<s:datatype dt:type='string' rs:dbtype='str' dt:maxLength='255' rs:fixedlength='true'/>
		</s:AttributeType>
		<s:extends type='rs:rowbase'/>
	</s:ElementType>
</s:Schema>
<rs:data>
	<rs:update>
		<rs:original>
			<z:row ID='1' NAME='/j/hourly.xml' FROM='2024-05-06T08:00:00' TO='2024-05-06T09:00:00' EVERY='1'
				 KINDEVERY='2' STATUS='Active'/>
		</rs:original>
		<z:row rs:forcenull='TO'/>
	</rs:update>
</rs:data>
</xml>
)";
    {
        QFile file(cMeridoxData(dir.path()).StoreFile(scheduleddata));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ado);
    }
    MeridoxScheduleStore store(dir.path());
    FakeLauncher launcher;
    FakeClock clock;
    clock.current = QDateTime(QDate(2024, 5, 6), QTime(7, 30));
    QStringList errors;
    CDispather dispatcher(store, launcher, clock, [&errors](const QString& text, int type) {
        if (type == 1)
            errors << text;
        return true;
    });
    ASSERT_TRUE(dispatcher.Initialize());
    // Five hours of passes: 08:00 to 12:00, each LASTRUN saved to the store.
    for (int minute = 0; minute <= 5 * 60; ++minute) {
        clock.current = QDateTime(QDate(2024, 5, 6), QTime(7, 30)).addSecs(60 * minute);
        dispatcher.ProcessEvents();
    }
    EXPECT_EQ(launcher.started.size(), 5) << qPrintable(launcher.started.join(u','));
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.join(u'\n'));
    std::vector<ScheduleRow> rows;
    QString error;
    ASSERT_TRUE(store.readRows(rows, error)) << qPrintable(error);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].TO.isNull()) << "the saves keep the end cleared";
    EXPECT_EQ(rows[0].LASTRUN.toDateTime(), QDateTime(QDate(2024, 5, 6), QTime(12, 0)));
}

TEST(MeridoxScheduleStore, ADamagedStoreIsReportedNotSilentlyEmpty)
{
    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("events.log"));
    qputenv(kEventLogFileEnv, QFile::encodeName(events));
    MeridoxScheduleStore store(dir.path());
    {
        QFile damaged(cMeridoxData(dir.path()).StoreFile(scheduleddata));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("<xml><s:Schema");
    }
    std::vector<ScheduleRow> rows;
    QString error;
    const bool read = store.readRows(rows, error);
    qunsetenv(kEventLogFileEnv);
    ASSERT_TRUE(read) << qPrintable(error);
    EXPECT_TRUE(rows.empty());
    const QStringList lines = readLines(events);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("2\t"))) << qPrintable(lines[0]);
    EXPECT_TRUE(lines[0].contains(QStringLiteral(".corrupt-"))) << qPrintable(lines[0]);
}
