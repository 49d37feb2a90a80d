#include "document/cShapes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "document/cLines.h"

namespace {

float safePosition(float v) {
    return std::isfinite(v) ? std::clamp(v, -MaxNodePosition, MaxNodePosition) : 0.0F;
}

}  // namespace

cShapes::cShapes(QObject* parent) : QObject(parent) {}
cShapes::~cShapes() = default;

void cShapes::setForm(IDocumentView* form) {
    m_form = form;
}

void cShapes::setLines(cLines* lines) {
    m_lines = lines;
}

cShapeRef cShapes::item(const QString& key) const {
    const cShapeRef* found = m_items.item(key);
    return found ? *found : nullptr;
}

cShapeRef cShapes::item(int position) const {
    const cShapeRef* found = m_items.item(position);
    return found ? *found : nullptr;
}

cShapeRef cShapes::itemByIndex(int index) const {
    for (const cShapeRef& node : m_items)
        if (node->Index == index)
            return node;
    return nullptr;
}

cShapeRef cShapes::AddShape(std::int16_t ShapeType, float X, float Y, const QString& sCaption) {
    if (m_counter == std::numeric_limits<std::int16_t>::max())
        return nullptr;
    X = safePosition(X);
    Y = safePosition(Y);
    auto node = std::make_shared<cShape>();
    const int n = ++m_counter;
    const QString key = QStringLiteral("k%1").arg(n);

    IDocumentView* view = m_form.data();
    if (view)
        view->createNode(n);
    node->objType = ShapeType;
    node->Index = static_cast<std::int16_t>(n);
    node->Key = key;
    node->Left = X;
    node->Top = Y;
    node->objElements = EmptyElementsFor(ShapeType);
    if (view) {
        node->hasPicture = true;
        view->moveNode(n, X, Y);
        if (ShapeType >= aStart && ShapeType <= aStop)
            view->setNodePicture(n, static_cast<shpType>(ShapeType));
        const QSizeF size = view->nodeSize(n);
        node->Width = static_cast<float>(size.width());
        node->Height = static_cast<float>(size.height());
    }
    node->sCaption = sCaption;
    if (view)
        view->setNodeVisible(n, true);
    PrevCtl = CurrCtl;
    CurrCtl = key;
    m_items.Add(node, key);
    if (!sCaption.isEmpty())
        AddCaptionToShape(key, sCaption);
    return node;
}

bool cShapes::AddCaptionToShape(const QString& skey, const QString& sCaption) {
    const cShapeRef node = item(skey);
    if (!node)
        return false;
    node->sCaption = sCaption;
    placeCaption(*node);
    return true;
}

void cShapes::placeCaption(const cShape& node) {
    IDocumentView* view = m_form.data();
    if (!view)
        return;
    const int i = node.Index;
    view->setNodeCaption(i, node.sCaption);
    // Centred under the picture, 5 twips below it; halves are rounded to
    // the nearest whole twip, ties to even.
    const double a = std::nearbyint(double(node.Left) + double(node.Width) / 2.0);
    const double b = std::nearbyint(view->nodeCaptionWidth(i) / 2.0);
    view->moveNodeCaption(i, a - b, double(node.Top) + double(node.Height) + 5.0);
    view->setNodeCaptionVisible(i, !node.sCaption.isEmpty());
}

bool cShapes::MoveShape(std::int16_t Index, float X, float Y) {
    const cShapeRef node = itemByIndex(Index);
    if (!node)
        return false;
    X = safePosition(X);
    Y = safePosition(Y);
    node->Left = X;
    node->Top = Y;
    if (IDocumentView* view = m_form.data()) {
        view->moveNode(Index, X, Y);
        placeCaption(*node);
    }
    return true;
}

bool cShapes::removeShape(std::int16_t Index) {
    const QString key = getKeyByIndex(Index);
    const cShapeRef node = item(key);
    if (!node)
        return false;
    // Refused before anything is touched, so the start and stop nodes keep
    // their links.
    if (node->objType == aStop || node->objType == aStart) {
        emit linkError(QStringLiteral("Cannot delete start or end object."));
        return false;
    }
    if (cLines* lines = m_lines.data()) {
        // Each neighbour once: DeleteLine removes both directions at a time.
        std::set<int> neighbours;
        for (const cLineRef& link : lines->Collection()) {
            const int from = link->sFrom.toInt();
            const int to = link->sTo.toInt();
            if (from == Index)
                neighbours.insert(to);
            if (to == Index)
                neighbours.insert(from);
        }
        for (int other : neighbours) {
            if (other > 0)
                lines->DeleteLine(Index, static_cast<std::int16_t>(other));
        }
    }
    if (IDocumentView* view = m_form.data()) {
        view->setNodeVisible(Index, false);
        view->setNodeCaptionVisible(Index, false);
    }
    m_items.Remove(key);
    if (PrevCtl.compare(key, Qt::CaseInsensitive) == 0)
        PrevCtl.clear();
    CurrCtl = PrevCtl;
    if (IDocumentView* view = m_form.data())
        view->hideSelectionFrames();
    return true;
}

bool cShapes::AddElementsToNode(const QString& Key, const NodeElements& Elements) {
    const cShapeRef node = item(Key);
    if (!node)
        return false;
    if (node->objType == aData) {
        const tData* present = node->dataRecord();
        const tData* next = std::get_if<tData>(&Elements);
        const QString before = present ? present->Source : QString();
        const QString after = next ? next->Source : QString();
        if (before != after)
            node->setQuery(QString());
    }
    node->objElements = Elements;
    return true;
}

std::int16_t cShapes::getIndexByKey(const QString& skey) const {
    if (skey.isEmpty())
        return -1;
    const cShapeRef node = item(skey);
    return node ? node->Index : std::int16_t(-1);
}

std::int16_t cShapes::getPosByKey(const QString& skey) const {
    std::int16_t pos = 0;
    for (const cShapeRef& node : m_items) {
        ++pos;
        if (node->Key == skey)
            return pos;
    }
    return 0;
}

QString cShapes::getKeyByIndex(std::int16_t indx) const {
    const cShapeRef node = itemByIndex(indx);
    return node ? node->Key : QString();
}
