#pragma once

// One link of an integration and the drawing the document keeps for it.

#include <QLineF>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>

class cLine {
public:
    cLine() = default;
    cLine(const cLine&) = delete;
    cLine& operator=(const cLine&) = delete;

    QString sFrom;     // number of the node the link leaves, as text
    QString sTo;       // number of the node the link enters, as text
    QString sCaption;  // the link's caption

    // Element number of the link's drawing (its line, marker, strokes and
    // caption label); never reused within a document.
    std::int16_t LineIndex = 0;

    // Drawing, in twips. `drawn` is false until the line was first routed.
    bool drawn = false;
    QLineF line;
    QPointF dotTopLeft;
    QLineF arrUp;
    QLineF arrDown;
    // What the caption label shows; set only when a caption is asked for, so
    // a link read from a file keeps its caption with the label hidden.
    QString labelCaption;
    QPointF labelTopLeft;
};

using cLineRef = std::shared_ptr<cLine>;
