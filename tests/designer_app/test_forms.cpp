// Form translation, the message font, the splash and About windows and the
// product texts.

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/AppInfo.h"
#include "app/CNonClientMetrics.h"
#include "app/FormTranslation.h"
#include "app/frmAbout.h"
#include "app/frmSplash.h"
#include "stores/basUtils.h"

namespace {

// Adds a translation row to the test folder's translation database.
void AddTranslation(const QString& Source, const QString& Ambient, const QString& Dest)
{
    const QString language = LanguageKey();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-translations"));
        db.setDatabaseName(QDir(TranslationFolder()).filePath(QStringLiteral("MeridoxLang.db")));
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS SYS_TRANSLATION (DESTLANGUAGE TEXT NOT NULL DEFAULT '', "
                                  "SOURCESTRING TEXT NOT NULL DEFAULT '', AMBIENT TEXT NOT NULL DEFAULT '', "
                                  "DestString TEXT)"));
        query.prepare(QStringLiteral("INSERT INTO SYS_TRANSLATION (DESTLANGUAGE, SOURCESTRING, AMBIENT, DestString) "
                                     "VALUES (?, ?, ?, ?)"));
        query.addBindValue(language);
        query.addBindValue(Source);
        query.addBindValue(Ambient);
        query.addBindValue(Dest);
        ASSERT_TRUE(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-translations"));
}

TEST(MessageFont, PointsFollowTheHeightAndTheScreenResolution)
{
    EXPECT_FLOAT_EQ(CNonClientMetrics::PointsFromHeight(-11, 96), 8.25f);
    EXPECT_FLOAT_EQ(CNonClientMetrics::PointsFromHeight(-12, 96), 9.0f);
    EXPECT_FLOAT_EQ(CNonClientMetrics::PointsFromHeight(-15, 120), 9.0f);

    tNonClientMetrics record;
    record.iBorderWidth = 3;
    record.lfMessageFont.lfHeight = -11;
    record.lfMessageFont.lfWeight = 600;  // bold by weight below 700 stays not bold, weight kept
    record.lfMessageFont.lfItalic = 1;
    record.lfMessageFont.lfFaceName = QStringLiteral("  DejaVu Sans ") + QChar(0) + QStringLiteral("junk");
    const CNonClientMetrics metrics(record, 96);
    EXPECT_EQ(metrics.BorderWidth(), 3);
    const QFont font = metrics.MessageFont();
    EXPECT_EQ(font.family(), QStringLiteral("DejaVu Sans"));
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
    EXPECT_TRUE(font.italic());
    EXPECT_EQ(font.weight(), 600);
    EXPECT_FALSE(font.underline());

    // The live metrics give a usable font.
    const CNonClientMetrics live;
    EXPECT_EQ(live.Record().cbSize, 340);
    EXPECT_GT(live.MessageFont().pointSizeF(), 0);
}

TEST(TranslateForm, TranslatesCaptionsTextsAndTipsAndSetsTheMessageFont)
{
    AddTranslation(QStringLiteral("Name"), QStringLiteral("frmTest"), QStringLiteral("Nombre"));
    AddTranslation(QStringLiteral("Type here"), QStringLiteral("frmTest"), QStringLiteral("Escriba aqui"));
    AddTranslation(QStringLiteral("Keep it"), QStringLiteral("frmTest"), QStringLiteral("Guardarlo"));
    AddTranslation(QStringLiteral("Test window"), QStringLiteral("frmTest"), QStringLiteral("Ventana"));
    AddTranslation(QStringLiteral("Name"), QStringLiteral("frmOther"), QStringLiteral("Wrong ambient"));

    QWidget form;
    form.setWindowTitle(QStringLiteral("Test window"));
    auto* label = new QLabel(QStringLiteral("Name"), &form);
    auto* edit = new QLineEdit(QStringLiteral("Type here"), &form);
    edit->setToolTip(QStringLiteral("Keep it"));
    auto* empty = new QLabel(&form);
    auto* untranslated = new QCheckBox(QStringLiteral("Nothing for this"), &form);
    label->setFont(QFont(QStringLiteral("Arial"), 30));

    // A dialog parented to the form is a window of its own, translated under its own name.
    auto* dialog = new QDialog(&form);
    auto* dialogLabel = new QLabel(QStringLiteral("Name"), dialog);
    const QFont dialogFont = dialogLabel->font();

    TranslateForm(&form, QStringLiteral("frmTest"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Ventana"));
    EXPECT_EQ(dialogLabel->text(), QStringLiteral("Name"));
    EXPECT_EQ(dialogLabel->font(), dialogFont);
    EXPECT_EQ(label->text(), QStringLiteral("Nombre"));
    EXPECT_EQ(edit->text(), QStringLiteral("Escriba aqui"));
    EXPECT_EQ(edit->toolTip(), QStringLiteral("Guardarlo"));
    EXPECT_TRUE(empty->text().isEmpty());
    EXPECT_EQ(untranslated->text(), QStringLiteral("Nothing for this"));
    // The message font replaces the control's own.
    const QFont message = CNonClientMetrics().MessageFont();
    EXPECT_EQ(label->font().family(), message.family());
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), message.pointSizeF());
    EXPECT_EQ(edit->font().family(), message.family());
    TranslateForm(nullptr, QStringLiteral("frmTest"));  // no window, no harm
}

TEST(ProductTexts, VersionCaptionAndHelpPath)
{
    EXPECT_EQ(AppInfo::VersionNumber(2, 0, 7), QStringLiteral("2.0.0007"));
    EXPECT_EQ(AppInfo::VersionNumber(2, 0, 15), QStringLiteral("2.0.0015"));
    EXPECT_EQ(AppInfo::VersionNumber(2, 0, 12345), QStringLiteral("2.0.12345"));
    EXPECT_EQ(frmSplash::VersionText(2, 0, 7), QStringLiteral("Version   2.0.0007"));
    EXPECT_EQ(AppInfo::HelpFile(QStringLiteral("/opt/meridox/bin"), QStringLiteral("\\help\\meridox.chm")),
              QStringLiteral("/opt/meridox/bin/help/meridox.html"));
    EXPECT_EQ(AppInfo::HelpFile(QStringLiteral("/opt/m/"), QStringLiteral("\\ayuda\\meridox_es.chm")),
              QStringLiteral("/opt/m/ayuda/meridox_es.html"));
}

TEST(Splash, ShowsProductAndVersionAndSignalsItsFirstTick)
{
    frmSplash splash;
    EXPECT_EQ(splash.windowTitle(), QStringLiteral("Velmora Start"));
    EXPECT_EQ(splash.lblAplication()->text(), QStringLiteral("Meridox"));
    EXPECT_EQ(splash.lblStatus()->text(), QStringLiteral("Setting up environment..."));
    EXPECT_EQ(splash.lblVersion()->text(), QStringLiteral("Version   ") + AppInfo::VersionNumber());
    EXPECT_TRUE(splash.Timer1().isActive());
    EXPECT_EQ(splash.Timer1().interval(), 1);
}

TEST(About, AnyKeyOrABackgroundPressClosesIt)
{
    {
        auto* about = new frmAbout;
        about->setAttribute(Qt::WA_DeleteOnClose, false);
        about->show();
        EXPECT_EQ(about->windowTitle(), QStringLiteral("About Velmora"));
        EXPECT_EQ(about->lblTitle()->text(), QStringLiteral("Velmora 2.0"));
        EXPECT_TRUE(about->lblVersion()->text().endsWith(AppInfo::VersionNumber()));
        QTest::keyClick(about, Qt::Key_Shift);
        EXPECT_FALSE(about->isVisible());
        delete about;
    }
    {
        frmAbout about;
        about.setAttribute(Qt::WA_DeleteOnClose, false);
        about.show();
        // A press on a label is the label's own.
        QTest::mouseClick(about.lblDisclaimer(), Qt::LeftButton);
        EXPECT_TRUE(about.isVisible());
        QTest::mouseClick(&about, Qt::RightButton, {}, QPoint(2, 2));
        EXPECT_FALSE(about.isVisible());
    }
}

}  // namespace
