#pragma once

// A small information window about the product; any key or a mouse press
// on its background closes it.

#include <QWidget>

class QFrame;
class QLabel;

class frmAbout : public QWidget {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* Parent = nullptr);

    QLabel* lblTitle() const { return m_lblTitle; }
    QLabel* lblVersion() const { return m_lblVersion; }
    QLabel* lblDisclaimer() const { return m_lblDisclaimer; }

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;

private:
    QLabel* m_lblTitle;
    QLabel* m_lblVersion;
    QLabel* m_lblDisclaimer;
    QLabel* m_image1;
    QFrame* m_line1;
};
