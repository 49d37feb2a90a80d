#pragma once

// The designer window as the document sees it. The workbench implements it;
// the engine holds it through a guarded pointer, so a closed window simply
// stops receiving calls. Without a view every call is skipped and the
// document is built all the same.
//
// Elements are numbered like the nodes and links they draw (node n owns
// picture n and caption label n; link n owns line n, its end marker, its two
// arrow strokes and caption label n). Element 0 is never used. Created
// elements start hidden; the engine never destroys them, it hides them.
// Coordinates are twips.

#include <QLineF>
#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <optional>

#include "document/shpType.h"

class IDocumentView : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IDocumentView() override = default;

    // Nodes: picture (control array `shp`) and caption label (`lblShapeCap`).
    virtual void createNode(int n) = 0;
    // The picture of a node kind (`imgStart` ... `imgStop`), kinds 1 to 10.
    virtual void setNodePicture(int n, shpType kind) = 0;
    // Size of node picture n, read after its picture was set.
    virtual QSizeF nodeSize(int n) const = 0;
    virtual void moveNode(int n, double left, double top) = 0;
    virtual void setNodeVisible(int n, bool visible) = 0;
    virtual void setNodeCaption(int n, const QString& caption) = 0;
    // Width of caption label n for the caption it shows now.
    virtual double nodeCaptionWidth(int n) const = 0;
    virtual void moveNodeCaption(int n, double left, double top) = 0;
    virtual void setNodeCaptionVisible(int n, bool visible) = 0;
    // Hides both selection frames (`shpSelector`, `shpPrevious`).
    virtual void hideSelectionFrames() = 0;

    // Links: line (`ln`), end marker (`aDot`), strokes (`arrUp`, `arrDown`)
    // and caption label (`lblLineCap`).
    virtual void createLink(int n) = 0;
    virtual void setLinkLine(int n, const QLineF& line) = 0;
    virtual void setLinkLineVisible(int n, bool visible) = 0;
    virtual QSizeF linkDotSize(int n) const = 0;
    // Places the end of link n: the marker at dotTopLeft, shown; both
    // strokes set to the given lines and hidden; all three brought to front.
    virtual void setLinkEnd(int n, const QPointF& dotTopLeft, const QLineF& arrUp, const QLineF& arrDown) = 0;
    // Hides the marker and both strokes of link n.
    virtual void hideLinkEnd(int n) = 0;
    virtual void setLinkCaption(int n, const QString& caption) = 0;
    virtual void setLinkCaptionVisible(int n, bool visible) = 0;
    // Size of caption label n for the caption it shows now.
    virtual QSizeF linkCaptionSize(int n) const = 0;
    virtual void moveLinkCaption(int n, const QPointF& topLeft) = 0;
    virtual void raiseLinkCaption(int n) = 0;

    // Asks the user for a text; std::nullopt when the user cancels.
    virtual std::optional<QString> askText(const QString& prompt, const QString& title) = 0;
};
