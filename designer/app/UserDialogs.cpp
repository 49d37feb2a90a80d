#include "app/UserDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/AppInfo.h"

namespace {

QString DefaultTitle(const QString& Title)
{
    return Title.isEmpty() ? QString::fromLatin1(AppInfo::ProductName) : Title;
}

class cQtDialogs : public IUserDialogs {
public:
    int MsgBox(QWidget* Parent, const QString& Prompt, int Style, const QString& Title) override
    {
        using namespace MsgBoxStyle;
        QMessageBox box(Parent ? Parent : QApplication::activeWindow());
        box.setWindowTitle(DefaultTitle(Title));
        box.setText(Prompt);
        switch (Style & 0x70) {
        case vbCritical: box.setIcon(QMessageBox::Critical); break;
        case vbQuestion: box.setIcon(QMessageBox::Question); break;
        case vbExclamation: box.setIcon(QMessageBox::Warning); break;
        case vbInformation: box.setIcon(QMessageBox::Information); break;
        default: break;
        }
        QMessageBox::StandardButtons buttons;
        switch (Style & 0x0F) {
        case vbOKCancel: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
        case vbAbortRetryIgnore: buttons = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
        case vbYesNoCancel: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
        case vbYesNo: buttons = QMessageBox::Yes | QMessageBox::No; break;
        case vbRetryCancel: buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
        default: buttons = QMessageBox::Ok; break;
        }
        box.setStandardButtons(buttons);
        switch (box.exec()) {
        case QMessageBox::Ok: return MsgBoxResult::vbOK;
        case QMessageBox::Cancel: return MsgBoxResult::vbCancel;
        case QMessageBox::Abort: return MsgBoxResult::vbAbort;
        case QMessageBox::Retry: return MsgBoxResult::vbRetry;
        case QMessageBox::Ignore: return MsgBoxResult::vbIgnore;
        case QMessageBox::Yes: return MsgBoxResult::vbYes;
        case QMessageBox::No: return MsgBoxResult::vbNo;
        default:
            // Closing the box with Escape or its close button counts as the way out.
            return (buttons & QMessageBox::Cancel) ? MsgBoxResult::vbCancel
                   : (buttons & QMessageBox::No)   ? MsgBoxResult::vbNo
                                                   : MsgBoxResult::vbOK;
        }
    }

    std::optional<QString> InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                    const QString& Default) override
    {
        bool ok = false;
        const QString text = QInputDialog::getText(Parent ? Parent : QApplication::activeWindow(),
                                                   DefaultTitle(Title), Prompt, QLineEdit::Normal, Default, &ok);
        if (!ok)
            return std::nullopt;
        return text;
    }

    QString GetOpenFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                            const QString& Filter) override
    {
        return QFileDialog::getOpenFileName(Parent ? Parent : QApplication::activeWindow(), Title, Folder, Filter);
    }

    QString GetSaveFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                            const QString& Filter) override
    {
        return QFileDialog::getSaveFileName(Parent ? Parent : QApplication::activeWindow(), Title, Folder, Filter);
    }

    bool OpenUrl(const QUrl& Url) override { return QDesktopServices::openUrl(Url); }
};

std::unique_ptr<IUserDialogs>& Current()
{
    static std::unique_ptr<IUserDialogs> current = std::make_unique<cQtDialogs>();
    return current;
}

}  // namespace

IUserDialogs& Dialogs()
{
    return *Current();
}

std::unique_ptr<IUserDialogs> SetDialogs(std::unique_ptr<IUserDialogs> Dialogs)
{
    std::unique_ptr<IUserDialogs> previous = std::move(Current());
    Current() = Dialogs ? std::move(Dialogs) : std::make_unique<cQtDialogs>();
    return previous;
}

int cScriptedDialogs::MsgBox(QWidget*, const QString& Prompt, int Style, const QString& Title)
{
    Messages.push_back({Prompt, Style, Title});
    if (MsgBoxAnswers.empty())
        return MsgBoxResult::vbOK;
    const int answer = MsgBoxAnswers.front();
    MsgBoxAnswers.pop_front();
    return answer;
}

std::optional<QString> cScriptedDialogs::InputBox(QWidget*, const QString& Prompt, const QString&, const QString&)
{
    InputPrompts << Prompt;
    if (InputAnswers.empty())
        return std::nullopt;
    auto answer = InputAnswers.front();
    InputAnswers.pop_front();
    return answer;
}

QString cScriptedDialogs::GetOpenFileName(QWidget*, const QString& Title, const QString&, const QString&)
{
    FileTitles << Title;
    if (FileAnswers.empty())
        return QString();
    QString answer = FileAnswers.front();
    FileAnswers.pop_front();
    return answer;
}

QString cScriptedDialogs::GetSaveFileName(QWidget* Parent, const QString& Title, const QString& Folder,
                                          const QString& Filter)
{
    return GetOpenFileName(Parent, Title, Folder, Filter);
}

bool cScriptedDialogs::OpenUrl(const QUrl& Url)
{
    OpenedUrls.push_back(Url);
    if (OpenUrlAnswers.empty())
        return true;
    const bool started = OpenUrlAnswers.front();
    OpenUrlAnswers.pop_front();
    return started;
}

cScriptedDialogsGuard::cScriptedDialogsGuard()
{
    auto dialogs = std::make_unique<cScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_previous = SetDialogs(std::move(dialogs));
}

cScriptedDialogsGuard::~cScriptedDialogsGuard()
{
    SetDialogs(std::move(m_previous));
}
