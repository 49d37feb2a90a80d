#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "Collect.h"
#include "run/clsLog.h"

TEST(Log, LinesArePrecededByLineBreaksAndAllAnnounced) {
    clsLog log;
    const auto announced = collect(&log, &clsLog::LogAdded);
    log.AddLog("A");
    log.AddLog("B");
    log.AddLog("C");
    EXPECT_EQ(log.Text(), "\r\nA\r\nB\r\nC");
    EXPECT_EQ(*announced, QStringList({"A", "B", "C"}));
    EXPECT_FALSE(log.IsCritical());
}

TEST(Log, CriticalLineCarriesThePrefixAndStaysCritical) {
    clsLog log;
    bool criticalWhenAnnounced = false;
    QString announced;
    QObject::connect(&log, &clsLog::LogAdded, [&](const QString& text) {
        announced = text;
        criticalWhenAnnounced = log.IsCritical();
    });
    const QString line = log.AddCritical("stop", true);
    EXPECT_EQ(announced, line);
    EXPECT_TRUE(criticalWhenAnnounced);
    EXPECT_TRUE(QRegularExpression("\\.\\d\\d: stop$").match(line).hasMatch()) << line.toStdString();
    log.AddLog("later");
    EXPECT_TRUE(log.IsCritical());
    EXPECT_TRUE(log.Text().endsWith("\r\n" + line + "\r\nlater"));
}

TEST(Log, TimePrefixShowsHundredthsOfTheSecond) {
    const QString line = clsLog::WithTimePrefix("x", QTime(14, 3, 7, 459));
    EXPECT_TRUE(line.endsWith(".45: x")) << line.toStdString();
    EXPECT_TRUE(line.contains("03")) << line.toStdString();
    EXPECT_TRUE(clsLog::WithTimePrefix("x", QTime(0, 0, 0, 5)).endsWith(".00: x"));
}

TEST(Log, ErrorRowsGoToTheSinkWithTheLoggedText) {
    clsLog log;
    std::vector<tErrorRow> rows;
    log.setErrorSink([&](const tErrorRow& row) {
        rows.push_back(row);
        return QString();
    });
    const QString line = log.AddLog("Insert failed", true, "/data/job.xml", "-2147217900", 7, true);
    log.AddLog("plain", true);  // not saved
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Record, 7);
    EXPECT_EQ(rows[0].ErrDesc, line);
    EXPECT_EQ(rows[0].Name, "/data/job.xml");
    EXPECT_EQ(rows[0].ErrNumber, "-2147217900");
    EXPECT_LE(qAbs(rows[0].RunTime.secsTo(QDateTime::currentDateTime())), 2);
}

TEST(Log, AFailingErrorStoreIsReportedOnceAndLoggingGoesOn) {
    clsLog log;
    int calls = 0;
    log.setErrorSink([&](const tErrorRow&) {
        ++calls;
        return QStringLiteral("disk full");
    });
    const auto announced = collect(&log, &clsLog::LogAdded);
    log.AddLog("first", false, "", "1", 1, true);
    log.AddLog("second", false, "", "1", 2, true);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(announced->size(), 3);
    EXPECT_EQ(log.Text().count("disk full"), 1);
    EXPECT_TRUE(log.Text().endsWith("\r\nsecond"));

    // A sink that throws is a failure like any other.
    log.setErrorSink([](const tErrorRow&) -> QString { throw std::runtime_error("broken store"); });
    log.AddLog("third", false, "", "1", 3, true);
    EXPECT_TRUE(log.Text().contains("broken store"));
}

TEST(Log, SaveLogAppendsTheBuffer) {
    QTemporaryDir dir;
    const QString path = dir.filePath("run.log");
    clsLog log;
    log.AddLog("one");
    ASSERT_EQ(log.SaveLog(path), "");
    log.AddLog("two");
    ASSERT_EQ(log.SaveLog(path), "");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("\r\none\r\n\r\none\r\ntwo\r\n"));
    EXPECT_FALSE(log.SaveLog(dir.filePath("missing/run.log")).isEmpty());
}
