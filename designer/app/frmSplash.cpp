#include "app/frmSplash.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/FormTranslation.h"
#include "app/Icons.h"
#include "app/basMain.h"
#include "stores/basUtils.h"

QString frmSplash::VersionText(int Major, int Minor, int Revision)
{
    return Translate(QStringLiteral("Version  "), QStringLiteral("frmSplash")) + QLatin1Char(' ') +
           AppInfo::VersionNumber(Major, Minor, Revision);
}

frmSplash::frmSplash(QWidget* Parent) : QWidget(Parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Velmora Start"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral(
        "#frmSplash { background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #2f5d9e, stop:1 #132a4c); "
        "border: 1px solid #0b1a30; } QLabel { color: white; }"));
    setFixedSize(460, 260);

    auto* art = new QLabel(this);
    art->setObjectName(QStringLiteral("Image1"));
    art->setPixmap(Icons::ProductArt(96));

    m_lblAplication = new QLabel(this);
    m_lblAplication->setObjectName(QStringLiteral("lblAplication"));
    m_lblAplication->setFont(QFont(QStringLiteral("Arial")));
    m_lblStatus = new QLabel(QStringLiteral("Setting up environment..."), this);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setFont(QFont(QStringLiteral("FixedSys")));
    m_lblVersion = new QLabel(this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_lblVersion->setFont(QFont(QStringLiteral("Arial")));

    auto* text = new QVBoxLayout;
    text->addStretch(1);
    text->addWidget(m_lblAplication);
    text->addWidget(m_lblVersion);
    text->addStretch(1);
    text->addWidget(m_lblStatus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 20);
    layout->setSpacing(24);
    layout->addWidget(art, 0, Qt::AlignVCenter);
    layout->addLayout(text, 1);

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(1);
    connect(&m_timer1, &QTimer::timeout, this, [] { SplashDone = true; });

    // Load.
    TranslateForm(this, QStringLiteral("frmSplash"));
    m_lblAplication->setText(QString::fromLatin1(AppInfo::ProductName));
    m_lblVersion->setText(VersionText(AppInfo::VersionMajor, AppInfo::VersionMinor, AppInfo::VersionRevision));
    // The product name leads the window: twice the size of the other texts.
    QFont title = m_lblAplication->font();
    title.setPointSizeF(title.pointSizeF() * 2.2);
    title.setBold(true);
    m_lblAplication->setFont(title);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    m_timer1.start();
}
