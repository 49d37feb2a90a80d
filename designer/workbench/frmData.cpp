#include "workbench/frmData.h"

#include <QTableWidget>
#include <QVBoxLayout>

#include "app/FormTranslation.h"
#include "app/basMain.h"
#include "app/mdiMain.h"
#include "document/cShapes.h"
#include "stores/basUtils.h"
#include "workbench/FillGrid.h"

namespace {
const QString kAmbient = QStringLiteral("frmData");
}

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
    FillGrid(window->m_grdData, step->data(), RecordLimit);

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
