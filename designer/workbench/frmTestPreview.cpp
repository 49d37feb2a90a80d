#include "workbench/frmTestPreview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/FormTranslation.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "document/clsProcess.h"
#include "stores/basUtils.h"
#include "workbench/FillGrid.h"

namespace {

const QString kAmbient = QStringLiteral("frmTestPreview");

// The hourglass for the length of one navigation.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QPointer<frmTestPreview>& DefaultWindow()
{
    static QPointer<frmTestPreview> window;
    return window;
}

}  // namespace

frmTestPreview::frmTestPreview(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("frmTestPreview"));
    // Restored, the two grids still show a record's fields side by side.
    setMinimumSize(640, 400);
    setWindowTitle(QStringLiteral("Test Preview"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_lblSource = new QLabel(QStringLiteral("Source"), this);
    m_lblSource->setObjectName(QStringLiteral("lblSource"));
    m_lblTarget = new QLabel(QStringLiteral("Target"), this);
    m_lblTarget->setObjectName(QStringLiteral("lblTarget"));
    auto* top = new QHBoxLayout;
    top->addWidget(m_lblSource, 1);
    top->addWidget(m_lblTarget, 1);

    m_lblRecordPos = new QLabel(QStringLiteral("Record 0 of 0"), this);
    m_lblRecordPos->setObjectName(QStringLiteral("lblRecordPos"));
    auto* selector = new QHBoxLayout;
    const QStyle::StandardPixmap pictures[] = {QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSeekBackward,
                                               QStyle::SP_MediaSeekForward, QStyle::SP_MediaSkipForward};
    const char* const tips[] = {"First record", "Previous record", "Next record", "Last record"};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("cmdNav_%1").arg(i));
        button->setIcon(style()->standardIcon(pictures[i]));
        button->setAutoRaise(true);
        // The pictures alone do not say which record each button goes to.
        button->setToolTip(Translate(QString::fromLatin1(tips[i]), QStringLiteral("frmTestPreview")));
        button->setAccessibleName(button->toolTip());
        connect(button, &QToolButton::clicked, this, [this, i] { cmdNav_Click(i); });
        m_cmdNav[i] = button;
    }
    selector->addWidget(m_cmdNav[0]);
    selector->addWidget(m_cmdNav[1]);
    selector->addWidget(m_lblRecordPos);
    selector->addWidget(m_cmdNav[2]);
    selector->addWidget(m_cmdNav[3]);
    selector->addStretch(1);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("vlmSplitter1"));
    m_splitter->setChildrenCollapsible(false);
    for (int i = 0; i < 2; ++i) {
        auto* grid = new QTableWidget(m_splitter);
        grid->setObjectName(QStringLiteral("grdData_%1").arg(i));
        SetupRecordGrid(grid);
        m_splitter->addWidget(grid);
        m_grdData[i] = grid;
    }
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addLayout(selector);
    layout->addWidget(m_splitter, 1);
    resize(720, 420);

    TranslateForm(this, kAmbient);
}

frmTestPreview::~frmTestPreview()
{
    // The main window may end without closing its children first.
    EndTest();
}

void frmTestPreview::closeEvent(QCloseEvent* Event)
{
    EndTest();
    QWidget::closeEvent(Event);
}

bool frmTestPreview::IsTesting(const clsProcess* Process)
{
    const QPointer<frmTestPreview>& window = DefaultWindow();
    return Process && window && window->m_process == Process;
}

void frmTestPreview::EndTestOf(const clsProcess* Process)
{
    if (!IsTesting(Process))
        return;
    frmTestPreview* window = DefaultWindow();
    window->EndTest();
    window->ActionClose();
}

void frmTestPreview::EndTest()
{
    clsProcess* process = m_process.data();
    m_process = nullptr;
    if (!process || process->IsRunning())
        return;
    // Left open, the test transaction would lock the target database for
    // every other writer and the next test would go on inside it.
    ado::Recordset source = process->SourceData();
    if (source.isOpen())
        source.Close();
    for (const cShapeRef& node : process->Shapes()->Collection()) {
        node->setDebugMode(false);
        // The step's recordsets read through the connection closed below.
        node->setQuery(node->Query());
        node->cnSource.Close();
    }
}

frmTestPreview* frmTestPreview::DefaultInstance()
{
    QPointer<frmTestPreview>& window = DefaultWindow();
    if (!window)
        window = new frmTestPreview;
    return window;
}

bool frmTestPreview::ShowData(clsProcess* Process)
{
    if (!Process || Process->IsRunning())
        return false;
    // A new test starts clean, never inside the transaction of the last one.
    EndTest();
    m_process = Process;
    Process->RunRecord();

    const cShapeRef source = Process->SourceStep();
    if (!source) {
        EndTest();
        return false;
    }
    m_lblSource->setText(source->sCaption);
    // The step selected when the test starts names the target side; the grid
    // follows the selection at every display.
    const cShapeRef current = Process->Shapes()->item(Process->Shapes()->CurrCtl);
    m_lblTarget->setText(current ? current->sCaption : QString());

    // A source that cannot be read leaves nothing to show; the run log says why.
    if (!Process->SourceData().isOpen()) {
        EndTest();
        return false;
    }
    ShowRecord();

    if (mdiMain* main = MainForm())
        main->AddChild(this);
    else
        show();
    return true;
}

void frmTestPreview::ActionClose()
{
    close();
}

void frmTestPreview::cmdNav_Click(int Index)
{
    if (!m_process || Index < 0 || Index > 3)
        return;
    const WaitCursor wait;
    ado::Recordset source = m_process->SourceData();
    // A move that fails (before the first record, say) leaves the source
    // where the recordset puts it; that record is shown and processed.
    switch (Index) {
    case 0:
        source.MoveFirst();
        break;
    case 1:
        source.MovePrevious();
        break;
    case 3:
        source.MoveLast();
        break;
    default:
        break;
    }
    ShowRecord();
}

void frmTestPreview::ShowRecord()
{
    QCoreApplication::processEvents();
    if (!m_process)
        return;
    ado::Recordset source = m_process->SourceData();

    // Outside the records (after the last, before the first) there is no
    // record position to show: 0 stands for none.
    const long position = source.hasCurrentRecord() ? source.AbsolutePosition() : 0;
    const long count = std::max(0L, source.RecordCount());
    m_lblRecordPos->setText(Translate(QStringLiteral("Record "), kAmbient) + QLatin1Char(' ')
                            + QString::number(position) + QStringLiteral("  ")
                            + Translate(QStringLiteral("of  "), kAmbient) + QLatin1Char(' ')
                            + QString::number(count));

    FillRecordGrid(m_grdData[0], source);
    m_process->RunNextRecord();

    // The step selected now, read after the record went through the flow.
    cShapes* shapes = m_process->Shapes();
    const cShapeRef current = shapes->item(shapes->CurrCtl);
    FillRecordGrid(m_grdData[1], current ? m_process->StepData(*current) : ado::Recordset());
}

void frmTestPreview::FillRecordGrid(QTableWidget* Grid, const ado::Recordset& rs)
{
    Grid->setUpdatesEnabled(false);
    Grid->clearContents();
    Grid->setRowCount(0);
    if (Grid->columnCount() == 0) {
        AddGridColumn(Grid, QStringLiteral("FIELD"), Translate(QStringLiteral("Field"), kAmbient), 150);
        AddGridColumn(Grid, QStringLiteral("VALUE"), Translate(QStringLiteral("Value"), kAmbient), 150);
    }
    if (rs.isOpen()) {
        const bool hasRecord = rs.hasCurrentRecord();
        for (int i = 0; i < rs.FieldCount(); ++i) {
            const int row = Grid->rowCount();
            Grid->insertRow(row);
            Grid->setItem(row, 0, new QTableWidgetItem(rs.Fields(i).Name()));
            if (hasRecord)
                Grid->setItem(row, 1, new QTableWidgetItem(GridCellText(rs.value(i))));
        }
    }
    Grid->setUpdatesEnabled(true);
}
