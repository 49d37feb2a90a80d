#include "workbench/frmData.h"

#include <QTableWidget>
#include <QVBoxLayout>

#include "app/FormTranslation.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "data/Recordset.h"
#include "document/cShapes.h"
#include "stores/basUtils.h"
#include "workbench/FillGrid.h"

namespace {

const QString kAmbient = QStringLiteral("frmData");

// The rows a viewer shows, and no more. A data step's own recordset holds
// its whole source (a static cursor over every row), which for a large
// table costs seconds and the memory of all its rows; the viewer reads
// forward and stops at the limit, and asks the provider for no more rows
// than that where it takes a LIMIT clause.
ado::Recordset FirstRows(cShape& Step, int Limit)
{
    const tData* record = Step.dataRecord();
    if (Step.objType != aData || !record)
        return Step.data();
    if (record->Source.isEmpty())
        return {};
    ado::Connection& cn = Step.cnSource;
    if (!cn.isOpen() && (record->connString.isEmpty() || !cn.Open(record->connString)))
        return {};
    QString sql = record->Source;
    if (record->sourcetype == QLatin1String("table")) {
        sql = QStringLiteral("SELECT * FROM ") + cn.quoteIdentifier(record->Source);
        const QString driver = cn.driverName();
        if (driver == QLatin1String("QSQLITE") || driver == QLatin1String("QPSQL"))
            sql += QStringLiteral(" LIMIT ") + QString::number(Limit);
    }
    ado::Recordset rs;
    if (!rs.Open(sql, cn, ado::adOpenForwardOnly, ado::adLockReadOnly))
        return {};
    return rs;
}

}  // namespace

frmData::frmData(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("frmData"));
    setWindowTitle(QStringLiteral("Data Preview"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_grdData = new QTableWidget(this);
    m_grdData->setObjectName(QStringLiteral("grdData"));
    SetupRecordGrid(m_grdData);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_grdData);
    resize(640, 400);

    TranslateForm(this, kAmbient);
}

frmData::~frmData() = default;

frmData* frmData::ShowData(const QString& Key, cShapes* Shapes)
{
    if (!Shapes)
        return nullptr;
    // No node under the key (nothing selected): no viewer.
    const cShapeRef step = Shapes->item(Key);
    if (!step)
        return nullptr;

    auto* window = new frmData;
    window->setWindowTitle(Translate(QStringLiteral("Showing data for step: "), kAmbient) + step->sCaption
                           + Translate(QStringLiteral("(only first 100 records previewed)"), kAmbient));
    // A step without data (other kinds, a connection that fails) gives an
    // empty grid under the full caption.
    ado::Recordset rows = FirstRows(*step, RecordLimit);
    FillGrid(window->m_grdData, rows, RecordLimit);
    // A cursor left open would keep a read lock on the step's database.
    if (rows.isStreaming())
        rows.Close();

    if (mdiMain* main = MainForm())
        main->AddChild(window);
    else
        window->show();
    return window;
}

void frmData::ActionClose()
{
    close();
}
