#include "workbench/StepComboBox.h"

#include <QLineEdit>

cStepComboBox::cStepComboBox(QWidget* Parent)
    : QComboBox(Parent)
{
    // Editable only so that any text can be shown; the user picks from the list.
    setEditable(true);
    lineEdit()->setReadOnly(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void cStepComboBox::setItemsKeepText(const QStringList& Items)
{
    const QString text = currentText();
    const QSignalBlocker blocker(this);
    clear();
    addItems(Items);
    setEditText(text);
}

void cStepComboBox::showPopup()
{
    emit dropDown();
    QComboBox::showPopup();
}
