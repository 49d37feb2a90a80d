#include "workbench/frmPrintPreview.h"

#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include <memory>

#include "app/FormTranslation.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "stores/basUtils.h"

namespace {

const QString kAmbient = QStringLiteral("frmPrintPreview");

QPointer<frmPrintPreview>& DefaultWindow()
{
    static QPointer<frmPrintPreview> window;
    return window;
}

frmPrintPreview::PrintPrompt& Prompt()
{
    static frmPrintPreview::PrintPrompt prompt;
    return prompt;
}

bool AskPrinter(QPrinter& Printer, QWidget* Parent)
{
    if (const auto& prompt = Prompt())
        return prompt(Printer, Parent);
    QPrintDialog dialog(&Printer, Parent);
    dialog.setObjectName(QStringLiteral("dlgPrint"));
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace

frmPrintPreview::frmPrintPreview(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("frmPrintPreview"));
    // Restored, the document is still readable.
    setMinimumSize(640, 480);
    setWindowTitle(QStringLiteral("Print Preview"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("browser"));
    m_browser->setOpenLinks(false);
    m_browser->setLineWrapMode(QTextEdit::NoWrap);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(720, 520);

    TranslateForm(this, kAmbient);
    // The file is shown as written, so its indentation needs a fixed pitch
    // (set after the form's message font).
    m_browser->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

frmPrintPreview::~frmPrintPreview() = default;

frmPrintPreview* frmPrintPreview::DefaultInstance()
{
    QPointer<frmPrintPreview>& window = DefaultWindow();
    if (!window)
        window = new frmPrintPreview;
    return window;
}

void frmPrintPreview::setPrintPrompt(PrintPrompt Prompt_)
{
    Prompt() = std::move(Prompt_);
}

void frmPrintPreview::Navigate(const QString& Path)
{
    setWindowTitle(Translate(QStringLiteral("Print Preview"), kAmbient) + QStringLiteral(" - ") + Path);
    m_path = Path;

    QFile file(Path);
    if (Path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        // The browser's own page for a file it cannot show.
        m_browser->setPlainText(Translate(QStringLiteral("The file cannot be displayed: "), kAmbient) + Path
                                + (Path.isEmpty() ? QString() : QStringLiteral("\n") + file.errorString()));
        return;
    }
    m_browser->setPlainText(QString::fromUtf8(file.readAll()));
}

void frmPrintPreview::ShowFile(const QString& Path)
{
    Navigate(Path);
    if (mdiMain* main = MainForm())
        main->AddChild(this);
    else
        show();
}

bool frmPrintPreview::ActionPrint(const QString& Path)
{
    ShowFile(Path);
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(Path);
    if (!AskPrinter(printer, this))
        return false;
    Print(&printer);
    return true;
}

void frmPrintPreview::ActionClose()
{
    close();
}

void frmPrintPreview::Print(QPrinter* Printer) const
{
    if (Printer)
        m_browser->document()->print(Printer);
}

void frmPrintPreview::Render(QPainter* Painter, const QRectF& Area) const
{
    if (!Painter)
        return;
    const std::unique_ptr<QTextDocument> page(m_browser->document()->clone());
    page->setDefaultFont(m_browser->font());
    page->setPageSize(Area.size());
    Painter->save();
    Painter->translate(Area.topLeft());
    page->drawContents(Painter, QRectF(QPointF(0, 0), Area.size()));
    Painter->restore();
}
