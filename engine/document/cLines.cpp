#include "document/cLines.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "document/cShapes.h"

namespace {

// A link end as a node number; nothing when the text is not a whole number.
std::optional<int> endNumber(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

bool sameEnd(const QString& a, const QString& b) {
    const auto na = endNumber(a);
    const auto nb = endNumber(b);
    if (na && nb)
        return *na == *nb;
    return a == b;
}

// The routing keeps the classic constant rather than the full double value.
constexpr double Pi = 3.14159265359;

double ArcSin(double x) {
    if (x <= -1.0)
        return -Pi / 2.0;
    if (x >= 1.0)
        return Pi / 2.0;
    return std::atan(x / std::sqrt(1.0 - x * x));
}

double ArcCos(double x) {
    if (x <= -1.0)
        return Pi;
    if (x >= 1.0)
        return 0.0;
    return std::atan(-x / std::sqrt(1.0 - x * x)) + 2.0 * std::atan(1.0);
}

// Whole twips for comparing positions; far beyond any drawing range the
// value is held at a bound rather than converted out of range.
long long wholePart(double v) {
    constexpr double bound = 1.0e15;
    if (!(v == v))
        return 0;
    return static_cast<long long>(std::trunc(std::clamp(v, -bound, bound)));
}

}  // namespace

cLines::cLines(QObject* parent) : QObject(parent) {}
cLines::~cLines() = default;

void cLines::setForm(IDocumentView* form) {
    m_form = form;
}

void cLines::setShapes(cShapes* shapes) {
    m_shapes = shapes;
}

cLineRef cLines::item(int position) const {
    const cLineRef* found = m_items.item(position);
    return found ? *found : nullptr;
}

bool cLines::Remove(int position) {
    return m_items.Remove(position);
}

cLineRef cLines::addLine(const QString& sFrom, const QString& sTo, const QString& sCaption) {
    const auto from = endNumber(sFrom);
    const auto to = endNumber(sTo);
    bool valid = from && to && *from > 0 && *to > 0 && *from != *to;
    if (valid && m_shapes)
        valid = m_shapes->itemByIndex(*from) && m_shapes->itemByIndex(*to);
    if (!valid || m_counter == std::numeric_limits<std::int16_t>::max()) {
        emit linkError(QStringLiteral("Cannot make a link!!!!"));
        return nullptr;
    }
    auto link = std::make_shared<cLine>();
    link->sFrom = QString::number(*from);
    link->sTo = QString::number(*to);
    m_items.Add(link);
    const int n = ++m_counter;
    IDocumentView* view = m_form.data();
    if (view)
        view->createLink(n);
    link->LineIndex = static_cast<std::int16_t>(n);
    link->sCaption = sCaption;
    UpdateLine(*link);
    if (view) {
        view->setLinkLineVisible(n, true);
        view->raiseLinkCaption(n);
    }
    return link;
}

void cLines::UpdateLine(cLine& xLine) {
    if (!m_shapes)
        return;
    const auto fromIndex = endNumber(xLine.sFrom);
    const auto toIndex = endNumber(xLine.sTo);
    const cShapeRef from = fromIndex ? m_shapes->itemByIndex(*fromIndex) : nullptr;
    const cShapeRef to = toIndex ? m_shapes->itemByIndex(*toIndex) : nullptr;
    if (!from || !to)
        return;
    const float fl = from->Left, ft = from->Top, fw = from->Width, fh = from->Height;
    const float tl = to->Left, tt = to->Top, tw = to->Width, th = to->Height;

    // Leave the source node on the edge that faces the target ...
    float x1, y1;
    if (tl > fl + fw) {
        x1 = fl + fw;
        y1 = ft + fh / 2.0F;
    } else if (tt > ft + fh) {
        x1 = fl + fw / 2.0F;
        y1 = ft + fh;
    } else if (tl + tw < fl) {
        x1 = fl;
        y1 = ft + fh / 2.0F;
    } else {
        x1 = fl + fw / 2.0F;
        y1 = ft;
    }
    // ... and enter the target on the edge that faces the source.
    float x2, y2;
    if (fl > tl + tw) {
        x2 = tl + tw;
        y2 = tt + th / 2.0F;
    } else if (fl + fw < tl) {
        x2 = tl;
        y2 = tt + th / 2.0F;
    } else if (ft > tt + th) {
        x2 = tl + tw / 2.0F;
        y2 = tt + th;
    } else {
        x2 = tl + tw / 2.0F;
        y2 = tt;
    }

    IDocumentView* view = m_form.data();
    const int n = xLine.LineIndex;
    if (!xLine.labelCaption.isEmpty()) {
        const QSizeF size = view ? view->linkCaptionSize(n) : QSizeF();
        const float left = x1 + (x2 - x1) / 2.0F - float(size.width()) / 2.0F;
        const float top = y1 + (y2 - y1) / 2.0F - float(size.height()) / 2.0F;
        if (wholePart(xLine.labelTopLeft.x()) != wholePart(left) ||
            wholePart(xLine.labelTopLeft.y()) != wholePart(top)) {
            xLine.labelTopLeft = QPointF(left, top);
            if (view)
                view->moveLinkCaption(n, xLine.labelTopLeft);
        }
    }

    // Sub-twip moves redraw nothing.
    const QLineF& old = xLine.line;
    const bool changed = !xLine.drawn || wholePart(old.x1()) != wholePart(x1) ||
                         wholePart(old.y1()) != wholePart(y1) || wholePart(old.x2()) != wholePart(x2) ||
                         wholePart(old.y2()) != wholePart(y2);
    if (!changed)
        return;
    xLine.line = QLineF(x1, y1, x2, y2);
    xLine.drawn = true;
    if (view)
        view->setLinkLine(n, xLine.line);
    drawEnd(xLine);
}

QSizeF cLines::dotSize(int n) const {
    if (IDocumentView* view = m_form.data())
        return view->linkDotSize(n);
    return QSizeF(DefaultDotSize, DefaultDotSize);
}

void cLines::drawEnd(cLine& link) {
    const double x1 = link.line.x1(), y1 = link.line.y1();
    const double x2 = link.line.x2(), y2 = link.line.y2();
    const double dx = x1 - x2;
    const double dy = y1 - y2;
    const double len = std::sqrt(dx * dx + dy * dy);
    const double s = len == 0.0 ? 0.0 : dy / len;
    const double c = len == 0.0 ? 0.0 : dx / len;

    // The wings lie 0.5 rad either side of the direction back along the
    // line; arcsine and arccosine each cover half the circle, so the
    // quadrant decides which of them gives the wing's sine and cosine.
    const double as = ArcSin(s);
    const double ac = ArcCos(c);
    const double w = WingAngle;
    double sinA, sinB, cosA, cosB;
    if (c >= 0) {
        sinA = std::sin(as - w);
        sinB = std::sin(as + w);
    } else {
        sinA = std::sin(as + w);
        sinB = std::sin(as - w);
    }
    if (s >= 0) {
        cosA = std::cos(ac - w);
        cosB = std::cos(ac + w);
    } else {
        cosA = std::cos(ac + w);
        cosB = std::cos(ac - w);
    }

    const QSizeF size = dotSize(link.LineIndex);
    link.dotTopLeft = QPointF(x2 - size.width() / 2.0, y2 - size.height() / 2.0);
    const QPointF centre(link.dotTopLeft.x() + size.width() / 2.0, link.dotTopLeft.y() + size.height() / 2.0);
    link.arrUp = QLineF(centre, QPointF(x2 + StrokeLength * cosA, y2 + StrokeLength * sinA));
    link.arrDown = QLineF(centre, QPointF(x2 + StrokeLength * cosB, y2 + StrokeLength * sinB));
    if (IDocumentView* view = m_form.data())
        view->setLinkEnd(link.LineIndex, link.dotTopLeft, link.arrUp, link.arrDown);
}

void cLines::UpdateConntectedLines(const QString& shapeIndex) {
    for (const cLineRef& link : m_items)
        if (sameEnd(link->sTo, shapeIndex) || sameEnd(link->sFrom, shapeIndex))
            UpdateLine(*link);
}

void cLines::DeleteLine(std::int16_t xFrom, std::int16_t xTo) {
    if (xFrom <= 0 || xTo <= 0) {
        emit linkError(QStringLiteral("Cannot determine which arrow to delete."));
        return;
    }
    IDocumentView* view = m_form.data();
    for (int i = Count(); i >= 1; --i) {
        const cLineRef link = item(i);
        const auto from = endNumber(link->sFrom);
        const auto to = endNumber(link->sTo);
        if (!from || !to)
            continue;
        const bool matches = (*from == xFrom && *to == xTo) || (*from == xTo && *to == xFrom);
        if (!matches)
            continue;
        if (view) {
            view->setLinkLineVisible(link->LineIndex, false);
            view->hideLinkEnd(link->LineIndex);
            view->setLinkCaptionVisible(link->LineIndex, false);
        }
        link->sFrom.clear();
        link->sTo.clear();
        m_items.Remove(i);
    }
}

void cLines::AddCaptionToLine(const QString& sFrom, const QString& sTo) {
    IDocumentView* view = m_form.data();
    if (!view)
        return;
    // Copy first: the question may let the window change the collection.
    const std::vector<cLineRef> links = [this] {
        std::vector<cLineRef> all;
        for (const cLineRef& l : m_items)
            all.push_back(l);
        return all;
    }();
    for (const cLineRef& link : links) {
        const bool matches = (sameEnd(link->sFrom, sFrom) && sameEnd(link->sTo, sTo)) ||
                             (sameEnd(link->sFrom, sTo) && sameEnd(link->sTo, sFrom));
        if (!matches)
            continue;
        const std::optional<QString> answer =
            view->askText(QStringLiteral("Enter the caption:"), QStringLiteral("Add Caption To Line"));
        if (!m_form)
            return;
        if (!answer)
            continue;
        const int n = link->LineIndex;
        link->sCaption = *answer;
        link->labelCaption = *answer;
        view->setLinkCaption(n, *answer);
        view->setLinkCaptionVisible(n, !answer->isEmpty());
        const QSizeF size = view->linkCaptionSize(n);
        const QLineF& l = link->line;
        link->labelTopLeft = QPointF(l.x1() + (l.x2() - l.x1()) / 2.0 - size.width() / 2.0,
                                     l.y1() + (l.y2() - l.y1()) / 2.0 - size.height() / 2.0);
        view->moveLinkCaption(n, link->labelTopLeft);
    }
}
