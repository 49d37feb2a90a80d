#pragma once

// The flowchart canvas of a workbench window (`picFlow`). It draws what the
// engine tells its IDocumentView (node pictures and captions, link lines,
// end markers, strokes and captions, the two selection frames) and turns
// mouse and key actions into signals in the window's terms: twips, button
// numbers 1 left / 2 right / 4 middle, shift numbers 1 / 2 / 4 and the key
// codes 45 (Insert) and 27 (Escape). It never changes the document itself.

#include <QCursor>
#include <QGraphicsView>
#include <QLineF>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <map>
#include <memory>

class IDocumentView;
class QGraphicsEllipseItem;
class QGraphicsLineItem;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class QGraphicsScene;
class QGraphicsSimpleTextItem;

class FlowCanvas : public QGraphicsView {
    Q_OBJECT
public:
    static constexpr double TwipsPerPixel = 15.0;

    explicit FlowCanvas(QWidget* Parent = nullptr);
    ~FlowCanvas() override;

    // The window contract the engine draws through. Lives as long as the canvas.
    IDocumentView* DocumentView() const;

    // The picture of a node kind (1 to 10) and its placement cursor.
    static QPixmap NodePicture(int Kind);
    static QCursor PlacementCursor(int Kind);

    // Selection frames: `shpSelector` (Current) and `shpPrevious`.
    enum Frame { Current, Previous };
    void ShowFrame(Frame Which, const QRectF& Twips);
    void HideFrames();
    bool FrameVisible(Frame Which) const;
    QRectF FrameRect(Frame Which) const;

    // What is drawn, for the window and for tests (twips).
    bool HasNode(int N) const;
    bool NodeVisible(int N) const;
    QRectF NodeRect(int N) const;
    QString NodeCaption(int N) const;
    bool NodeCaptionVisible(int N) const;
    QPointF NodeCaptionPos(int N) const;
    bool HasLink(int N) const;
    bool LinkVisible(int N) const;
    QLineF LinkLine(int N) const;
    bool LinkEndVisible(int N) const;
    QString LinkCaption(int N) const;
    bool LinkCaptionVisible(int N) const;
    // The visible node whose picture holds a canvas point; 0 when none.
    int NodeAt(const QPointF& Twips) const;

    // Removes every drawn element (a new document follows).
    void Clear();

    // Canvas size in twips (the visible area).
    QSizeF VisibleSizeTwips() const;
    // The canvas point at the centre of the visible area.
    QPointF VisibleCentreTwips() const;
    // Screen position of a canvas point.
    QPoint GlobalPosOf(const QPointF& Twips) const;

    static QPointF ToTwips(const QPointF& Pixels) { return Pixels * TwipsPerPixel; }
    static QPointF ToPixels(const QPointF& Twips) { return Twips / TwipsPerPixel; }

signals:
    void canvasMouseDown(int Button, int Shift, QPointF Twips);
    // Positions inside the node's picture.
    void nodeMouseDown(int N, int Button, int Shift, QPointF Twips);
    void nodeMouseMove(int N, int Button, int Shift, QPointF Twips);
    void nodeMouseUp(int N, int Button, int Shift, QPointF Twips);
    void nodeClick(int N);
    void nodeDblClick(int N);
    void keyDown(int KeyCode, int Shift);

protected:
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    class View;
    friend class View;
    struct NodeItems {
        QGraphicsPixmapItem* picture = nullptr;
        QGraphicsSimpleTextItem* caption = nullptr;
    };
    struct LinkItems {
        QGraphicsLineItem* line = nullptr;
        QGraphicsEllipseItem* dot = nullptr;
        QGraphicsLineItem* up = nullptr;
        QGraphicsLineItem* down = nullptr;
        QGraphicsSimpleTextItem* caption = nullptr;
    };

    NodeItems& node(int N);
    LinkItems& link(int N);
    const NodeItems* findNode(int N) const;
    const LinkItems* findLink(int N) const;
    QPointF inNode(int N, const QPointF& ScenePixels) const;
    void growScene();
    qreal nextZ() { return ++m_z; }

    QGraphicsScene* m_scene;
    std::unique_ptr<View> m_view;
    std::map<int, NodeItems> m_nodes;
    std::map<int, LinkItems> m_links;
    QGraphicsRectItem* m_selector;
    QGraphicsRectItem* m_previous;
    int m_pressNode = 0;
    int m_pressButton = 0;
    bool m_afterDouble = false;
    qreal m_z = 10;
};
