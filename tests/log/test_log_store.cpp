#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "data/Recordset.h"
#include "run/clsLog.h"
#include "stores/cMeridoxData.h"

namespace {

// Points the run-data folder at a folder of the test's own.
void useRunDataFolder(const QString& folder) {
    qputenv("MERIDOX_HOME", folder.toUtf8());
    qputenv("MERIDOX_CONFIG", (folder + "/none.conf").toUtf8());
}

}  // namespace

TEST(LogStore, SavedLinesBecomeNumberedErrorRows) {
    QTemporaryDir dir;
    useRunDataFolder(dir.path());
    clsLog log;
    const QString first = log.AddLog("Insert failed", true, "/jobs/a.xml", "-2147217900", 7, true);
    log.AddLog("plain line");
    log.AddLog("Update failed", true, "/jobs/a.xml", "13", 8, true);
    EXPECT_FALSE(log.Text().contains("errors store")) << log.Text().toStdString();

    ado::Recordset rs = cMeridoxData(dir.path()).getRS(executionlogdata);
    ASSERT_TRUE(rs.isOpen());
    ASSERT_EQ(rs.RecordCount(), 2);
    rs.MoveFirst();
    EXPECT_EQ(rs.value("RECORD").toInt(), 7);
    EXPECT_EQ(rs.value("ERRDESC").toString().trimmed(), first);
    EXPECT_EQ(rs.value("NAME").toString().trimmed(), "/jobs/a.xml");
    EXPECT_EQ(rs.value("ERRNUMBER").toLongLong(), -2147217900LL);
    const QVariant id1 = rs.value("ID");
    rs.MoveNext();
    EXPECT_EQ(rs.value("RECORD").toInt(), 8);
    EXPECT_FALSE(id1.isNull());
    EXPECT_NE(rs.value("ID"), id1);
}

TEST(LogStore, AnUnwritableStoreIsReportedOnce) {
    QTemporaryDir dir;
    // A plain file where the run-data folder should be.
    const QString notAFolder = dir.filePath("file");
    QFile f(notAFolder);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    useRunDataFolder(notAFolder);
    clsLog log;
    log.AddLog("one", false, "x", "1", 1, true);
    log.AddLog("two", false, "x", "1", 2, true);
    EXPECT_EQ(log.Text().count("errors store"), 1) << log.Text().toStdString();
    EXPECT_TRUE(log.Text().endsWith("\r\ntwo"));
}
