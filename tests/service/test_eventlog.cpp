// The event-log writer (through its file redirect) and the service unit text.

#include "EventLog.h"
#include "ReadLines.h"
#include "UnitFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RedirectGuard {
public:
    explicit RedirectGuard(const QString& path) { ::setenv(kEventLogFileEnv, QFile::encodeName(path).constData(), 1); }
    ~RedirectGuard() { ::unsetenv(kEventLogFileEnv); }
};

} // namespace

TEST(WriteEventLog, WritesOneTypedLinePerEntry)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("events.log");
    RedirectGuard guard(path);
    EXPECT_TRUE(WriteEventLog(QStringLiteral("fallo"), 1));
    EXPECT_TRUE(WriteEventLog(QStringLiteral("aviso"), 2));
    EXPECT_TRUE(WriteEventLog(QStringLiteral("Proxima ejecución: 1"), 4));
    EXPECT_TRUE(WriteEventLog(QStringLiteral("other"), 3)); // unknown types are written as type 0
    EXPECT_TRUE(WriteEventLog(QStringLiteral("two\nlines\r\nhere"), 4));
    EXPECT_TRUE(WriteEventLog(QString(), 4));
    EXPECT_EQ(readLines(path), (QStringList{QStringLiteral("1\tfallo"), QStringLiteral("2\taviso"),
                                            QStringLiteral("4\tProxima ejecución: 1"), QStringLiteral("0\tother"),
                                            QStringLiteral("4\ttwo lines  here"), QStringLiteral("4\t")}));
}

TEST(WriteEventLog, ReportsAFileItCannotWrite)
{
    QTemporaryDir dir;
    RedirectGuard guard(dir.filePath("no/such/folder/events.log"));
    EXPECT_FALSE(WriteEventLog(QStringLiteral("lost"), 4));
}

TEST(WriteEventLog, SeveralProcessesShareOneFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("events.log");
    RedirectGuard guard(path);
    constexpr int kProcesses = 4;
    constexpr int kEntries = 300;
    const QString filler(200, u'x'); // long enough for writes to interleave if they were split
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kEntries; ++i)
                ok = WriteEventLog(QStringLiteral("p%1 e%2 ").arg(p).arg(i) + filler, 4) && ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    for (int p = 0; p < kProcesses; ++p) {
        int status = 0;
        ::wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), kProcesses * kEntries);
    for (const QString& line : lines)
        ASSERT_TRUE(line.startsWith(QStringLiteral("4\tp")) && line.endsWith(filler) && line.size() < 230) << qPrintable(line);
}

TEST(ServiceUnit, NotifyUnitWithQuotedPath)
{
    const QString text = serviceUnitText(QStringLiteral("/opt/My Apps/100%/$HOME/a\"b\\c/VMeridoxSrv"));
    const QStringList lines = text.split(u'\n');
    EXPECT_EQ(lines.first(), QStringLiteral("# Velmora Meridox Service. Executes Velmora Meridox."));
    EXPECT_TRUE(lines.contains(QStringLiteral("Description=Velmora Meridox Service")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Type=notify")));
    EXPECT_TRUE(lines.contains(QStringLiteral("ExecStart=\"/opt/My Apps/100%%/$$HOME/a\\\"b\\\\c/VMeridoxSrv\"")));
    EXPECT_FALSE(text.contains(QStringLiteral("User=root")));

    // The shipped template is the same text.
    const QString sourceDir = qEnvironmentVariable("MERIDOX_SOURCE_DIR");
    QFile shipped(sourceDir.isEmpty() ? QStringLiteral(MERIDOX_UNIT_TEMPLATE_FILE)
                                      : sourceDir + QStringLiteral("/service/VMeridoxSrv.service.in"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    QString expected = QString::fromUtf8(shipped.readAll());
    expected.replace(QStringLiteral("@MERIDOX_EXEC_START@"), QStringLiteral("\"/usr/bin/VMeridoxSrv\""));
    EXPECT_EQ(serviceUnitText(QStringLiteral("/usr/bin/VMeridoxSrv")), expected);
}
