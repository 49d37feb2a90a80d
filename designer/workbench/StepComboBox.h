#pragma once

// The drop-down list of the step dialogs: the user picks from the list but
// cannot type, while the dialog can still show a stored name that the list
// does not (yet) hold. It announces that its list is about to open, so the
// dialog can refill it first.

#include <QComboBox>

class cStepComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit cStepComboBox(QWidget* Parent = nullptr);

    // Replaces the items and keeps the shown text.
    void setItemsKeepText(const QStringList& Items);

    void showPopup() override;

signals:
    // Raised before the list opens (the list's DropDown event).
    void dropDown();
};
