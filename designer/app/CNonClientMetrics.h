#pragma once

// The desktop's non-client metrics: window border width and the fonts of
// captions, menus, status bars and message boxes. The record keeps the
// shape of the system's own metrics record (font heights in negative pixels,
// weights 100..900) and is read from the running Qt platform theme.

#include <QFont>
#include <QString>

struct tLogFont {
    int lfHeight = 0;  // negative: character height in pixels
    int lfWeight = 0;  // 0 = default, 400 normal, 700 bold
    int lfItalic = 0;
    int lfUnderline = 0;
    int lfStrikeOut = 0;
    int lfCharSet = 0;
    QString lfFaceName;  // 32 characters at most, may carry padding or a NUL
};

struct tNonClientMetrics {
    int cbSize = 340;
    int iBorderWidth = 0;
    int iScrollWidth = 0;
    int iScrollHeight = 0;
    int iCaptionWidth = 0;
    int iCaptionHeight = 0;
    tLogFont lfCaptionFont;
    int iSmCaptionWidth = 0;
    int iSmCaptionHeight = 0;
    tLogFont lfSmCaptionFont;
    int iMenuWidth = 0;
    int iMenuHeight = 0;
    tLogFont lfMenuFont;
    tLogFont lfStatusFont;
    tLogFont lfMessageFont;
};

class CNonClientMetrics {
public:
    // Reads the metrics at once.
    CNonClientMetrics();
    // Starts from a given record (tests, or a caller that read it elsewhere).
    explicit CNonClientMetrics(const tNonClientMetrics& Record, double PixelsPerInch = 0);

    // Reads the current metrics into the record.
    void Refresh();

    int BorderWidth() const { return m_record.iBorderWidth; }
    // A new font built from the message font of the record, each time.
    QFont MessageFont() const;

    const tNonClientMetrics& Record() const { return m_record; }

    // Points for a font height: -72 * Height / pixels per inch, unrounded.
    static float PointsFromHeight(int Height, double PixelsPerInch);
    static QFont FontFromLogFont(const tLogFont& LogFont, double PixelsPerInch);
    static tLogFont LogFontFromFont(const QFont& Font, double PixelsPerInch);
    // The screen's vertical logical pixels per inch (96 without a screen).
    static double ScreenPixelsPerInchY();

private:
    double PixelsPerInch() const;

    tNonClientMetrics m_record;
    double m_pixelsPerInch = 0;  // 0: ask the screen for every font
};
