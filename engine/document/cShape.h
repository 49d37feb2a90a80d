#pragma once

// One node of an integration: its kind, number, key, caption, step record
// and the geometry of its picture. The document keeps the geometry itself,
// so a document without a window can still be saved and its links routed.

#include <QString>

#include <cstdint>

#include "document/Records.h"

class cShape {
public:
    // Picture size of a node that has no window to measure it (a 32-pixel
    // icon at 15 twips per pixel).
    static constexpr float DefaultPictureSize = 480.0F;

    cShape() = default;
    cShape(const cShape&) = delete;
    cShape& operator=(const cShape&) = delete;

    std::int16_t objType = aNothing;  // shpType
    NodeElements objElements;         // step record (see Records.h)
    std::int16_t Index = 0;           // node number; link ends hold it as text
    QString Key;                      // "k" + Index
    QString sCaption;                 // caption; also the step's name in scripts

    // Node picture in twips.
    float Left = 0.0F;
    float Top = 0.0F;
    float Width = DefaultPictureSize;
    float Height = DefaultPictureSize;
    // True when the node's picture was created on a window.
    bool hasPicture = false;

    // Typed access to the step record; nullptr when the node carries another.
    tData* dataRecord() { return std::get_if<tData>(&objElements); }
    const tData* dataRecord() const { return std::get_if<tData>(&objElements); }
    tStorage* storageRecord() { return std::get_if<tStorage>(&objElements); }
    const tStorage* storageRecord() const { return std::get_if<tStorage>(&objElements); }
    tDecission* decisionRecord() { return std::get_if<tDecission>(&objElements); }
    const tDecission* decisionRecord() const { return std::get_if<tDecission>(&objElements); }

    // ---- Step data access -------------------------------------------------
    // The storage query of the step. Setting it drops what the step has
    // prepared for the previous query.
    void setQuery(const QString& strQuery);
    const QString& Query() const { return m_query; }

private:
    QString m_query;
};
