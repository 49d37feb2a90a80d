#include "app/ExplorerBar.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The bar's texts carry access letters ("&Edit", "&Help") that repeat the
// menu bar's; as button mnemonics they would make Alt+E or Alt+H ambiguous
// and the menus would no longer open from the keyboard. The letters are
// dropped; a literal "&&" stays one ampersand.
QString WithoutAccessKeys(const QString& Text)
{
    QString out;
    out.reserve(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i) {
        if (Text.at(i) != QLatin1Char('&')) {
            out += Text.at(i);
        } else if (i + 1 < Text.size() && Text.at(i + 1) == QLatin1Char('&')) {
            out += QStringLiteral("&&");
            ++i;
        }
    }
    return out;
}

}  // namespace

cExplorerBar::cExplorerBar(QWidget* Parent) : QScrollArea(Parent)
{
    setObjectName(QStringLiteral("vbalExplorerBarCtl1"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_content = new QWidget;
    m_content->setObjectName(QStringLiteral("ExplorerBarContent"));
    m_layout = new QVBoxLayout(m_content);
    m_layout->setContentsMargins(8, 8, 8, 8);
    m_layout->setSpacing(10);
    m_layout->addStretch(1);
    setWidget(m_content);
    m_content->setStyleSheet(QStringLiteral(
        "#ExplorerBarContent { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7ba2e7, stop:1 #6375d6); }"
        "QToolButton[explorerHeader=\"true\"] { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #ffffff, "
        "stop:1 #c6d3f7); color: #215dc6; font-weight: bold; border: none; border-top-left-radius: 5px; "
        "border-top-right-radius: 5px; padding: 4px 6px; text-align: left; }"
        "QToolButton[explorerHeader=\"true\"]:hover { color: #428eff; }"
        "QWidget[explorerBody=\"true\"] { background: #d6dff7; border: 1px solid #ffffff; border-top: none; }"
        "QPushButton[explorerItem=\"true\"] { background: transparent; color: #215dc6; border: none; "
        "padding: 2px 4px; text-align: left; }"
        "QPushButton[explorerItem=\"true\"]:hover { color: #428eff; text-decoration: underline; }"
        "QLabel[explorerTip=\"true\"] { color: #ffffff; background: #5a7edc; border-radius: 3px; padding: 4px; }"));
}

void cExplorerBar::SetRedraw(bool Redraw)
{
    setUpdatesEnabled(Redraw);
}

void cExplorerBar::AddGroup(const QString& Key, const QString& Title, const QIcon& Icon, const QString& ToolTip)
{
    if (m_groups.contains(Key))
        return;
    tGroup group;
    group.Header = new QToolButton(m_content);
    group.Header->setObjectName(Key);
    group.Header->setProperty("explorerHeader", true);
    group.Header->setText(WithoutAccessKeys(Title));
    group.Header->setIcon(Icon);
    group.Header->setIconSize(QSize(24, 24));
    group.Header->setToolTip(ToolTip);
    group.Header->setCheckable(true);
    group.Header->setChecked(true);
    group.Header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    group.Header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    group.Body = new QWidget(m_content);
    group.Body->setObjectName(Key + QStringLiteral("_items"));
    group.Body->setProperty("explorerBody", true);
    group.Body->setAttribute(Qt::WA_StyledBackground);
    group.Items = new QVBoxLayout(group.Body);
    group.Items->setContentsMargins(10, 6, 8, 8);
    group.Items->setSpacing(2);
    QWidget* body = group.Body;
    connect(group.Header, &QToolButton::toggled, body, &QWidget::setVisible);

    auto* box = new QVBoxLayout;
    box->setSpacing(0);
    box->addWidget(group.Header);
    box->addWidget(group.Body);
    m_layout->insertLayout(m_layout->count() - 1, box);
    m_groups.insert(Key, group);
    m_groupOrder << Key;
}

void cExplorerBar::AddItem(const QString& GroupKey, const QString& Key, const QString& Text)
{
    auto it = m_groups.find(GroupKey);
    if (it == m_groups.end())
        return;
    auto* item = new QPushButton(WithoutAccessKeys(Text), it->Body);
    item->setObjectName(Key);
    item->setProperty("explorerItem", true);
    item->setFlat(true);
    item->setCursor(Qt::PointingHandCursor);
    item->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(item, &QPushButton::clicked, this, [this, Key] { emit ItemClick(Key); });
    it->Items->addWidget(item);
    it->Keys << Key;
    it->Widgets.insert(Key, item);
}

void cExplorerBar::AddTip(const QString& GroupKey, const QString& Key, const QString& Text)
{
    auto it = m_groups.find(GroupKey);
    if (it == m_groups.end())
        return;
    auto* tip = new QLabel(Text, it->Body);
    tip->setObjectName(Key);
    tip->setProperty("explorerTip", true);
    tip->setWordWrap(true);
    tip->setTextFormat(Qt::PlainText);
    it->Items->addSpacing(6);
    it->Items->addWidget(tip);
    it->Keys << Key;
    it->Widgets.insert(Key, tip);
}

QStringList cExplorerBar::ItemKeys(const QString& GroupKey) const
{
    return m_groups.value(GroupKey).Keys;
}

QToolButton* cExplorerBar::GroupHeader(const QString& Key) const
{
    return m_groups.value(Key).Header;
}

QWidget* cExplorerBar::Item(const QString& GroupKey, const QString& Key) const
{
    return m_groups.value(GroupKey).Widgets.value(Key, nullptr);
}

void cExplorerBar::SetExpanded(const QString& GroupKey, bool Expanded)
{
    if (QToolButton* header = GroupHeader(GroupKey))
        header->setChecked(Expanded);
}

bool cExplorerBar::IsExpanded(const QString& GroupKey) const
{
    const QToolButton* header = GroupHeader(GroupKey);
    return header && header->isChecked();
}
