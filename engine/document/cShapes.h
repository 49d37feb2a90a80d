#pragma once

// The nodes of one integration, keyed "k" + node number in order of addition,
// and the nodes' half of the drawing on the designer window.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "document/IDocumentView.h"
#include "document/Records.h"
#include "document/cCollection.h"
#include "document/cShape.h"

class cLines;

using cShapeRef = std::shared_ptr<cShape>;

// Node positions (twips) stay within this range, so that link routing and
// drawing arithmetic stay far inside the range of whole numbers.
inline constexpr float MaxNodePosition = 1.0e9F;

class cShapes : public QObject {
    Q_OBJECT
public:
    explicit cShapes(QObject* parent = nullptr);
    ~cShapes() override;

    std::int16_t MAX_SHAPE = 0;  // stored only

    void setForm(IDocumentView* form);
    IDocumentView* Form() const { return m_form.data(); }

    QString CurrCtl;
    QString PrevCtl;

    const cCollection<cShapeRef>& Collection() const { return m_items; }
    int Count() const { return m_items.Count(); }
    // The node under a key (any letter case) or at a 1-based position; null when absent.
    cShapeRef item(const QString& key) const;
    cShapeRef item(int position) const;
    // The node with a given number; null when absent.
    cShapeRef itemByIndex(int index) const;
    // Numbers handed out so far (the next node gets one more).
    int NodeCounter() const { return m_counter; }

    // Sets and places a node's caption; false when no node has that key.
    bool AddCaptionToShape(const QString& skey, const QString& sCaption);
    // Adds a node and draws it; null when the 16-bit node numbers are used up.
    cShapeRef AddShape(std::int16_t ShapeType, float X, float Y, const QString& sCaption = QString());
    // Removes a node with its links. Refuses (linkError, false, nothing
    // touched) the start and stop nodes; false when no node has that number.
    bool removeShape(std::int16_t Index);
    // Replaces a node's step record; false when no node has that key.
    bool AddElementsToNode(const QString& Key, const NodeElements& Elements);
    // Node number of a key; -1 for an empty or unknown key.
    std::int16_t getIndexByKey(const QString& skey) const;
    // 1-based position of a key in collection order; 0 when absent.
    std::int16_t getPosByKey(const QString& skey) const;
    // Key of the node with that number; empty when none.
    QString getKeyByIndex(std::int16_t indx) const;

    // Moves a node's picture (the designer's drag) and keeps its caption
    // centred below it; the caller re-routes its links with
    // cLines::UpdateConntectedLines. False when no node has that number.
    bool MoveShape(std::int16_t Index, float X, float Y);

    // The links of the same document, whose links removeShape deletes.
    void setLines(cLines* lines);

signals:
    void linkError(const QString& sError);

private:
    void placeCaption(const cShape& node);

    cCollection<cShapeRef> m_items;
    std::int16_t m_counter = 0;
    QPointer<IDocumentView> m_form;
    QPointer<cLines> m_lines;
};
