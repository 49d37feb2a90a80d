#include "admin/frmEditScheduled.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimeEdit>

#include <cmath>
#include <optional>

#include "admin/AdminCommon.h"
#include "app/FormTranslation.h"
#include "app/UserDialogs.h"
#include "stores/basUtils.h"

namespace {

const QString kAmbient = QStringLiteral("frmEditScheduled");

QPointer<frmEditScheduled>& TheDialog()
{
    static QPointer<frmEditScheduled> dialog;
    return dialog;
}

frmEditScheduled::ModalHook& Hook()
{
    static frmEditScheduled::ModalHook hook;
    return hook;
}

QLabel* NewLabel(const QString& Name, const QString& Caption, QWidget* Parent)
{
    auto* label = new QLabel(Caption, Parent);
    label->setObjectName(Name);
    return label;
}

}  // namespace

frmEditScheduled::frmEditScheduled(QWidget* Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("frmEditScheduled"));
    setWindowTitle(QStringLiteral("New scheduled integration"));
    setModal(true);

    m_edtFilename = new QLineEdit(this);
    m_edtFilename->setObjectName(QStringLiteral("EdtFilename"));
    // Wide enough for a full path to be read at a glance.
    m_edtFilename->setMinimumWidth(m_edtFilename->fontMetrics().averageCharWidth() * 48);
    m_vlmCommand1 = new QPushButton(QStringLiteral("..."), this);
    m_vlmCommand1->setObjectName(QStringLiteral("vlmCommand1"));
    connect(m_vlmCommand1, &QPushButton::clicked, this, &frmEditScheduled::vlmCommand1_Click);

    const QDate today = QDate::currentDate();
    m_edtRuntimeday = new QDateEdit(today, this);
    m_edtRuntimeday->setObjectName(QStringLiteral("EdtRuntimeday"));
    m_edtRuntimeday->setCalendarPopup(true);
    m_edtRuntime = new QTimeEdit(QTime(0, 0), this);
    m_edtRuntime->setObjectName(QStringLiteral("EdtRuntime"));
    m_edtRuntime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_edtEndsday = new QDateEdit(today, this);
    m_edtEndsday->setObjectName(QStringLiteral("EdtEndsday"));
    m_edtEndsday->setCalendarPopup(true);
    m_edtends = new QTimeEdit(QTime(0, 0), this);
    m_edtends->setObjectName(QStringLiteral("Edtends"));
    m_edtends->setDisplayFormat(QStringLiteral("HH:mm:ss"));

    m_edtEvery = new QLineEdit(QStringLiteral("1"), this);
    m_edtEvery->setObjectName(QStringLiteral("EdtEvery"));
    m_edtKindEvery = new QComboBox(this);
    m_edtKindEvery->setObjectName(QStringLiteral("EdtKindEvery"));
    for (const char* unit : {"Minutes", "Hours", "Days", "Weeks"})
        m_edtKindEvery->addItem(Translate(QString::fromLatin1(unit), kAmbient));
    m_edtStatus = new QComboBox(this);
    m_edtStatus->setObjectName(QStringLiteral("edtStatus"));
    // The stored status is the English word, whatever the language shown.
    m_edtStatus->addItem(Translate(QStringLiteral("Active"), kAmbient), QStringLiteral("Active"));
    m_edtStatus->addItem(Translate(QStringLiteral("Inactive"), kAmbient), QStringLiteral("Inactive"));
    m_edtStatus->setCurrentIndex(0);

    m_okButton = new QPushButton(QStringLiteral("Aceptar"), this);
    m_okButton->setObjectName(QStringLiteral("OKButton"));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancelar"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(m_okButton, &QPushButton::clicked, this, &frmEditScheduled::OKButton_Click);
    connect(m_cancelButton, &QPushButton::clicked, this, &frmEditScheduled::CancelButton_Click);

    auto* grid = new QGridLayout;
    auto* file = new QHBoxLayout;
    file->addWidget(m_edtFilename, 1);
    file->addWidget(m_vlmCommand1);
    grid->addLayout(file, 0, 0, 1, 3);
    grid->addWidget(NewLabel(QStringLiteral("Label1"), QStringLiteral("Starts"), this), 1, 0);
    grid->addWidget(m_edtRuntimeday, 1, 1);
    grid->addWidget(m_edtRuntime, 1, 2);
    grid->addWidget(NewLabel(QStringLiteral("Label3"), QStringLiteral("Ends"), this), 2, 0);
    grid->addWidget(m_edtEndsday, 2, 1);
    grid->addWidget(m_edtends, 2, 2);
    grid->addWidget(NewLabel(QStringLiteral("Label2"), QStringLiteral("Every"), this), 3, 0);
    grid->addWidget(m_edtEvery, 3, 1);
    grid->addWidget(m_edtKindEvery, 3, 2);
    grid->addWidget(NewLabel(QStringLiteral("Label4"), QStringLiteral("Status:"), this), 4, 0);
    grid->addWidget(m_edtStatus, 4, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    // Load.
    TranslateForm(this, kAmbient);
    Accepted = false;
    m_edtKindEvery->setCurrentIndex(1);
}

frmEditScheduled& frmEditScheduled::Instance()
{
    QPointer<frmEditScheduled>& dialog = TheDialog();
    if (!dialog)
        dialog = new frmEditScheduled;
    return *dialog;
}

void frmEditScheduled::Unload()
{
    // Deleted now, not later: a hidden dialog gets no close event to act on,
    // and the next opening must not find the old values.
    delete TheDialog().data();
}

void frmEditScheduled::SetModalHook(ModalHook NewHook)
{
    Hook() = std::move(NewHook);
}

bool frmEditScheduled::ShowModal()
{
    Accepted = false;
    if (Hook()) {
        show();
        Hook()(*this);
        hide();
    } else {
        exec();
    }
    return Accepted;
}

void frmEditScheduled::SetJob(const QString& Name, const QDateTime& From, const QDateTime& To, int Every,
                              int KindEvery, const QString& Status)
{
    m_edtFilename->setText(Name);
    m_edtRuntimeday->setDate(From.date());
    m_edtRuntime->setTime(From.time());
    m_edtEndsday->setDate(To.date());
    m_edtends->setTime(To.time());
    m_edtEvery->setText(QString::number(Every));
    // A unit the service does not know shows as none: OK then asks for one.
    m_edtKindEvery->setCurrentIndex(KindEvery >= 1 && KindEvery <= m_edtKindEvery->count() ? KindEvery - 1 : -1);
    // Anything but "Active" leaves the job out of the schedule.
    const int status = m_edtStatus->findData(Status.trimmed(), Qt::UserRole, Qt::MatchFixedString);
    m_edtStatus->setCurrentIndex(status >= 0 ? status : 1);
}

QDateTime frmEditScheduled::From() const
{
    return QDateTime(m_edtRuntimeday->date(), m_edtRuntime->time());
}

QDateTime frmEditScheduled::To() const
{
    return QDateTime(m_edtEndsday->date(), m_edtends->time());
}

namespace {

// A whole number from a number or its text; none for anything else.
std::optional<qint64> WholeNumber(const QVariant& Value)
{
    if (!Value.isValid() || Value.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = Value.typeId() == QMetaType::QString ? Value.toString().trimmed().toDouble(&ok)
                                                          : Value.toDouble(&ok);
    if (!ok || !std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e15)
        return std::nullopt;
    return static_cast<qint64>(d);
}

// The longest file name the schedule store holds.
constexpr int kNameSize = 255;

}  // namespace

short frmEditScheduled::Every() const
{
    const std::optional<qint64> every = WholeNumber(m_edtEvery->text());
    return every && *every >= 1 && *every <= 32767 ? static_cast<short>(*every) : 0;
}

int frmEditScheduled::KindEvery() const
{
    const int index = m_edtKindEvery->currentIndex();
    return index >= 0 ? index + 1 : 0;
}

QString frmEditScheduled::JobProblem(const QString& Name, const QVariant& Every, const QVariant& KindEvery)
{
    QString problem;
    const std::optional<qint64> every = WholeNumber(Every);
    const std::optional<qint64> kind = WholeNumber(KindEvery);
    if (Name.trimmed().isEmpty())
        problem = QStringLiteral("Select the integration file to run.");
    else if (Name.size() > kNameSize)
        problem = QStringLiteral("The integration file name is longer than 255 characters.");
    else if (!every || *every < 1 || *every > 32767)
        problem = QStringLiteral("Every must be a whole number from 1 to 32767.");
    else if (!kind || *kind < 1 || *kind > 4)
        problem = QStringLiteral("Select the unit of Every: minutes, hours, days or weeks.");
    return problem.isEmpty() ? QString() : Translate(problem, kAmbient);
}

QString frmEditScheduled::Filename() const
{
    return m_edtFilename->text();
}

QString frmEditScheduled::Status() const
{
    const QVariant value = m_edtStatus->currentData();
    return (value.isValid() ? value.toString() : m_edtStatus->currentText()).trimmed();
}

bool frmEditScheduled::ValidateJob()
{
    const QString problem =
        JobProblem(m_edtFilename->text(), m_edtEvery->text(), KindEvery() == 0 ? QVariant() : QVariant(KindEvery()));
    if (problem.isEmpty())
        return true;
    Dialogs().MsgBox(this, problem, MsgBoxStyle::vbExclamation);
    return false;
}

void frmEditScheduled::OKButton_Click()
{
    // A job the scheduler cannot use is not stored: the dialog stays open.
    if (!ValidateJob())
        return;
    Accepted = true;
    accept();
}

void frmEditScheduled::CancelButton_Click()
{
    Accepted = false;
    reject();
}

void frmEditScheduled::closeEvent(QCloseEvent* Event)
{
    // The close box unloads the dialog: the next opening loads it anew.
    Accepted = false;
    QDialog::closeEvent(Event);
    if (Event->isAccepted() && TheDialog() == this) {
        // Forgotten at once, so an opening before the deletion loads anew.
        TheDialog() = nullptr;
        deleteLater();
    }
}

void frmEditScheduled::vlmCommand1_Click()
{
    const QString file = Dialogs().GetOpenFileName(
        this, Translate(QStringLiteral("Select a connection file"), kAmbient), QString(),
        AdminScreens::QtFileFilter(Translate(QStringLiteral("Integrations (*.xml)|*.xml"), kAmbient)));
    if (!file.isEmpty())
        m_edtFilename->setText(file);
}
