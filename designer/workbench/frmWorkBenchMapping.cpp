// The field mapping panel of the workbench: the tree of steps, fields and
// formulas, the grid of the target step's fields, and the commands that map
// a target field to a source field, a formula or a lookup.

#include "workbench/frmWorkBench.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTableWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "app/UserDialogs.h"

#include <algorithm>
#include "stores/basUtils.h"
#include "workbench/frmAddFormula.h"

namespace {

const QString kAmbient = QStringLiteral("frmWorkBench");
const QString kFormulaRoot = QStringLiteral("FORMULA");
constexpr int kIconRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;

QString Tr(const QString& Text) {
    return Translate(Text, kAmbient);
}

// The image list of the grid, in the order LOOKUP, FORMULA, CHECK2, WAND.
QIcon GridImage(int Icon) {
    static std::map<int, QIcon> cache;
    if (const auto it = cache.find(Icon); it != cache.end())
        return it->second;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (Icon) {
    case frmWorkBench::icoLookup:  // a magnifier
        p.setPen(QPen(QColor(0x30, 0x50, 0x80), 2));
        p.drawEllipse(QRectF(2, 2, 8, 8));
        p.drawLine(QPointF(9, 9), QPointF(14, 14));
        break;
    case frmWorkBench::icoFormula: {  // an italic f
        QFont font(QStringLiteral("Serif"));
        font.setItalic(true);
        font.setBold(true);
        font.setPixelSize(14);
        p.setFont(font);
        p.setPen(QColor(0x80, 0x30, 0x90));
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("f"));
        break;
    }
    case frmWorkBench::icoCheck2:  // a check mark
        p.setPen(QPen(QColor(0x20, 0x90, 0x40), 2.2));
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        break;
    case frmWorkBench::icoWand: {  // a wand with a spark
        p.setPen(QPen(QColor(0x50, 0x40, 0x30), 2));
        p.drawLine(QPointF(2, 14), QPointF(10, 6));
        p.setPen(QPen(QColor(0xd0, 0x90, 0x10), 1.5));
        p.drawLine(QPointF(12, 1), QPointF(12, 7));
        p.drawLine(QPointF(9, 4), QPointF(15, 4));
        break;
    }
    default:
        break;
    }
    p.end();
    return cache.emplace(Icon, QIcon(pixmap)).first->second;
}

// Grid cells: icon columns sort by their icon number, text columns by text.
class GridItem : public QTableWidgetItem {
public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& Other) const override {
        const QVariant mine = data(kIconRole);
        if (mine.isValid())
            return mine.toInt() < Other.data(kIconRole).toInt();
        return text() < Other.text();
    }
};

// Text before the first "!"; empty when there is none.
QString Prefix(const QString& Path) {
    const int p = Path.indexOf(QLatin1Char('!'));
    return p < 0 ? QString() : Path.left(p);
}

// Text after the first "!"; empty when there is none.
QString Suffix(const QString& Path) {
    const int p = Path.indexOf(QLatin1Char('!'));
    return p < 0 ? QString() : Path.mid(p + 1);
}

// Inserts Child among Parent's children (or the roots) keeping them sorted by text.
void InsertSorted(QTreeWidget* Tree, QTreeWidgetItem* Parent, QTreeWidgetItem* Child) {
    if (!Parent) {
        Tree->addTopLevelItem(Child);
        return;
    }
    int at = Parent->childCount();
    for (int i = 0; i < Parent->childCount(); ++i) {
        if (QString::compare(Child->text(0), Parent->child(i)->text(0), Qt::CaseInsensitive) < 0) {
            at = i;
            break;
        }
    }
    Parent->insertChild(at, Child);
}

QTreeWidgetItem* NewTreeNode(const QString& Key, const QString& Text) {
    auto* node = new QTreeWidgetItem(QStringList{Text});
    if (!Key.isEmpty())
        node->setData(0, kIconRole, Key);
    return node;
}

// A wait pointer for the length of a command.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

// ---- Grid set-up and access -----------------------------------------------------

void frmWorkBench::SetupGrid() {
    grdTarget->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdTarget->setSelectionMode(QAbstractItemView::SingleSelection);
    grdTarget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTarget->verticalHeader()->setVisible(false);
    grdTarget->horizontalHeader()->setStretchLastSection(true);
    grdTarget->horizontalHeader()->setHighlightSections(false);
    grdTarget->setIconSize(QSize(16, 16));
    grdTarget->setShowGrid(true);
    if (grdTarget->columnCount() > 0)
        return;
    const struct {
        const char* key;
        const char* header;
        int width;
    } columns[] = {{"LINK", "Link", 40},
                   {"LOOKUP", "Look", 40},
                   {"FIELD", "Field", kTextColumnWidth},
                   {"MAP", "Map", kTextColumnWidth},
                   {"LOOKUPEXP", "LookupExp", 0}};
    grdTarget->setColumnCount(5);
    for (int c = 0; c < 5; ++c) {
        auto* header = new QTableWidgetItem(Tr(QString::fromLatin1(columns[c].header)));
        header->setData(Qt::UserRole, QString::fromLatin1(columns[c].key));
        grdTarget->setHorizontalHeaderItem(c, header);
        if (columns[c].width > 0)
            grdTarget->setColumnWidth(c, columns[c].width);
    }
}

int frmWorkBench::GridRows() const {
    return grdTarget->rowCount();
}

int frmWorkBench::SelectedGridRow() const {
    const QModelIndexList rows = grdTarget->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : rows.first().row() + 1;
}

void frmWorkBench::SelectGridRow(int Row) {
    if (Row < 1 || Row > grdTarget->rowCount()) {
        grdTarget->clearSelection();
        return;
    }
    grdTarget->selectRow(Row - 1);
}

QString frmWorkBench::GridText(int Row, int Column) const {
    const QTableWidgetItem* cell = grdTarget->item(Row - 1, Column);
    return cell ? cell->text() : QString();
}

int frmWorkBench::GridIcon(int Row, int Column) const {
    const QTableWidgetItem* cell = grdTarget->item(Row - 1, Column);
    return cell ? cell->data(kIconRole).toInt() : icoNone;
}

void frmWorkBench::SetGridIcon(int Row, int Column, int Icon) {
    QTableWidgetItem* cell = grdTarget->item(Row - 1, Column);
    if (!cell)
        return;
    cell->setData(kIconRole, Icon);
    cell->setIcon(Icon == icoNone ? QIcon() : GridImage(Icon));
}

void frmWorkBench::SetGridText(int Row, int Column, const QString& Text) {
    QTableWidgetItem* cell = grdTarget->item(Row - 1, Column);
    if (!cell)
        return;
    cell->setText(Text);
    // A value wider than its column reads whole under the pointer.
    cell->setToolTip(Text);
    if (grdTarget->updatesEnabled())
        FitGridColumns();
}

void frmWorkBench::FitGridColumns() {
    // Field and Map take what their values need (never less than their
    // first width, never more than about half the grid), LookupExp the rest.
    const QFontMetrics metrics = grdTarget->fontMetrics();
    const int padding = 16;
    const int limit = std::max({kTextColumnWidth, grdTarget->viewport()->width() / 2, metrics.averageCharWidth() * 48});
    for (const int column : {int(colField), int(colMap)}) {
        int wanted = kTextColumnWidth;
        if (const QTableWidgetItem* header = grdTarget->horizontalHeaderItem(column))
            wanted = std::max(wanted, metrics.horizontalAdvance(header->text()) + padding);
        for (int row = 0; row < grdTarget->rowCount(); ++row)
            if (const QTableWidgetItem* cell = grdTarget->item(row, column))
                wanted = std::max(wanted, metrics.horizontalAdvance(cell->text()) + padding);
        grdTarget->setColumnWidth(column, std::min(wanted, limit));
    }
}

void frmWorkBench::SortGridByColumn(int Column) {
    QTableWidgetItem* header = grdTarget->horizontalHeaderItem(Column);
    if (!header)
        return;
    const bool descending = header->data(kTagRole).toString() == QLatin1String("DESC");
    header->setData(kTagRole, descending ? QString() : QStringLiteral("DESC"));
    m_sortColumn = Column;
    m_sortDescending = descending;
    WaitCursor wait;
    SortGrid();
}

void frmWorkBench::SortGrid() {
    if (m_sortColumn < 0)
        return;
    grdTarget->sortItems(m_sortColumn, m_sortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

// ---- Tree access ---------------------------------------------------------------

QString frmWorkBench::TreeNodeKey(const QTreeWidgetItem* Node) {
    return Node ? Node->data(0, kIconRole).toString() : QString();
}

QString frmWorkBench::TreeFullPath(const QTreeWidgetItem* Node) {
    QString path;
    for (const QTreeWidgetItem* n = Node; n; n = n->parent())
        path = path.isNull() ? n->text(0) : n->text(0) + QLatin1Char('!') + path;
    return path;
}

QTreeWidgetItem* frmWorkBench::TreeNode(const QString& Key) const {
    if (Key.isEmpty())
        return nullptr;
    for (QTreeWidgetItemIterator it(treeSource); *it; ++it)
        if (TreeNodeKey(*it) == Key)
            return *it;
    return nullptr;
}

QTreeWidgetItem* frmWorkBench::AddTreeNode(const QString& ParentKey, const QString& Key, const QString& Text) {
    QTreeWidgetItem* parent = nullptr;
    if (!ParentKey.isEmpty()) {
        parent = TreeNode(ParentKey);
        if (!parent)
            return nullptr;
    }
    // Keys are unique in the tree, as the tree control demands.
    if (TreeNode(Key))
        return nullptr;
    QTreeWidgetItem* node = NewTreeNode(Key, Text);
    InsertSorted(treeSource, parent, node);
    return node;
}

void frmWorkBench::RemoveTreeNode(const QString& Key) {
    delete TreeNode(Key);
}

bool frmWorkBench::SelectTreeNode(const QString& Key) {
    QTreeWidgetItem* node = TreeNode(Key);
    if (!node)
        return false;
    treeSource->setCurrentItem(node);
    node->setSelected(true);
    return true;
}

// ---- Filling -------------------------------------------------------------------

void frmWorkBench::ShowSource(const cShapeRef& Step) {
    if (!Step)
        return;
    RemoveTreeNode(Step->Key);
    QTreeWidgetItem* root = NewTreeNode(Step->Key, Step->sCaption);
    treeSource->addTopLevelItem(root);
    tFieldsRef fields;
    if (const tData* data = Step->dataRecord())
        fields = data->fields;
    else if (const tStorage* storage = Step->storageRecord())
        fields = storage->fields;
    if (!fields)
        return;
    for (const tFields& field : *fields)
        InsertSorted(treeSource, root, NewTreeNode(QString(), field.f_name));
}

void frmWorkBench::ShowFormulas() {
    RemoveTreeNode(kFormulaRoot);
    QTreeWidgetItem* root = NewTreeNode(kFormulaRoot, kFormulaRoot);
    QFont bold = root->font(0);
    bold.setBold(true);
    root->setFont(0, bold);
    treeSource->addTopLevelItem(root);
    const cFormulas* formulas = Process()->Formulas();
    for (int i = 1; i <= formulas->Count(); ++i) {
        const tFormula* formula = formulas->Collection().item(i);
        InsertSorted(treeSource, root, NewTreeNode(QStringLiteral("FK") + formula->name, formula->name));
    }
}

void frmWorkBench::RefreshSourcePanel() {
    treeSource->clear();
    ShowFormulas();
    for (const cShapeRef& node : Process()->Shapes()->Collection())
        if (node->objType == aData || node->objType == aStorage)
            ShowSource(node);
}

cShapeRef frmWorkBench::TargetShape() const {
    const cShapeRef step = m_target.lock();
    if (!step || !m_process || m_process->Shapes()->itemByIndex(step->Index) != step)
        return nullptr;
    return step;
}

void frmWorkBench::ShowTarget(const cShapeRef& Step) {
    grdTarget->clearSelection();
    grdTarget->setRowCount(0);
    m_target = Step;
    const tStorage* storage = Step ? Step->storageRecord() : nullptr;
    if (!storage || !storage->fields)
        return;
    grdTarget->setUpdatesEnabled(false);
    for (const tFields& field : *storage->fields) {
        const int row = grdTarget->rowCount();
        grdTarget->insertRow(row);
        grdTarget->setRowHeight(row, 20);
        for (int c = colLink; c <= colLookupExp; ++c)
            grdTarget->setItem(row, c, new GridItem());
        grdTarget->item(row, colLink)->setData(kIconRole, icoNone);
        grdTarget->item(row, colLookup)->setData(kIconRole, icoNone);
        if (!field.f_value.isEmpty())
            SetGridIcon(row + 1, colLink, Prefix(field.f_value) == kFormulaRoot ? icoFormula : icoCheck2);
        if (!field.f_lookup.isEmpty())
            SetGridIcon(row + 1, colLookup, icoLookup);
        SetGridText(row + 1, colField, field.f_name);
        SetGridText(row + 1, colMap, field.f_value);
        SetGridText(row + 1, colLookupExp, field.f_lookup);
    }
    SortGrid();
    grdTarget->setUpdatesEnabled(true);
    FitGridColumns();
    grdTarget->setCurrentItem(nullptr);
    grdTarget->clearSelection();
    if (grdTarget->rowCount() > 1)
        SelectGridRow(1);
}

// ---- Mapping commands ------------------------------------------------------------

bool frmWorkBench::WriteFieldRecord(const QString& FieldName, const QString* Value, const QString* Lookup) {
    const cShapeRef step = TargetShape();
    tStorage* storage = step ? step->storageRecord() : nullptr;
    if (!storage || !storage->fields)
        return false;
    const tFields* present = storage->fields->item(FieldName);
    if (!present)
        return false;
    tFields changed = *present;
    if (Value)
        changed.f_value = *Value;
    if (Lookup)
        changed.f_lookup = *Lookup;
    // Written back at the end: the file lists the fields in this order.
    const QString key = storage->fields->KeyAt(storage->fields->Position(FieldName));
    storage->fields->Remove(FieldName);
    storage->fields->Add(changed, key.isEmpty() ? FieldName : key);
    return true;
}

QString frmWorkBench::ReferenceOf(const QTreeWidgetItem* Node) const {
    const QString path = TreeFullPath(Node);
    const QString before = Prefix(path);
    if (before == kFormulaRoot)
        return path;
    return before + QStringLiteral("(\"") + Suffix(path) + QStringLiteral("\")");
}

namespace {

// The tree node a mapping command takes: the selected node when its path
// names a field or a formula.
QTreeWidgetItem* MappableNode(QTreeWidget* Tree) {
    QTreeWidgetItem* node = Tree->currentItem();
    if (!node || !node->isSelected())
        return nullptr;
    if (!frmWorkBench::TreeFullPath(node).contains(QLatin1Char('!')))
        return nullptr;
    return node;
}

}  // namespace

void frmWorkBench::Link_Add() {
    if (RefuseWhileBusy())
        return;
    const int row = SelectedGridRow();
    if (row == 0 || GridText(row, colField).isEmpty())
        return;
    const QTreeWidgetItem* node = MappableNode(treeSource);
    if (!node)
        return;
    const QString reference = ReferenceOf(node);
    if (!WriteFieldRecord(GridText(row, colField), &reference, nullptr))
        return;
    SetGridIcon(row, colLink, Prefix(TreeFullPath(node)) == kFormulaRoot ? icoFormula : icoCheck2);
    SetGridText(row, colMap, reference);
    Modified();
}

void frmWorkBench::Link_Remove() {
    if (RefuseWhileBusy())
        return;
    const int row = SelectedGridRow();
    if (row == 0 || GridText(row, colMap).isEmpty())
        return;
    const QString empty;
    if (!WriteFieldRecord(GridText(row, colField), &empty, nullptr))
        return;
    SetGridText(row, colMap, QString());
    SetGridIcon(row, colLink, icoNone);
    Modified();
}

void frmWorkBench::Link_Lookup() {
    if (RefuseWhileBusy())
        return;
    const int row = SelectedGridRow();
    if (row == 0 || GridText(row, colField).isEmpty())
        return;
    const QTreeWidgetItem* node = MappableNode(treeSource);
    if (!node)
        return;
    const QString reference = ReferenceOf(node);
    if (!WriteFieldRecord(GridText(row, colField), nullptr, &reference))
        return;
    SetGridIcon(row, colLookup, icoLookup);
    SetGridText(row, colLookupExp, reference);
    Modified();
}

void frmWorkBench::Link_RemoveLookup() {
    if (RefuseWhileBusy())
        return;
    const int row = SelectedGridRow();
    if (row == 0 || GridText(row, colLookupExp).isEmpty())
        return;
    const QString empty;
    if (!WriteFieldRecord(GridText(row, colField), nullptr, &empty))
        return;
    SetGridText(row, colLookupExp, QString());
    SetGridIcon(row, colLookup, icoNone);
    Modified();
}

void frmWorkBench::Link_Formula() {
    EditFormulaFor(colMap);
}

void frmWorkBench::Link_LookupFormula() {
    EditFormulaFor(colLookupExp);
}

void frmWorkBench::EditFormulaFor(int Column) {
    if (RefuseWhileBusy())
        return;
    const int row = SelectedGridRow();
    if (row == 0)
        return;
    const QString mapping = GridText(row, Column);
    // A row mapped to a field is not a formula's to edit.
    if (!mapping.isEmpty() && Prefix(mapping) != kFormulaRoot)
        return;
    const QString name = Suffix(mapping);
    const tFormula* formula = name.isEmpty() ? nullptr : Process()->Formulas()->Collection().item(name);
    frmAddFormula::FormulaName = formula ? formula->name : QString();
    frmAddFormula::FormulaText = formula ? formula->formula : QString();
    const bool saved = frmAddFormula::ShowFormula(*this, formula ? 1 : 0);
    if (!saved)
        return;
    // The formula saved last stands at the end of the collection, both
    // when it was added and when it was replaced.
    const cFormulas* formulas = Process()->Formulas();
    const tFormula* savedFormula = formulas->Collection().item(formulas->Count());
    if (!savedFormula)
        return;
    const QString key = QStringLiteral("FK") + savedFormula->name;
    if (!TreeNode(key))
        AddTreeNode(kFormulaRoot, key, savedFormula->name);
    SelectTreeNode(key);
    if (Column == colMap)
        Link_Add();
    else
        Link_Lookup();
    Modified();
}

void frmWorkBench::Link_Clear() {
    if (RefuseWhileBusy())
        return;
    const int answer = Dialogs().MsgBox(this, Tr(QStringLiteral("Delete all Links, Are You Sure?")),
                                        MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbQuestion);
    if (answer != MsgBoxResult::vbYes)
        return;
    grdTarget->setUpdatesEnabled(false);
    WaitCursor wait;
    const QString empty;
    for (int row = 1; row <= GridRows(); ++row) {
        if (GridText(row, colMap).isEmpty())
            continue;
        if (!WriteFieldRecord(GridText(row, colField), &empty, &empty))
            continue;
        SetGridText(row, colLookupExp, QString());
        SetGridText(row, colMap, QString());
        SetGridIcon(row, colLink, icoNone);
        SetGridIcon(row, colLookup, icoNone);
        Modified();
    }
    grdTarget->setUpdatesEnabled(true);
}

void frmWorkBench::Link_Auto() {
    if (RefuseWhileBusy())
        return;
    const int answer = Dialogs().MsgBox(this, Tr(QStringLiteral("Ignore Existing Links?")),
                                        MsgBoxStyle::vbYesNoCancel | MsgBoxStyle::vbQuestion);
    // Cancel leaves every mapping as it is; only No keeps the existing links.
    if (answer != MsgBoxResult::vbYes && answer != MsgBoxResult::vbNo)
        return;
    const bool relink = answer == MsgBoxResult::vbYes;
    WaitCursor wait;
    // The field nodes of the steps, in the tree's order. Formula nodes are
    // not fields: a target field is never matched to a formula by its name.
    // Nor is it matched to itself: the target step is listed in the tree too,
    // and a field that takes its own value writes nothing useful.
    const cShapeRef target = TargetShape();
    const QString targetKey = target ? target->Key : QString();
    std::vector<const QTreeWidgetItem*> fieldNodes;
    for (QTreeWidgetItemIterator it(treeSource); *it; ++it) {
        const QString path = TreeFullPath(*it);
        if (!path.contains(QLatin1Char('!')) || Prefix(path) == kFormulaRoot)
            continue;
        const QTreeWidgetItem* root = *it;
        while (root->parent())
            root = root->parent();
        if (!targetKey.isEmpty() && TreeNodeKey(root) == targetKey)
            continue;
        fieldNodes.push_back(*it);
    }
    for (int row = 1; row <= GridRows(); ++row) {
        if (!GridText(row, colMap).isEmpty() && !relink)
            continue;
        const QString field = GridText(row, colField);
        for (const QTreeWidgetItem* node : fieldNodes) {
            if (Suffix(TreeFullPath(node)) != field)
                continue;
            const QString reference = ReferenceOf(node);
            if (!WriteFieldRecord(field, &reference, nullptr))
                continue;
            SetGridIcon(row, colLink, icoWand);
            SetGridText(row, colMap, reference);
            Modified();
        }
    }
}

void frmWorkBench::Del_Link_Formula() {
    if (RefuseWhileBusy())
        return;
    const QTreeWidgetItem* node = MappableNode(treeSource);
    if (!node)
        return;
    const QString path = TreeFullPath(node);
    if (Prefix(path) != kFormulaRoot) {
        Dialogs().MsgBox(this, Tr(QStringLiteral("Not a formula")), MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbExclamation,
                         Tr(QStringLiteral("Warning")));
        return;
    }
    const QString name = Suffix(path);
    if (Process()->isFormulaUsed(name)) {
        Dialogs().MsgBox(this, Tr(QStringLiteral("The formula is used, it can not be deleted.")),
                         MsgBoxStyle::vbOKOnly | MsgBoxStyle::vbInformation);
        return;
    }
    cFormulas* formulas = Process()->Formulas();
    for (int i = formulas->Count(); i >= 1; --i) {
        const tFormula* formula = formulas->Collection().item(i);
        if (formula && formula->name.compare(name, Qt::CaseInsensitive) == 0) {
            formulas->Collection().Remove(i);
            ShowFormulas();
        }
    }
    Modified();
}

// ---- Double clicks ---------------------------------------------------------------

void frmWorkBench::GridDoubleClicked() {
    const int row = SelectedGridRow();
    if (row > 0 && GridIcon(row, colLink) == icoFormula)
        Link_Formula();
}

void frmWorkBench::TreeDoubleClicked(QTreeWidgetItem* Node) {
    const QString path = TreeFullPath(Node);
    if (Prefix(path) != kFormulaRoot || Suffix(path).isEmpty())
        return;
    if (RefuseWhileBusy())
        return;
    const tFormula* formula = Process()->Formulas()->Collection().item(Suffix(path));
    frmAddFormula::FormulaName = formula ? formula->name : QString();
    frmAddFormula::FormulaText = formula ? formula->formula : QString();
    frmAddFormula::ShowFormula(*this, 1);
    Modified();
}
