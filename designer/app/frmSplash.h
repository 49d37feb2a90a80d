#pragma once

// The start window, shown while the designer sets up its environment.

#include <QTimer>
#include <QWidget>

class QLabel;

class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* Parent = nullptr);

    QLabel* lblAplication() const { return m_lblAplication; }
    QLabel* lblStatus() const { return m_lblStatus; }
    QLabel* lblVersion() const { return m_lblVersion; }
    QTimer& Timer1() { return m_timer1; }

    // "Version  " translated, a blank, then the version number.
    static QString VersionText(int Major, int Minor, int Revision);

private:
    QLabel* m_lblAplication;
    QLabel* m_lblStatus;
    QLabel* m_lblVersion;
    QTimer m_timer1;
};
