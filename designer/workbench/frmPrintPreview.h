#pragma once

// The print preview: shows a saved integration file and prints it. One
// window serves both commands; it shows the last file passed to it.
//
//   frmPrintPreview::DefaultInstance()->ShowFile(process.Filename());
//   frmPrintPreview::DefaultInstance()->ActionPrint(process.Filename());

#include <QString>
#include <QWidget>

#include <functional>

class QPainter;
class QPrinter;
class QTextBrowser;

class frmPrintPreview : public QWidget {
    Q_OBJECT
public:
    explicit frmPrintPreview(QWidget* Parent = nullptr);
    ~frmPrintPreview() override;

    // The window the designer's print commands use, created on first use
    // and again after it was closed.
    static frmPrintPreview* DefaultInstance();

    // Shows the file (caption "Print Preview - " and the path).
    Q_INVOKABLE void ShowFile(const QString& Path);
    // Shows the file, then asks the user for a printer and prints it.
    // Returns true when it was sent to the printer.
    Q_INVOKABLE bool ActionPrint(const QString& Path);
    // Closes (unloads) the window.
    Q_INVOKABLE void ActionClose();

    // Prints what the window shows on Printer, without asking.
    void Print(QPrinter* Printer) const;
    // Paints the first page of what the window shows (pictures, tests).
    void Render(QPainter* Painter, const QRectF& Area) const;

    QTextBrowser* browser() const { return m_browser; }
    QString FileShown() const { return m_path; }

    // How the user is asked for the printer: true to print. The default is
    // the desktop's print dialog; tests replace it. An empty function
    // restores the default.
    using PrintPrompt = std::function<bool(QPrinter& Printer, QWidget* Parent)>;
    static void setPrintPrompt(PrintPrompt Prompt);

private:
    void Navigate(const QString& Path);

    QTextBrowser* m_browser = nullptr;
    QString m_path;
};
