#pragma once

// The links of one integration, in order of addition (the execution walk
// follows the first link leaving each node), and the links' half of the
// drawing on the designer window.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "document/IDocumentView.h"
#include "document/cCollection.h"
#include "document/cLine.h"

class cShapes;

class cLines : public QObject {
    Q_OBJECT
public:
    // End marker size used when no window measures it.
    static constexpr float DefaultDotSize = 90.0F;
    static constexpr double StrokeLength = 150.0;
    static constexpr double WingAngle = 0.5;

    explicit cLines(QObject* parent = nullptr);
    ~cLines() override;

    std::int16_t MAX_LINE = 0;  // stored only

    void setForm(IDocumentView* form);
    IDocumentView* Form() const { return m_form.data(); }

    int Count() const { return m_items.Count(); }
    // Element numbers handed out so far (the next link gets one more).
    int LinkCounter() const { return m_counter; }
    // The link at a 1-based position; null outside 1..Count.
    cLineRef item(int position) const;
    const cCollection<cLineRef>& Collection() const { return m_items; }

    // Asks for a caption for every link between the two nodes (either
    // direction) and shows it. A cancelled question leaves that link as it
    // was. Needs a window to ask; without one nothing changes.
    void AddCaptionToLine(const QString& sFrom, const QString& sTo);
    // Adds and draws a link. Refused with linkError "Cannot make a link!!!!"
    // (null result) when an end names no node or both ends are the same node.
    cLineRef addLine(const QString& sFrom, const QString& sTo, const QString& sCaption);
    // Removes the link at a position from the collection only.
    bool Remove(int position);
    // Deletes every link between two nodes, in either direction.
    void DeleteLine(std::int16_t xFrom, std::int16_t xTo);
    // Re-routes every link of a node.
    void UpdateConntectedLines(const QString& shapeIndex);
    // Re-routes one link between the facing edges of its nodes.
    void UpdateLine(cLine& xLine);

    // The nodes of the same document, which the links are routed between.
    void setShapes(cShapes* shapes);

signals:
    void linkError(const QString& sError);

private:
    void drawEnd(cLine& link);
    QSizeF dotSize(int n) const;

    cCollection<cLineRef> m_items;
    std::int16_t m_counter = 0;
    QPointer<IDocumentView> m_form;
    QPointer<cShapes> m_shapes;
};
