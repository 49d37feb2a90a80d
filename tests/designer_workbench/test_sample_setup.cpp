// The sample as a newcomer meets it: `make run` (examples/run.sh on the
// built programs), then the designer on the same account, whose own
// settings and connection registry were there before.

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>

#include <string>

#include <gtest/gtest.h>

#include "WorkbenchTestSupport.h"
#include "admin/frmExecutionLog.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "connections/cConnections.h"
#include "stores/basUtils.h"
#include "workbench/StepComboBox.h"
#include "workbench/frmAddSource.h"
#include "workbench/frmAddTarget.h"

namespace {

QString BinFolder()
{
    const QString bin = qEnvironmentVariable("MERIDOX_BIN_DIR");
    return bin.isEmpty() ? QCoreApplication::applicationDirPath() : bin;
}

QString SourceFolder()
{
    return qEnvironmentVariable("MERIDOX_SOURCE_DIR", QStringLiteral(MERIDOX_TEST_SOURCE_DIR));
}

QStringList Items(const QComboBox* Combo)
{
    QStringList items;
    for (int i = 0; i < Combo->count(); ++i)
        items << Combo->itemText(i);
    return items;
}

// The registry's names in order, "a|b|c".
std::string RegistryNames()
{
    QStringList names;
    if (gConnections)
        for (const tConnection& entry : gConnections->ConnectionsList())
            names << entry.name;
    return names.join(QLatin1Char('|')).toStdString();
}

// `make run` as the Makefile starts it; its output when it fails.
int RunSample(const QString& Bin, QString& Output)
{
    QProcess sample;
    sample.setProcessChannelMode(QProcess::MergedChannels);
    sample.start(QStringLiteral("bash"), {SourceFolder() + QStringLiteral("/examples/run.sh"), Bin});
    if (!sample.waitForFinished(120000))
        return -1;
    Output = QString::fromLocal8Bit(sample.readAll());
    return sample.exitStatus() == QProcess::NormalExit ? sample.exitCode() : -1;
}

}  // namespace

TEST(SampleSetup, TheDesignerShowsTheSampleRunAndOpensItsStepsLeavingTheUsersOwnEntries)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The sample keeps its databases beside the programs' folder: a folder
    // standing for it keeps them in this test's folder.
    const QString bin = dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QFile::link(BinFolder(), bin));
    ASSERT_TRUE(QFile::exists(bin + QStringLiteral("/MeridoxRunner")));

    // The user's settings name a run-data folder, and the registry already
    // holds an entry of theirs.
    const QString runData = dir.filePath(QStringLiteral("rundata"));
    ASSERT_TRUE(QDir().mkpath(runData));
    {
        QSettings settings(SettingsFilePath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Path"), runData);
    }
    const QString mine = QStringLiteral("Provider=SQLite;Data Source=") + dir.filePath(QStringLiteral("mine.db"));
    {
        QFile file(cConnections::FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("<?xml version=\"1.0\"?><connections><connection><connname>mine</connname><connstring>" + mine +
                    "</connstring></connection></connections>")
                       .toUtf8());
    }

    QString output;
    ASSERT_EQ(RunSample(bin, output), 0) << output.toStdString();
    // Run again, as the README suggests: the registry gets nothing twice.
    ASSERT_EQ(RunSample(bin, output), 0) << output.toStdString();
    const QString integration = dir.filePath(QStringLiteral("sample/customers.xml"));
    ASSERT_TRUE(QFile::exists(integration));

    // The designer starts.
    const cScriptedDialogsGuard boxes;
    LoadConnectionRegistry();
    EXPECT_EQ(RegistryNames(), "mine|sample source|sample target");
    EXPECT_EQ(gConnections->ConnectionString(QStringLiteral("mine")).value_or(QString()), mine);

    {
        frmExecutionLog runs;
        runs.ActionEdit();
        const QAbstractItemModel* rows = runs.grdData()->model();
        ASSERT_EQ(rows->rowCount(), 2);
        EXPECT_EQ(rows->index(1, 0).data().toString().trimmed(), integration);
        EXPECT_EQ(rows->index(1, 8).data().toString().trimmed(), QStringLiteral("Completed"));
    }

    {
        frmWorkBench wb;
        ASSERT_TRUE(wb.OpenFlowChart(integration));
        wb.Process()->Shapes()->CurrCtl = NodeByCaption(wb, QStringLiteral("SOURCE"))->Key;
        frmAddSource source;
        source.LoadView(wb);
        EXPECT_TRUE(Items(source.cmbTable()).contains(QStringLiteral("customers")));

        wb.Process()->Shapes()->CurrCtl = NodeByCaption(wb, QStringLiteral("TARGET"))->Key;
        frmAddTarget target;
        target.LoadView(wb);
        EXPECT_TRUE(Items(target.cmbTable()).contains(QStringLiteral("customer_copy")));
    }
    for (const auto& message : boxes->Messages)
        ADD_FAILURE() << message.Prompt.toStdString();

    gConnections.reset();
    QSettings(SettingsFilePath(), QSettings::IniFormat).remove(QStringLiteral("Path"));
    QFile::remove(cConnections::FilePath());
    FlushDeletes();
}
