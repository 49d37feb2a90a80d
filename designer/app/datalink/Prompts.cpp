#include "datalink/Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "connections/cConnections.h"

namespace {

QString TitleOr(const QString& Title)
{
    if (!Title.isEmpty())
        return Title;
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Meridox") : name;
}

}  // namespace

int QtMessageBox::MsgBox(QWidget* Parent, const QString& Prompt, int Buttons, const QString& Title)
{
    using namespace MsgBoxStyle;
    using namespace MsgBoxResult;
    QMessageBox box(Parent);
    box.setWindowTitle(TitleOr(Title));
    box.setText(Prompt);

    switch (Buttons & 0x70) {
    case vbCritical: box.setIcon(QMessageBox::Critical); break;
    case vbQuestion: box.setIcon(QMessageBox::Question); break;
    case vbExclamation: box.setIcon(QMessageBox::Warning); break;
    case vbInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }

    // The buttons of each style, in the order the style names them, with the
    // answer each gives.
    struct Choice {
        QMessageBox::StandardButton button;
        int result;
    };
    std::vector<Choice> choices;
    switch (Buttons & 0x7) {
    case vbOKCancel: choices = {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}}; break;
    case vbAbortRetryIgnore:
        choices = {{QMessageBox::Abort, vbAbort}, {QMessageBox::Retry, vbRetry}, {QMessageBox::Ignore, vbIgnore}};
        break;
    case vbYesNoCancel:
        choices = {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}, {QMessageBox::Cancel, vbCancel}};
        break;
    case vbYesNo: choices = {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}}; break;
    case vbRetryCancel: choices = {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}}; break;
    default: choices = {{QMessageBox::Ok, vbOK}}; break;
    }
    QMessageBox::StandardButtons all;
    for (const Choice& c : choices)
        all |= c.button;
    box.setStandardButtons(all);
    const size_t defaultIndex = static_cast<size_t>((Buttons >> 8) & 0x3);  // vbDefaultButton2 = 256 ...
    box.setDefaultButton(choices[defaultIndex < choices.size() ? defaultIndex : 0].button);

    const int pressed = box.exec();
    for (const Choice& c : choices)
        if (c.button == pressed)
            return c.result;
    // Closed without a button: the Cancel answer where there is one.
    for (const Choice& c : choices)
        if (c.result == vbCancel)
            return vbCancel;
    return choices.front().result;
}

std::optional<QString> QtInputBox::InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                            const QString& Default)
{
    bool ok = false;
    const QString text = QInputDialog::getText(Parent, TitleOr(Title), Prompt, QLineEdit::Normal, Default, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

QString QtFileChooser::OpenFileName(QWidget* Parent, const QString& Caption, const QString& Folder,
                                    const QString& Filter)
{
    return QFileDialog::getOpenFileName(Parent, Caption, Folder, Filter);
}
