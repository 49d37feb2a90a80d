#include "app/CNonClientMetrics.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <cmath>

CNonClientMetrics::CNonClientMetrics()
{
    Refresh();
}

CNonClientMetrics::CNonClientMetrics(const tNonClientMetrics& Record, double PixelsPerInch)
    : m_record(Record), m_pixelsPerInch(PixelsPerInch)
{
    m_record.cbSize = 340;
}

double CNonClientMetrics::ScreenPixelsPerInchY()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const double dpi = screen->logicalDotsPerInchY();
        if (dpi > 0)
            return dpi;
    }
    return 96.0;
}

double CNonClientMetrics::PixelsPerInch() const
{
    return m_pixelsPerInch > 0 ? m_pixelsPerInch : ScreenPixelsPerInchY();
}

float CNonClientMetrics::PointsFromHeight(int Height, double PixelsPerInch)
{
    if (PixelsPerInch <= 0)
        PixelsPerInch = 96.0;
    return static_cast<float>((-72.0 * Height) / PixelsPerInch);
}

QFont CNonClientMetrics::FontFromLogFont(const tLogFont& LogFont, double PixelsPerInch)
{
    QFont font;
    font.setBold(LogFont.lfWeight >= 700);
    // Qt keeps no character set per font; the face name decides the script.
    font.setItalic(LogFont.lfItalic != 0);
    QString face = LogFont.lfFaceName.left(32);
    const qsizetype nul = face.indexOf(QChar(0));
    if (nul >= 0)
        face.truncate(nul);
    face = face.trimmed();
    if (!face.isEmpty())
        font.setFamily(face);
    const float points = PointsFromHeight(LogFont.lfHeight, PixelsPerInch);
    if (points > 0)
        font.setPointSizeF(points);
    font.setStrikeOut(LogFont.lfStrikeOut != 0);
    font.setUnderline(LogFont.lfUnderline != 0);
    // Weight last, so the record's own weight wins over the bold flag; 0 means the default.
    if (LogFont.lfWeight > 0)
        font.setWeight(static_cast<QFont::Weight>(std::clamp(LogFont.lfWeight, 1, 1000)));
    return font;
}

tLogFont CNonClientMetrics::LogFontFromFont(const QFont& Font, double PixelsPerInch)
{
    tLogFont log;
    if (Font.pixelSize() > 0)
        log.lfHeight = -Font.pixelSize();
    else
        log.lfHeight = -static_cast<int>(std::lround(Font.pointSizeF() * PixelsPerInch / 72.0));
    log.lfWeight = static_cast<int>(Font.weight());
    log.lfItalic = Font.italic() ? 1 : 0;
    log.lfUnderline = Font.underline() ? 1 : 0;
    log.lfStrikeOut = Font.strikeOut() ? 1 : 0;
    log.lfFaceName = Font.family().left(31);
    return log;
}

void CNonClientMetrics::Refresh()
{
    // Without an application object the record keeps what it held.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    const double dpi = PixelsPerInch();
    const QStyle* style = QApplication::style();
    m_record.cbSize = 340;
    if (style) {
        m_record.iBorderWidth = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
        m_record.iScrollWidth = style->pixelMetric(QStyle::PM_ScrollBarExtent);
        m_record.iScrollHeight = m_record.iScrollWidth;
        m_record.iCaptionHeight = style->pixelMetric(QStyle::PM_TitleBarHeight);
        m_record.iCaptionWidth = m_record.iCaptionHeight;
        m_record.iSmCaptionHeight = m_record.iCaptionHeight;
        m_record.iSmCaptionWidth = m_record.iCaptionHeight;
        m_record.iMenuHeight = style->pixelMetric(QStyle::PM_MenuBarItemSpacing) + QFontMetrics(QApplication::font("QMenuBar")).height();
        m_record.iMenuWidth = m_record.iMenuHeight;
    }
    m_record.lfCaptionFont = LogFontFromFont(QFontDatabase::systemFont(QFontDatabase::TitleFont), dpi);
    m_record.lfSmCaptionFont = LogFontFromFont(QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont), dpi);
    m_record.lfMenuFont = LogFontFromFont(QApplication::font("QMenu"), dpi);
    m_record.lfStatusFont = LogFontFromFont(QApplication::font("QStatusBar"), dpi);
    m_record.lfMessageFont = LogFontFromFont(QApplication::font("QMessageBox"), dpi);
}

QFont CNonClientMetrics::MessageFont() const
{
    return FontFromLogFont(m_record.lfMessageFont, PixelsPerInch());
}
