#include "app/Icons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <functional>

static void InitDesignerResources()
{
    // The images are compiled into the static designer library; its resource
    // initialiser must be referenced or the linker drops it.
    static const bool done = [] {
        Q_INIT_RESOURCE(designer);
        return true;
    }();
    (void)done;
}

namespace Icons {
namespace {

using Painter = std::function<void(QPainter&)>;

// Draws on a 24-unit square, at 24 and 48 pixels so it stays sharp.
QIcon Drawn(const Painter& Paint)
{
    QIcon icon;
    for (int size : {24, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 24.0, size / 24.0);
        Paint(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon Resource(const QString& Name)
{
    InitDesignerResources();
    const QString path = QStringLiteral(":/icons/%1.png").arg(Name);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QPen Outline(const QColor& Color)
{
    return QPen(Color.darker(170), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Cylinder(QPainter& P, const QRectF& R, const QColor& Color)
{
    const qreal cap = R.height() * 0.22;
    QPainterPath body;
    body.moveTo(R.left(), R.top() + cap / 2);
    body.lineTo(R.left(), R.bottom() - cap / 2);
    body.arcTo(QRectF(R.left(), R.bottom() - cap, R.width(), cap), 180, 180);
    body.lineTo(R.right(), R.top() + cap / 2);
    body.arcTo(QRectF(R.left(), R.top(), R.width(), cap), 0, -180);
    QLinearGradient shade(R.topLeft(), R.topRight());
    shade.setColorAt(0, Color.lighter(140));
    shade.setColorAt(1, Color.darker(115));
    P.setPen(Outline(Color));
    P.setBrush(shade);
    P.drawPath(body);
    P.setBrush(Color.lighter(160));
    P.drawEllipse(QRectF(R.left(), R.top(), R.width(), cap));
}

void Terminal(QPainter& P, const QColor& Color, bool Play)
{
    QLinearGradient shade(0, 6, 0, 18);
    shade.setColorAt(0, Color.lighter(150));
    shade.setColorAt(1, Color);
    P.setPen(Outline(Color));
    P.setBrush(shade);
    P.drawRoundedRect(QRectF(2, 6.5, 20, 11), 5.5, 5.5);
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::white);
    if (Play)
        P.drawPolygon(QPolygonF({QPointF(10, 9), QPointF(15, 12), QPointF(10, 15)}));
    else
        P.drawRect(QRectF(9.5, 9.5, 5, 5));
}

void Node(QPainter& P, const QRectF& R, const QColor& Color)
{
    P.setPen(Outline(Color));
    P.setBrush(Color.lighter(130));
    P.drawRoundedRect(R, 1.5, 1.5);
}

void Badge(QPainter& P, const QColor& Color, const std::function<void(QPainter&)>& Symbol)
{
    P.setPen(QPen(Qt::white, 1.2));
    P.setBrush(Color);
    P.drawEllipse(QRectF(12.5, 12.5, 11, 11));
    Symbol(P);
}

void PlusSymbol(QPainter& P)
{
    P.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(18, 15), QPointF(18, 21));
    P.drawLine(QPointF(15, 18), QPointF(21, 18));
}

void Server(QPainter& P)
{
    const QIcon server = Resource(QStringLiteral("network-server"));
    if (server.isNull())
        return;
    // The theme image may be smaller than asked for: scale the whole of it.
    const QPixmap image = server.pixmap(48, 48);
    P.drawPixmap(QRectF(0, 0, 20, 20), image, QRectF(image.rect()));
}

QIcon Draw(const QString& Key)
{
    if (Key == QLatin1String("DATANODE"))
        return Drawn([](QPainter& P) {
            const QColor c(0xF0, 0x9A, 0x2E);
            QLinearGradient shade(0, 5, 0, 19);
            shade.setColorAt(0, c.lighter(140));
            shade.setColorAt(1, c);
            P.setPen(Outline(c));
            P.setBrush(shade);
            P.drawPolygon(QPolygonF({QPointF(6, 5), QPointF(23, 5), QPointF(18, 19), QPointF(1, 19)}));
            P.setPen(QPen(c.darker(170), 1));
            for (qreal y : {9.5, 12.5, 15.5})
                P.drawLine(QPointF(7.5, y), QPointF(16.5, y));
        });
    if (Key == QLatin1String("STORAGENODE"))
        return Drawn([](QPainter& P) { Cylinder(P, QRectF(4, 2, 16, 20), QColor(0x3A, 0x7B, 0xD5)); });
    if (Key == QLatin1String("STARTNODE"))
        return Drawn([](QPainter& P) { Terminal(P, QColor(0x33, 0xA0, 0x4A), true); });
    if (Key == QLatin1String("ENDNODE"))
        return Drawn([](QPainter& P) { Terminal(P, QColor(0xCC, 0x33, 0x33), false); });
    if (Key == QLatin1String("LINKNODES") || Key == QLatin1String("UNLINKNODES")) {
        const bool unlink = Key == QLatin1String("UNLINKNODES");
        return Drawn([unlink](QPainter& P) {
            const QColor c(0x4A, 0x6F, 0xA5);
            Node(P, QRectF(1.5, 2.5, 9, 7), c);
            Node(P, QRectF(13.5, 14.5, 9, 7), c);
            P.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.4, unlink ? Qt::DashLine : Qt::SolidLine, Qt::RoundCap));
            P.setBrush(Qt::NoBrush);
            QPainterPath path;
            path.moveTo(6, 9.5);
            path.lineTo(6, 18);
            path.lineTo(11.5, 18);
            P.drawPath(path);
            P.setPen(Qt::NoPen);
            P.setBrush(QColor(0x30, 0x30, 0x30));
            P.drawPolygon(QPolygonF({QPointF(13.5, 18), QPointF(10.5, 16), QPointF(10.5, 20)}));
            if (unlink) {
                P.setPen(QPen(QColor(0xD0, 0x20, 0x20), 2.2, Qt::SolidLine, Qt::RoundCap));
                P.drawLine(QPointF(2.5, 12), QPointF(9.5, 19));
                P.drawLine(QPointF(9.5, 12), QPointF(2.5, 19));
            }
        });
    }
    if (Key == QLatin1String("RUNSERVICE"))
        return Drawn([](QPainter& P) {
            Server(P);
            Badge(P, QColor(0x2E, 0x9E, 0x44), [](QPainter& B) {
                B.setPen(Qt::NoPen);
                B.setBrush(Qt::white);
                B.drawPolygon(QPolygonF({QPointF(16.5, 15), QPointF(21, 18), QPointF(16.5, 21)}));
            });
        });
    if (Key == QLatin1String("STOPSERVICE"))
        return Drawn([](QPainter& P) {
            Server(P);
            Badge(P, QColor(0xC6, 0x28, 0x28), [](QPainter& B) {
                B.setPen(Qt::NoPen);
                B.setBrush(Qt::white);
                B.drawRect(QRectF(15.5, 15.5, 5, 5));
            });
        });
    if (Key == QLatin1String("RUN"))
        // A solid play sign: the theme's pale outline reads as a greyed-out button.
        return Drawn([](QPainter& P) {
            const QColor c(0x2E, 0x9E, 0x44);
            QLinearGradient shade(0, 3, 0, 21);
            shade.setColorAt(0, c.lighter(145));
            shade.setColorAt(1, c);
            P.setPen(QPen(c.darker(160), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            P.setBrush(shade);
            P.drawPolygon(QPolygonF({QPointF(6, 3), QPointF(20.5, 12), QPointF(6, 21)}));
        });
    if (Key == QLatin1String("CONNECTIONADD"))
        return Drawn([](QPainter& P) {
            Cylinder(P, QRectF(2, 2, 14, 18), QColor(0xE0, 0xB8, 0x30));
            Badge(P, QColor(0x2E, 0x9E, 0x44), PlusSymbol);
        });
    return QIcon();
}

}  // namespace

QIcon CommandIcon(const QString& Key)
{
    static const QHash<QString, QString> files = {
        {QStringLiteral("NEW"), QStringLiteral("document-new")},
        {QStringLiteral("OPEN"), QStringLiteral("document-open")},
        {QStringLiteral("CLOSE"), QStringLiteral("window-close")},
        {QStringLiteral("SAVE"), QStringLiteral("document-save")},
        {QStringLiteral("PRINT"), QStringLiteral("document-print")},
        {QStringLiteral("PRINTPREVIEW"), QStringLiteral("document-print-preview")},
        {QStringLiteral("CUT"), QStringLiteral("edit-cut")},
        {QStringLiteral("COPY"), QStringLiteral("edit-copy")},
        {QStringLiteral("PASTE"), QStringLiteral("edit-paste")},
        {QStringLiteral("TEST"), QStringLiteral("system-run")},
    };
    return files.contains(Key) ? Resource(files.value(Key)) : Draw(Key);
}

QIcon NavBarIcon(const QString& Key)
{
    static const QHash<QString, QString> files = {
        {QStringLiteral("Connection"), QStringLiteral("network-server")},
        {QStringLiteral("Integration"), QStringLiteral("x-office-document")},
        {QStringLiteral("ExecLog"), QStringLiteral("x-office-calendar")},
        {QStringLiteral("Help"), QStringLiteral("help-browser")},
    };
    return files.contains(Key) ? Resource(files.value(Key)) : QIcon();
}

QPixmap ProductArt(int Size)
{
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter P(&pixmap);
    P.setRenderHint(QPainter::Antialiasing);
    P.scale(Size / 64.0, Size / 64.0);
    QLinearGradient back(0, 0, 64, 64);
    back.setColorAt(0, QColor(0x2F, 0x5D, 0x9E));
    back.setColorAt(1, QColor(0x17, 0x33, 0x5C));
    P.setPen(Qt::NoPen);
    P.setBrush(back);
    P.drawRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
    // Source, flow and target, as an integration is drawn.
    P.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.setBrush(Qt::NoBrush);
    P.drawLine(QPointF(21, 24), QPointF(32, 34));
    P.drawLine(QPointF(43, 24), QPointF(32, 34));
    P.drawLine(QPointF(32, 38), QPointF(32, 44));
    P.setPen(QPen(Qt::white, 1.5));
    P.setBrush(QColor(0xF0, 0x9A, 0x2E));
    P.drawPolygon(QPolygonF({QPointF(12, 12), QPointF(30, 12), QPointF(26, 24), QPointF(8, 24)}));
    P.setBrush(QColor(0x33, 0xA0, 0x4A));
    P.drawPolygon(QPolygonF({QPointF(38, 12), QPointF(56, 12), QPointF(52, 24), QPointF(34, 24)}));
    P.setBrush(QColor(0xFF, 0xFF, 0xFF));
    P.drawEllipse(QPointF(32, 36), 4, 4);
    P.setBrush(QColor(0x5C, 0x9C, 0xF0));
    P.drawRoundedRect(QRectF(21, 44, 22, 12), 2, 2);
    P.setBrush(QColor(0xD8, 0xE8, 0xFF));
    P.drawEllipse(QRectF(21, 42, 22, 5));
    return pixmap;
}

}  // namespace Icons
