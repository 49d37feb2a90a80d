#pragma once

// The command vocabulary of the designer: one QAction per command key,
// shared by the menu bar, the tool bar and the context menus that child
// windows pop up. Bars are ordered lists of keys; a bar that drops down from
// a menu title or pops up as a context menu is a QMenu.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QPoint;
class QToolBar;
class QWidget;

class cCommandBars : public QObject {
    Q_OBJECT
public:
    // Actions are owned by Owner (the main window), so their shortcuts work
    // in it and in its child windows.
    explicit cCommandBars(QWidget* Owner);
    ~cCommandBars() override;

    // Builds every button and bar, then shows MENU on MenuBar and STANDARD
    // on ToolBar. Texts pass through Translate with the ambient "mdiMain".
    void BuildCommandBars(QMenuBar* MenuBar, QToolBar* ToolBar);

    // The button of a key; null when there is none.
    QAction* Button(const QString& Key) const;
    // The drop-down or context bar of a key (not MENU or STANDARD); null when none.
    QMenu* Bar(const QString& Key) const;
    // The keys of a bar, in order.
    QStringList BarKeys(const QString& Key) const;
    QStringList ButtonKeys() const { return m_order; }

    // Shows a bar as a context menu at a global position; false for an unknown bar.
    bool ShowPopup(const QString& BarKey, const QPoint& GlobalPos);

signals:
    // A button was chosen on any bar.
    void ButtonClick(const QString& Key);

private:
    QAction* AddButton(const QString& Key, const QString& Caption, const QString& ToolTip, bool Icon,
                       const QString& Shortcut, bool Translated = true);
    QAction* AddSeparator(const QString& Key);
    void AddBar(const QString& Key, const QString& Title, const QStringList& Keys);

    QWidget* m_owner;
    QHash<QString, QAction*> m_buttons;
    QStringList m_order;
    std::map<QString, QStringList> m_barKeys;
    std::map<QString, QPointer<QMenu>> m_bars;
    QHash<QString, QString> m_barTitles;
    QStringList m_captionShown;
};
