#pragma once

// The explorer bar: a side panel of groups, each a header that folds its
// list of link items away, in the manner of a task pane.

#include <QHash>
#include <QIcon>
#include <QScrollArea>
#include <QString>
#include <QStringList>

class QToolButton;
class QVBoxLayout;

class cExplorerBar : public QScrollArea {
    Q_OBJECT
public:
    explicit cExplorerBar(QWidget* Parent = nullptr);

    // Suspends (false) or resumes (true) drawing while the bar is filled.
    void SetRedraw(bool Redraw);

    void AddGroup(const QString& Key, const QString& Title, const QIcon& Icon, const QString& ToolTip);
    // A clickable item at the end of the group.
    void AddItem(const QString& GroupKey, const QString& Key, const QString& Text);
    // A line of text at the end of the group that runs nothing when chosen.
    void AddTip(const QString& GroupKey, const QString& Key, const QString& Text);

    QStringList GroupKeys() const { return m_groupOrder; }
    QStringList ItemKeys(const QString& GroupKey) const;
    QToolButton* GroupHeader(const QString& Key) const;
    QWidget* Item(const QString& GroupKey, const QString& Key) const;

    // Folds a group away or opens it.
    void SetExpanded(const QString& GroupKey, bool Expanded);
    bool IsExpanded(const QString& GroupKey) const;

signals:
    void ItemClick(const QString& Key);

private:
    struct tGroup {
        QToolButton* Header = nullptr;
        QWidget* Body = nullptr;
        QVBoxLayout* Items = nullptr;
        QStringList Keys;
        QHash<QString, QWidget*> Widgets;
    };

    QWidget* m_content;
    QVBoxLayout* m_layout;
    QHash<QString, tGroup> m_groups;
    QStringList m_groupOrder;
};
