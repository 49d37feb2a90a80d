#include "workbench/FlowCanvas.h"

#include <QFontMetricsF>
#include <QGraphicsEllipseItem>
#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include "app/UserDialogs.h"
#include "document/IDocumentView.h"

namespace {

const QColor kBack(Qt::white);
const QColor kInk(0x20, 0x30, 0x48);
// Above anything the canvas raises one after another (nextZ).
constexpr qreal kCaptionZ = 1.0e9;

// Caption labels: a text with an optional background that covers what lies
// behind it (link captions carry the canvas colour over their line).
class CaptionItem : public QGraphicsSimpleTextItem {
public:
    using QGraphicsSimpleTextItem::QGraphicsSimpleTextItem;
    QColor background;
    QRectF boundingRect() const override { return QGraphicsSimpleTextItem::boundingRect().adjusted(-1, 0, 1, 0); }
    void paint(QPainter* Painter, const QStyleOptionGraphicsItem* Option, QWidget* Widget) override {
        if (background.isValid())
            Painter->fillRect(boundingRect(), background);
        QGraphicsSimpleTextItem::paint(Painter, Option, Widget);
    }
};

int buttonNumber(Qt::MouseButton Button) {
    switch (Button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int buttonsNumber(Qt::MouseButtons Buttons) {
    int n = 0;
    if (Buttons & Qt::LeftButton)
        n |= 1;
    if (Buttons & Qt::RightButton)
        n |= 2;
    if (Buttons & Qt::MiddleButton)
        n |= 4;
    return n;
}

int shiftNumber(Qt::KeyboardModifiers Modifiers) {
    int n = 0;
    if (Modifiers & Qt::ShiftModifier)
        n |= 1;
    if (Modifiers & Qt::ControlModifier)
        n |= 2;
    if (Modifiers & Qt::AltModifier)
        n |= 4;
    return n;
}

QPixmap drawNode(int Kind) {
    const bool point = Kind == aPoint;
    const QSize size = point ? QSize(16, 16) : QSize(48, 32);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor fill;
    switch (Kind) {
    case aStart: fill = QColor(0xb8, 0xe0, 0xb0); break;
    case aStop: fill = QColor(0xf0, 0xb8, 0xb0); break;
    case aData: fill = QColor(0xb8, 0xd4, 0xf4); break;
    case aStorage: fill = QColor(0xf6, 0xdc, 0x9c); break;
    case aDecission: fill = QColor(0xe4, 0xc8, 0xf0); break;
    default: fill = QColor(0xe4, 0xe8, 0xee); break;
    }
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(fill);
    switch (Kind) {
    case aStart:
    case aStop:
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        break;
    case aDecission: {
        const QPointF poly[] = {{r.center().x(), r.top()}, {r.right(), r.center().y()},
                                {r.center().x(), r.bottom()}, {r.left(), r.center().y()}};
        p.drawPolygon(poly, 4);
        break;
    }
    case aStorage: {
        // A cylinder: the usual picture of a table.
        const qreal e = 7;
        QPainterPath body;
        body.moveTo(r.left(), r.top() + e / 2);
        body.lineTo(r.left(), r.bottom() - e / 2);
        body.arcTo(QRectF(r.left(), r.bottom() - e, r.width(), e), 180, 180);
        body.lineTo(r.right(), r.top() + e / 2);
        body.arcTo(QRectF(r.left(), r.top(), r.width(), e), 0, -180);
        p.drawPath(body);
        p.drawEllipse(QRectF(r.left(), r.top(), r.width(), e));
        break;
    }
    case aData: {
        const qreal s = 8;
        const QPointF poly[] = {{r.left() + s, r.top()}, {r.right(), r.top()}, {r.right() - s, r.bottom()},
                                {r.left(), r.bottom()}};
        p.drawPolygon(poly, 4);
        break;
    }
    case aDocument: {
        QPainterPath path;
        path.moveTo(r.topLeft());
        path.lineTo(r.topRight());
        path.lineTo(r.right(), r.bottom() - 5);
        path.cubicTo(r.right() - r.width() / 4, r.bottom() - 12, r.left() + r.width() / 4, r.bottom() + 4,
                     r.left(), r.bottom() - 4);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case aProcessPredef:
        p.drawRect(r);
        p.drawLine(QPointF(r.left() + 6, r.top()), QPointF(r.left() + 6, r.bottom()));
        p.drawLine(QPointF(r.right() - 6, r.top()), QPointF(r.right() - 6, r.bottom()));
        break;
    case aWindow:
        p.drawRect(r);
        p.setBrush(kInk);
        p.drawRect(QRectF(r.left(), r.top(), r.width(), 6));
        break;
    case aPoint:
        p.drawEllipse(r);
        break;
    default:  // process
        p.drawRect(r);
        break;
    }
    return pixmap;
}

}  // namespace

// ---- The engine's view of the canvas --------------------------------------

class FlowCanvas::View : public IDocumentView {
public:
    explicit View(FlowCanvas& Canvas) : m_canvas(Canvas) {}

    void createNode(int n) override { m_canvas.node(n); }
    void setNodePicture(int n, shpType kind) override {
        m_canvas.node(n).picture->setPixmap(NodePicture(kind));
        m_canvas.growScene();
    }
    QSizeF nodeSize(int n) const override {
        const NodeItems* items = m_canvas.findNode(n);
        if (!items || items->picture->pixmap().isNull())
            return {480.0, 480.0};
        return QSizeF(items->picture->pixmap().size()) * TwipsPerPixel;
    }
    void moveNode(int n, double left, double top) override {
        m_canvas.node(n).picture->setPos(ToPixels({left, top}));
        m_canvas.growScene();
    }
    void setNodeVisible(int n, bool visible) override { m_canvas.node(n).picture->setVisible(visible); }
    void setNodeCaption(int n, const QString& caption) override { m_canvas.node(n).caption->setText(caption); }
    double nodeCaptionWidth(int n) const override {
        const NodeItems* items = m_canvas.findNode(n);
        return items ? items->caption->boundingRect().width() * TwipsPerPixel : 0.0;
    }
    void moveNodeCaption(int n, double left, double top) override {
        m_canvas.node(n).caption->setPos(ToPixels({left, top}));
    }
    void setNodeCaptionVisible(int n, bool visible) override { m_canvas.node(n).caption->setVisible(visible); }
    void hideSelectionFrames() override { m_canvas.HideFrames(); }

    void createLink(int n) override { m_canvas.link(n); }
    void setLinkLine(int n, const QLineF& line) override {
        m_canvas.link(n).line->setLine(QLineF(ToPixels(line.p1()), ToPixels(line.p2())));
    }
    void setLinkLineVisible(int n, bool visible) override { m_canvas.link(n).line->setVisible(visible); }
    QSizeF linkDotSize(int n) const override {
        const LinkItems* items = m_canvas.findLink(n);
        return items ? items->dot->rect().size() * TwipsPerPixel : QSizeF(90.0, 90.0);
    }
    void setLinkEnd(int n, const QPointF& dotTopLeft, const QLineF& arrUp, const QLineF& arrDown) override {
        LinkItems& items = m_canvas.link(n);
        items.dot->setPos(ToPixels(dotTopLeft));
        items.dot->setVisible(true);
        items.up->setLine(QLineF(ToPixels(arrUp.p1()), ToPixels(arrUp.p2())));
        items.down->setLine(QLineF(ToPixels(arrDown.p1()), ToPixels(arrDown.p2())));
        // The two strokes make the arrow end that shows the link's direction.
        items.up->setVisible(true);
        items.down->setVisible(true);
        const qreal z = m_canvas.nextZ();
        items.dot->setZValue(z);
        items.up->setZValue(z);
        items.down->setZValue(z);
    }
    void hideLinkEnd(int n) override {
        LinkItems& items = m_canvas.link(n);
        items.dot->setVisible(false);
        items.up->setVisible(false);
        items.down->setVisible(false);
    }
    void setLinkCaption(int n, const QString& caption) override { m_canvas.link(n).caption->setText(caption); }
    void setLinkCaptionVisible(int n, bool visible) override { m_canvas.link(n).caption->setVisible(visible); }
    QSizeF linkCaptionSize(int n) const override {
        const LinkItems* items = m_canvas.findLink(n);
        return items ? items->caption->boundingRect().size() * TwipsPerPixel : QSizeF();
    }
    void moveLinkCaption(int n, const QPointF& topLeft) override {
        m_canvas.link(n).caption->setPos(ToPixels(topLeft));
    }
    void raiseLinkCaption(int n) override { m_canvas.link(n).caption->setZValue(m_canvas.nextZ()); }

    std::optional<QString> askText(const QString& prompt, const QString& title) override {
        return Dialogs().InputBox(m_canvas.window(), prompt, title);
    }

private:
    FlowCanvas& m_canvas;
};

// ---- Canvas ---------------------------------------------------------------

FlowCanvas::FlowCanvas(QWidget* Parent)
    : QGraphicsView(Parent), m_scene(new QGraphicsScene(this)), m_view(std::make_unique<View>(*this)) {
    setObjectName(QStringLiteral("picFlow"));
    setScene(m_scene);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setBackgroundBrush(kBack);
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
    setDragMode(QGraphicsView::NoDrag);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    m_scene->setSceneRect(0, 0, 400, 300);

    const auto frame = [this](const char* Name, const QColor& Colour) {
        auto* item = m_scene->addRect(QRectF(), QPen(Colour, 1, Qt::DashLine), Qt::NoBrush);
        item->setData(0, QString::fromLatin1(Name));
        item->setVisible(false);
        return item;
    };
    m_selector = frame("shpSelector", QColor(0x10, 0x60, 0xd0));
    m_previous = frame("shpPrevious", QColor(0x90, 0x90, 0x90));
}

FlowCanvas::~FlowCanvas() = default;

IDocumentView* FlowCanvas::DocumentView() const {
    return m_view.get();
}

QPixmap FlowCanvas::NodePicture(int Kind) {
    static std::map<int, QPixmap> cache;
    auto it = cache.find(Kind);
    if (it == cache.end())
        it = cache.emplace(Kind, drawNode(Kind)).first;
    return it->second;
}

QCursor FlowCanvas::PlacementCursor(int Kind) {
    // The node's picture under an arrow's tip, hot spot at the top left.
    const QPixmap picture = NodePicture(Kind);
    QPixmap cursor(picture.width() + 8, picture.height() + 8);
    cursor.fill(Qt::transparent);
    QPainter p(&cursor);
    p.setOpacity(0.75);
    p.drawPixmap(8, 8, picture);
    p.setOpacity(1.0);
    p.setPen(QPen(kInk, 1.5));
    p.drawLine(0, 0, 7, 0);
    p.drawLine(0, 0, 0, 7);
    return QCursor(cursor, 0, 0);
}

FlowCanvas::NodeItems& FlowCanvas::node(int N) {
    auto it = m_nodes.find(N);
    if (it != m_nodes.end())
        return it->second;
    NodeItems items;
    items.picture = m_scene->addPixmap(QPixmap());
    items.picture->setData(0, QStringLiteral("shp"));
    items.picture->setData(1, N);
    items.picture->setZValue(5);
    items.picture->setVisible(false);
    items.picture->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    auto* caption = new CaptionItem();
    caption->setData(0, QStringLiteral("lblShapeCap"));
    caption->setData(1, N);
    caption->setBrush(kInk);
    // Node captions lie above every link, arrow end and frame, on the
    // canvas colour: a link routed past a node never runs through its name.
    caption->background = kBack;
    caption->setZValue(kCaptionZ);
    caption->setVisible(false);
    m_scene->addItem(caption);
    items.caption = caption;
    return m_nodes.emplace(N, items).first->second;
}

FlowCanvas::LinkItems& FlowCanvas::link(int N) {
    auto it = m_links.find(N);
    if (it != m_links.end())
        return it->second;
    const QPen pen(kInk, 1.2);
    LinkItems items;
    items.line = m_scene->addLine(QLineF(), pen);
    items.line->setData(0, QStringLiteral("ln"));
    items.line->setZValue(1);
    items.dot = m_scene->addEllipse(QRectF(0, 0, 6, 6), pen, kInk);
    items.dot->setData(0, QStringLiteral("aDot"));
    items.up = m_scene->addLine(QLineF(), pen);
    items.up->setData(0, QStringLiteral("arrUp"));
    items.down = m_scene->addLine(QLineF(), pen);
    items.down->setData(0, QStringLiteral("arrDown"));
    auto* caption = new CaptionItem();
    caption->setData(0, QStringLiteral("lblLineCap"));
    caption->background = kBack;
    caption->setBrush(kInk);
    m_scene->addItem(caption);
    items.caption = caption;
    for (QGraphicsItem* item : {static_cast<QGraphicsItem*>(items.line), static_cast<QGraphicsItem*>(items.dot),
                                static_cast<QGraphicsItem*>(items.up), static_cast<QGraphicsItem*>(items.down),
                                static_cast<QGraphicsItem*>(items.caption)}) {
        item->setData(1, N);
        item->setVisible(false);
    }
    return m_links.emplace(N, items).first->second;
}

const FlowCanvas::NodeItems* FlowCanvas::findNode(int N) const {
    const auto it = m_nodes.find(N);
    return it == m_nodes.end() ? nullptr : &it->second;
}

const FlowCanvas::LinkItems* FlowCanvas::findLink(int N) const {
    const auto it = m_links.find(N);
    return it == m_links.end() ? nullptr : &it->second;
}

void FlowCanvas::ShowFrame(Frame Which, const QRectF& Twips) {
    QGraphicsRectItem* frame = Which == Current ? m_selector : m_previous;
    frame->setRect(QRectF(ToPixels(Twips.topLeft()), ToPixels(Twips.bottomRight())));
    frame->setVisible(true);
    frame->setZValue(nextZ());
}

void FlowCanvas::HideFrames() {
    m_selector->setVisible(false);
    m_previous->setVisible(false);
}

bool FlowCanvas::FrameVisible(Frame Which) const {
    return (Which == Current ? m_selector : m_previous)->isVisible();
}

QRectF FlowCanvas::FrameRect(Frame Which) const {
    const QRectF r = (Which == Current ? m_selector : m_previous)->rect();
    return QRectF(ToTwips(r.topLeft()), ToTwips(r.bottomRight()));
}

bool FlowCanvas::HasNode(int N) const {
    return findNode(N) != nullptr;
}

bool FlowCanvas::NodeVisible(int N) const {
    const NodeItems* items = findNode(N);
    return items && items->picture->isVisible();
}

QRectF FlowCanvas::NodeRect(int N) const {
    const NodeItems* items = findNode(N);
    if (!items)
        return {};
    const QRectF r = items->picture->sceneBoundingRect();
    return QRectF(ToTwips(r.topLeft()), ToTwips(r.bottomRight()));
}

QString FlowCanvas::NodeCaption(int N) const {
    const NodeItems* items = findNode(N);
    return items ? items->caption->text() : QString();
}

bool FlowCanvas::NodeCaptionVisible(int N) const {
    const NodeItems* items = findNode(N);
    return items && items->caption->isVisible();
}

QPointF FlowCanvas::NodeCaptionPos(int N) const {
    const NodeItems* items = findNode(N);
    return items ? ToTwips(items->caption->pos()) : QPointF();
}

bool FlowCanvas::HasLink(int N) const {
    return findLink(N) != nullptr;
}

bool FlowCanvas::LinkVisible(int N) const {
    const LinkItems* items = findLink(N);
    return items && items->line->isVisible();
}

QLineF FlowCanvas::LinkLine(int N) const {
    const LinkItems* items = findLink(N);
    if (!items)
        return {};
    const QLineF l = items->line->line();
    return QLineF(ToTwips(l.p1()), ToTwips(l.p2()));
}

bool FlowCanvas::LinkEndVisible(int N) const {
    const LinkItems* items = findLink(N);
    return items && items->dot->isVisible() && items->up->isVisible() && items->down->isVisible();
}

QString FlowCanvas::LinkCaption(int N) const {
    const LinkItems* items = findLink(N);
    return items ? items->caption->text() : QString();
}

bool FlowCanvas::LinkCaptionVisible(int N) const {
    const LinkItems* items = findLink(N);
    return items && items->caption->isVisible();
}

int FlowCanvas::NodeAt(const QPointF& Twips) const {
    const QPointF p = ToPixels(Twips);
    // Topmost first.
    for (QGraphicsItem* item : m_scene->items(p, Qt::IntersectsItemShape, Qt::DescendingOrder)) {
        if (item->isVisible() && item->data(0).toString() == QLatin1String("shp"))
            return item->data(1).toInt();
    }
    return 0;
}

void FlowCanvas::Clear() {
    for (auto& [n, items] : m_nodes) {
        delete items.picture;
        delete items.caption;
    }
    for (auto& [n, items] : m_links) {
        delete items.line;
        delete items.dot;
        delete items.up;
        delete items.down;
        delete items.caption;
    }
    m_nodes.clear();
    m_links.clear();
    HideFrames();
    m_pressNode = 0;
    growScene();
}

QSizeF FlowCanvas::VisibleSizeTwips() const {
    return QSizeF(viewport()->size()) * TwipsPerPixel;
}

QPointF FlowCanvas::VisibleCentreTwips() const {
    return ToTwips(mapToScene(viewport()->rect().center()));
}

QPoint FlowCanvas::GlobalPosOf(const QPointF& Twips) const {
    return viewport()->mapToGlobal(mapFromScene(ToPixels(Twips)));
}

void FlowCanvas::growScene() {
    // The canvas covers the visible area and every node, with room to spare
    // beyond the furthest node so that nodes can be dragged further out.
    QRectF bounds(QPointF(0, 0), QSizeF(viewport()->size()));
    for (const auto& [n, items] : m_nodes)
        if (items.picture->isVisible() || !items.picture->pixmap().isNull())
            bounds |= items.picture->sceneBoundingRect().adjusted(0, 0, 80, 60);
    bounds.setTopLeft(QPointF(qMin<qreal>(0, bounds.left()), qMin<qreal>(0, bounds.top())));
    if (bounds != m_scene->sceneRect())
        m_scene->setSceneRect(bounds);
}

void FlowCanvas::resizeEvent(QResizeEvent* Event) {
    QGraphicsView::resizeEvent(Event);
    growScene();
}

QPointF FlowCanvas::inNode(int N, const QPointF& ScenePixels) const {
    const NodeItems* items = findNode(N);
    const QPointF origin = items ? items->picture->pos() : QPointF();
    return ToTwips(ScenePixels - origin);
}

void FlowCanvas::mousePressEvent(QMouseEvent* Event) {
    const QPointF scenePos = mapToScene(Event->position().toPoint());
    const int button = buttonNumber(Event->button());
    const int shift = shiftNumber(Event->modifiers());
    setFocus(Qt::MouseFocusReason);
    const int n = NodeAt(ToTwips(scenePos));
    m_afterDouble = false;
    if (n > 0) {
        m_pressNode = n;
        m_pressButton = button;
        emit nodeMouseDown(n, button, shift, inNode(n, scenePos));
    } else {
        m_pressNode = 0;
        emit canvasMouseDown(button, shift, ToTwips(scenePos));
    }
    Event->accept();
}

void FlowCanvas::mouseMoveEvent(QMouseEvent* Event) {
    if (m_pressNode > 0 && (Event->buttons() & Qt::LeftButton)) {
        const QPointF scenePos = mapToScene(Event->position().toPoint());
        emit nodeMouseMove(m_pressNode, buttonsNumber(Event->buttons()), shiftNumber(Event->modifiers()),
                           inNode(m_pressNode, scenePos));
        growScene();
    }
    Event->accept();
}

void FlowCanvas::mouseReleaseEvent(QMouseEvent* Event) {
    const int n = m_pressNode;
    if (n > 0) {
        const QPointF scenePos = mapToScene(Event->position().toPoint());
        const int button = buttonNumber(Event->button());
        emit nodeMouseUp(n, button, shiftNumber(Event->modifiers()), inNode(n, scenePos));
        // A click follows the release of a left press, as for any control;
        // the second release of a double click is not a click.
        if (button == 1 && !m_afterDouble && m_pressButton == 1)
            emit nodeClick(n);
    }
    m_pressNode = 0;
    m_afterDouble = false;
    Event->accept();
}

void FlowCanvas::mouseDoubleClickEvent(QMouseEvent* Event) {
    const QPointF scenePos = mapToScene(Event->position().toPoint());
    const int n = NodeAt(ToTwips(scenePos));
    if (n > 0 && Event->button() == Qt::LeftButton) {
        m_pressNode = n;
        m_pressButton = 1;
        m_afterDouble = true;
        emit nodeDblClick(n);
    } else {
        // Any other second press counts as a plain press.
        mousePressEvent(Event);
    }
    Event->accept();
}

void FlowCanvas::keyPressEvent(QKeyEvent* Event) {
    int code = Event->key();
    if (code == Qt::Key_Insert)
        code = 45;
    else if (code == Qt::Key_Escape)
        code = 27;
    emit keyDown(code, shiftNumber(Event->modifiers()));
    QGraphicsView::keyPressEvent(Event);
}
