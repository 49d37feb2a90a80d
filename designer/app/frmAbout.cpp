#include "app/frmAbout.h"

#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>

#include "app/AppInfo.h"
#include "app/FormTranslation.h"
#include "app/Icons.h"

frmAbout::frmAbout(QWidget* Parent) : QWidget(Parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About Velmora"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#frmAbout { background: white; } #Line1 { color: #9aa9c4; }"));
    setFixedSize(480, 250);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setPixmap(Icons::ProductArt(96));
    m_lblTitle = new QLabel(QStringLiteral("Velmora 2.0"), this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblTitle->setFont(QFont(QStringLiteral("Trebuchet MS")));
    m_lblVersion = new QLabel(QStringLiteral("Version   ") + AppInfo::VersionNumber(), this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_lblVersion->setFont(QFont(QStringLiteral("Trebuchet MS")));
    m_line1 = new QFrame(this);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setFrameShape(QFrame::HLine);
    m_lblDisclaimer = new QLabel(
        QStringLiteral("Meridox designs, runs and schedules data integrations between databases. "
                       "Copyright Velmora. This program is provided as is, without warranty of any kind."),
        this);
    m_lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    m_lblDisclaimer->setFont(QFont(QStringLiteral("Trebuchet MS")));
    m_lblDisclaimer->setWordWrap(true);
    // The labels and the picture keep their presses; only the background closes.
    for (QWidget* own : {static_cast<QWidget*>(m_image1), static_cast<QWidget*>(m_lblTitle),
                         static_cast<QWidget*>(m_lblVersion), static_cast<QWidget*>(m_lblDisclaimer)})
        own->setAttribute(Qt::WA_NoMousePropagation);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(24, 24, 24, 20);
    layout->setHorizontalSpacing(20);
    layout->addWidget(m_image1, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(m_lblTitle, 0, 1, Qt::AlignLeft | Qt::AlignBottom);
    layout->addWidget(m_lblVersion, 1, 1, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_line1, 2, 0, 1, 2);
    layout->addWidget(m_lblDisclaimer, 3, 0, 1, 2);
    layout->setRowStretch(3, 1);
    layout->setColumnStretch(1, 1);

    // Load.
    TranslateForm(this, objectName());
    QFont title = m_lblTitle->font();
    title.setPointSizeF(title.pointSizeF() * 2);
    title.setBold(true);
    m_lblTitle->setFont(title);
}

void frmAbout::keyPressEvent(QKeyEvent* Event)
{
    Event->accept();
    close();
}

void frmAbout::mousePressEvent(QMouseEvent* Event)
{
    Event->accept();
    close();
}
