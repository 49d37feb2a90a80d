#include "workbench/frmWorkBench.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QMdiSubWindow>
#include <QSplitter>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/FormTranslation.h"
#include "app/ScreenRegistry.h"
#include "app/UserDialogs.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "stores/basUtils.h"
#include "workbench/FlowCanvas.h"
#include "workbench/frmTestPreview.h"

namespace {

const QString kAmbient = QStringLiteral("frmWorkBench");
const QString kXmlFilter = QStringLiteral("XML Files (*.xml)");

QString Tr(const QString& Text) {
    return Translate(Text, kAmbient);
}

// Shows a window as a maximised tab of the main window, or on its own when
// there is none (tests, screenshots).
void ShowAsChild(frmWorkBench* Window) {
    if (mdiMain* main = MainForm()) {
        QMdiSubWindow* sub = main->AddChild(Window);
        if (sub)
            sub->showMaximized();
    } else {
        Window->show();
    }
}

// New and open from the main window create workbench windows.
const bool registeredAdd = ScreenRegistry::Register(kAmbient, QStringLiteral("ActionAdd"), [] {
    frmWorkBench::NewIntegration();
});
const bool registeredOpen = ScreenRegistry::Register(kAmbient, QStringLiteral("ActionOpen"), [] {
    auto* window = new frmWorkBench();
    window->ActionOpen();
});

}  // namespace

frmWorkBench::frmWorkBench(QWidget* Parent) : QWidget(Parent) {
    setObjectName(kAmbient);
    setAttribute(Qt::WA_DeleteOnClose);
    BuildControls();
    TranslateForm(this, kAmbient);
    // The document draws on this window from the first use of Process on.
    Process();
    m_dirty = false;
    m_fileTitle = QString::fromLatin1(NewIntegrationTitle);
    setWindowTitle(m_fileTitle);
    SetupGrid();
}

frmWorkBench::~frmWorkBench() {
    // The process goes first: it must not draw on a half-destroyed canvas.
    m_process.reset();
}

void frmWorkBench::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    vlmSplitter1 = new QSplitter(Qt::Vertical, this);
    vlmSplitter1->setObjectName(QStringLiteral("vlmSplitter1"));
    vlmSplitter1->setChildrenCollapsible(false);
    layout->addWidget(vlmSplitter1);

    picFlow = new FlowCanvas(vlmSplitter1);
    vlmSplitter1->addWidget(picFlow);

    auto* lower = new QSplitter(Qt::Horizontal, vlmSplitter1);
    lower->setObjectName(QStringLiteral("splMapping"));
    lower->setChildrenCollapsible(false);
    vlmSplitter1->addWidget(lower);

    picLeft = new QWidget(lower);
    picLeft->setObjectName(QStringLiteral("picLeft"));
    auto* leftLayout = new QHBoxLayout(picLeft);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(2);
    treeSource = new QTreeWidget(picLeft);
    treeSource->setObjectName(QStringLiteral("treeSource"));
    treeSource->setHeaderHidden(true);
    treeSource->setColumnCount(1);
    treeSource->setSortingEnabled(false);
    leftLayout->addWidget(treeSource, 1);

    picButtons = new QWidget(picLeft);
    picButtons->setObjectName(QStringLiteral("picButtons"));
    auto* buttons = new QVBoxLayout(picButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(2);
    struct ButtonSpec {
        const char* name;
        const char* text;
        const char* tip;
        void (frmWorkBench::*command)();
    };
    const ButtonSpec specs[] = {
        {"picToRight", ">", "Add Link", &frmWorkBench::Link_Add},
        {"picToLeft", "<", "Remove Link", &frmWorkBench::Link_Remove},
        {"picFormula", "f>", "Formula Link", &frmWorkBench::Link_Formula},
        {"picLookUp", "L>", "Lookup Link", &frmWorkBench::Link_Lookup},
        {"picLookupFormula", "fL>", "Formula Lookup", &frmWorkBench::Link_LookupFormula},
        {"picToleftLookup", "<L", "Remove Lookup", &frmWorkBench::Link_RemoveLookup},
        {"picClear", "<<", "Clear All", &frmWorkBench::Link_Clear},
        {"picAutoLink", "*>", "Auto Link", &frmWorkBench::Link_Auto},
    };
    for (const ButtonSpec& spec : specs) {
        auto* button = new QToolButton(picButtons);
        button->setObjectName(QString::fromLatin1(spec.name));
        button->setText(QString::fromLatin1(spec.text));
        button->setToolTip(QString::fromLatin1(spec.tip));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(30, 24);
        connect(button, &QToolButton::clicked, this, spec.command);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    leftLayout->addWidget(picButtons, 0);
    lower->addWidget(picLeft);

    grdTarget = new QTableWidget(lower);
    grdTarget->setObjectName(QStringLiteral("grdTarget"));
    lower->addWidget(grdTarget);
    lower->setStretchFactor(0, 2);
    lower->setStretchFactor(1, 3);

    vlmSplitter1->setStretchFactor(0, 3);
    vlmSplitter1->setStretchFactor(1, 2);

    // The canvas's mouse and keys, in the window's terms.
    connect(picFlow, &FlowCanvas::canvasMouseDown, this, [this](int Button, int Shift, QPointF Twips) {
        m_activeControl = QStringLiteral("picFlow");
        picFlow_MouseDown(Button, Shift, float(Twips.x()), float(Twips.y()));
    });
    connect(picFlow, &FlowCanvas::nodeMouseDown, this, [this](int N, int Button, int Shift, QPointF Twips) {
        m_activeControl = QStringLiteral("shp");
        shp_MouseDown(N, Button, Shift, float(Twips.x()), float(Twips.y()));
    });
    connect(picFlow, &FlowCanvas::nodeMouseMove, this, [this](int N, int Button, int Shift, QPointF Twips) {
        shp_MouseMove(N, Button, Shift, float(Twips.x()), float(Twips.y()));
    });
    connect(picFlow, &FlowCanvas::nodeMouseUp, this, [this](int N, int Button, int Shift, QPointF Twips) {
        shp_MouseUp(N, Button, Shift, float(Twips.x()), float(Twips.y()));
    });
    connect(picFlow, &FlowCanvas::nodeClick, this, [this](int N) { shp_Click(N); });
    connect(picFlow, &FlowCanvas::nodeDblClick, this, [this](int N) {
        m_activeControl = QStringLiteral("shp");
        shp_DblClick(N);
    });
    connect(picFlow, &FlowCanvas::keyDown, this, [this](int KeyCode, int Shift) { picFlow_KeyDown(KeyCode, Shift); });

    // The mapping panel's presses: focus, popup bar, placement cancelled.
    picFlow->installEventFilter(this);
    for (QWidget* watched : {static_cast<QWidget*>(grdTarget), grdTarget->viewport(),
                             static_cast<QWidget*>(treeSource), treeSource->viewport()})
        watched->installEventFilter(this);
    connect(grdTarget, &QTableWidget::cellDoubleClicked, this, [this] { GridDoubleClicked(); });
    connect(treeSource, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* Node) { TreeDoubleClicked(Node); });
    connect(grdTarget->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int Column) { SortGridByColumn(Column); });

    resize(900, 640);
    vlmSplitter1->setSizes({380, 260});
    lower->setSizes({300, 600});
}

clsProcess* frmWorkBench::Process() {
    if (!m_process) {
        m_process = std::make_unique<clsProcess>();
        IDocumentView* view = DocumentView();
        m_process->setForm(view);
        m_process->Shapes()->setForm(view);
        m_process->Lines()->setForm(view);
        m_process->Formulas()->setForm(view);
        connect(m_process->Shapes(), &cShapes::linkError, this, &frmWorkBench::ShowLinkError);
        connect(m_process->Lines(), &cLines::linkError, this, &frmWorkBench::ShowLinkError);
    }
    return m_process.get();
}

bool frmWorkBench::IsBusy() const {
    return m_process && (m_process->IsRunning() || frmTestPreview::IsTesting(m_process.get()));
}

bool frmWorkBench::RefuseWhileBusy() {
    if (!IsBusy())
        return false;
    Dialogs().MsgBox(this,
                     Tr(QStringLiteral("The integration cannot be changed while it is run or tested. "
                                       "Wait for the run to end or close the test preview.")),
                     MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbInformation);
    return true;
}

cShapeRef frmWorkBench::CurrentShape() {
    cShapes* shapes = Process()->Shapes();
    return shapes->item(shapes->CurrCtl);
}

IDocumentView* frmWorkBench::DocumentView() const {
    return picFlow ? picFlow->DocumentView() : nullptr;
}

void frmWorkBench::Modified() {
    m_dirty = true;
    const QString caption = windowTitle();
    if (!caption.endsWith(QLatin1Char('*')))
        setWindowTitle(caption + QLatin1Char('*'));
}

// ---- Loading and the file commands -------------------------------------------

bool frmWorkBench::OpenFlowChart(const QString& FileName) {
    const QString message = Process()->LoadIntegration(FileName, DocumentView());
    if (message.isEmpty())
        return true;
    Dialogs().MsgBox(this, message, MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbInformation);
    return false;
}

frmWorkBench* frmWorkBench::NewIntegration() {
    auto* window = new frmWorkBench();
    window->OpenFlowChart(QString());
    window->setWindowTitle(QString::fromLatin1(NewIntegrationTitle));
    ShowAsChild(window);
    window->ShowFormulas();
    if (mdiMain* main = MainForm())
        main->RefreshTabs();
    return window;
}

void frmWorkBench::ActionAdd() {
    NewIntegration();
}

void frmWorkBench::ActionOpen() {
    // Opening replaces the document, which a run or a test still uses.
    if (RefuseWhileBusy())
        return;
    if (!m_fileTitle.isEmpty() && m_dirty) {
        const int answer = Dialogs().MsgBox(this, Tr(QStringLiteral("Save changes to ")) + m_fileTitle + QStringLiteral("?"),
                                            MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbInformation);
        if (answer == MsgBoxResult::vbYes) {
            // Through the save command, so a document never saved asks for
            // its file; a save that did not happen keeps the document here.
            if (!SaveChanges())
                return;
        } else if (answer != MsgBoxResult::vbNo) {
            ActionClose();
            return;
        }
    }
    const QString chosen = Dialogs().GetOpenFileName(this, Tr(QStringLiteral("Open")), QString(), kXmlFilter);
    if (chosen.isEmpty()) {
        ActionClose();
        return;
    }
    // The file is read on a process of its own first: one that cannot be
    // loaded must neither replace the document here nor become its file, or
    // the next save would write over what the user may still recover.
    QString loadError;
    {
        clsProcess probe;
        loadError = probe.LoadIntegration(chosen);
    }
    if (!loadError.isEmpty()) {
        Dialogs().MsgBox(this, loadError, MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbInformation);
        // The fresh window opened for the command goes again.
        if (!isVisible())
            ActionClose();
        return;
    }
    ClearFlowChart();
    if (!OpenFlowChart(chosen)) {
        // The file changed since it was read: this is a new, unnamed document.
        m_fileTitle = QString::fromLatin1(NewIntegrationTitle);
        m_dirty = false;
        setWindowTitle(m_fileTitle);
        ShowFormulas();
        if (!isVisible())
            ShowAsChild(this);
        return;
    }
    m_filePath = chosen;
    m_fileTitle = QFileInfo(chosen).fileName();
    m_dirty = false;
    setWindowTitle(m_fileTitle);
    ShowFormulas();
    if (!isVisible())
        ShowAsChild(this);
    if (mdiMain* main = MainForm())
        main->RefreshTabs();
}

void frmWorkBench::ActionSave() {
    SaveChanges();
}

bool frmWorkBench::SaveChanges() {
    if (!m_dirty)
        return true;
    QString path = m_filePath;
    if (path.isEmpty())
        path = Dialogs().GetSaveFileName(this, Tr(QStringLiteral("Save")), QString(), kXmlFilter);
    if (path.isEmpty()) {
        Dialogs().MsgBox(this, Tr(QStringLiteral("Please enter a file name")),
                         MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbCritical);
        return false;
    }
    return SaveFlowChart(path);
}

void frmWorkBench::ActionSaveAs() {
    const QString chosen = Dialogs().GetSaveFileName(this, Tr(QStringLiteral("Save As")), m_filePath, kXmlFilter);
    if (chosen.isEmpty())
        return;
    SaveFlowChart(chosen);
}

bool frmWorkBench::SaveFlowChart(const QString& Path) {
    const QString error = Process()->SaveIntegration(Path);
    if (!error.isEmpty()) {
        // A file that was not written must not look saved: the user is told
        // and the document keeps its state, its file and its title.
        Dialogs().MsgBox(this, error, MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbCritical);
        return false;
    }
    m_filePath = Path;
    m_fileTitle = QFileInfo(Path).fileName();
    m_dirty = false;
    ApplyCaptionAfterSave();
    return true;
}

void frmWorkBench::ApplyCaptionAfterSave() {
    setWindowTitle(QStringLiteral("[") + m_fileTitle + QStringLiteral("]"));
}

void frmWorkBench::ActionClose() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();  // asks this window first (closeEvent)
    else
        close();
}

void frmWorkBench::closeEvent(QCloseEvent* Event) {
    // A run of this document is still inside the process object (the run
    // window lets events through between records): the window, and with it
    // the process, stays until the run has returned.
    if (m_process && m_process->IsRunning()) {
        Event->ignore();
        return;
    }
    if (m_dirty) {
        const int answer = Dialogs().MsgBox(this, Tr(QStringLiteral("Save changes to ")) + m_fileTitle + QStringLiteral("?"),
                                            MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbInformation);
        if (answer == MsgBoxResult::vbCancel) {
            Event->ignore();
            return;
        }
        // Closing after Yes loses the changes unless they were written.
        if (answer == MsgBoxResult::vbYes && !SaveChanges()) {
            Event->ignore();
            return;
        }
    }
    m_closing = true;
    // A test of this document ends with it: its transactions are rolled back.
    frmTestPreview::EndTestOf(m_process.get());
    Event->accept();
}

void frmWorkBench::ClearFlowChart() {
    cShapes* shapes = Process()->Shapes();
    cLines* lines = Process()->Lines();
    lines->MAX_LINE = 0;
    for (int i = lines->Count(); i >= 1; --i)
        lines->Remove(i);
    shapes->MAX_SHAPE = 0;
    shapes->CurrCtl = QStringLiteral("0");
    shapes->PrevCtl = QStringLiteral("0");
    for (int i = shapes->Count(); i >= 1; --i)
        if (const cShapeRef node = shapes->item(i))
            shapes->removeShape(node->Index);
    cFormulas* formulas = Process()->Formulas();
    for (int i = formulas->Count(); i >= 1; --i)
        formulas->Collection().Remove(i);
    m_filePath.clear();
    m_fileTitle.clear();
    // A fresh process numbers its nodes and links from 1 again, so the
    // canvas starts empty too.
    m_process.reset();
    m_target.reset();
    picFlow->Clear();
    treeSource->clear();
    grdTarget->setRowCount(0);
}

// ---- Presses and focus in the mapping panel ----------------------------------------

bool frmWorkBench::eventFilter(QObject* Watched, QEvent* Event) {
    // The canvas reached by the keyboard acts on the current node.
    if (Watched == picFlow && Event->type() == QEvent::FocusIn && m_activeControl != QLatin1String("shp"))
        m_activeControl = QStringLiteral("picFlow");
    const bool inGrid = Watched == grdTarget || Watched == grdTarget->viewport();
    const bool inTree = Watched == treeSource || Watched == treeSource->viewport();
    if (inGrid || inTree) {
        const QString name = inGrid ? QStringLiteral("grdTarget") : QStringLiteral("treeSource");
        switch (Event->type()) {
        case QEvent::FocusIn:
            m_activeControl = name;
            break;
        case QEvent::MouseButtonPress:
            // Working in the panel ends a pending placement on the canvas.
            m_activeControl = name;
            Disarm();
            break;
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(Event);
            if (mouse->button() == Qt::RightButton)
                ShowMappingPopup(static_cast<QWidget*>(Watched), mouse->position().toPoint());
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

void frmWorkBench::ShowMappingPopup(QWidget* Source, const QPoint& Pos) {
    if (mdiMain* main = MainForm())
        main->ShowPopupBar(QStringLiteral("POPUPLNKMENU"), Source->mapToGlobal(Pos));
}
