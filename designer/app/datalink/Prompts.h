#pragma once

// Message boxes, input boxes and file choosers behind small interfaces, so
// that the windows using them can be driven by tests without blocking. The
// Qt* classes are the real ones the application uses.
//
// Message-box styles and answers are the MsgBoxStyle / MsgBoxResult values
// of connections/cConnections.h (buttons + icon, e.g. vbYesNoCancel + vbQuestion).

#include <QString>

#include <optional>

class QWidget;

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows Prompt; an empty Title means the application's name. Returns the
    // MsgBoxResult of the pressed button.
    virtual int MsgBox(QWidget* Parent, const QString& Prompt, int Buttons, const QString& Title) = 0;
};

class IInputBox {
public:
    virtual ~IInputBox() = default;
    // The typed text, or nothing when the box was cancelled.
    virtual std::optional<QString> InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                            const QString& Default) = 0;
};

class IFileChooser {
public:
    virtual ~IFileChooser() = default;
    // The chosen existing file, or an empty text when cancelled.
    virtual QString OpenFileName(QWidget* Parent, const QString& Caption, const QString& Folder,
                                 const QString& Filter) = 0;
};

class QtMessageBox : public IMessageBox {
public:
    int MsgBox(QWidget* Parent, const QString& Prompt, int Buttons, const QString& Title) override;
};

class QtInputBox : public IInputBox {
public:
    std::optional<QString> InputBox(QWidget* Parent, const QString& Prompt, const QString& Title,
                                    const QString& Default) override;
};

class QtFileChooser : public IFileChooser {
public:
    QString OpenFileName(QWidget* Parent, const QString& Caption, const QString& Folder,
                         const QString& Filter) override;
};
