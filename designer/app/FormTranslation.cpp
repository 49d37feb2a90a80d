#include "app/FormTranslation.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QMetaProperty>
#include <QWidget>

#include "app/CNonClientMetrics.h"
#include "stores/basUtils.h"

namespace {

// Translates one text property of a control when it is there, writable and not empty.
void TranslateProperty(QWidget* Control, const char* Name, const QString& Ambient)
{
    const QMetaObject* meta = Control->metaObject();
    const int index = meta->indexOfProperty(Name);
    if (index < 0)
        return;
    const QMetaProperty property = meta->property(index);
    if (!property.isWritable() || property.userType() != QMetaType::QString)
        return;
    const QString value = property.read(Control).toString();
    if (value.isEmpty())
        return;
    const QString translated = Translate(value, Ambient);
    if (translated != value)
        property.write(Control, translated);
}

// Not a control of Form: the editor inside a combo or spin box is part of
// that control, and the controls of a window parented to Form (a dialog)
// belong to that window, which translates itself under its own name.
bool IsInnerPart(const QWidget* Widget, const QWidget* Form)
{
    for (const QObject* parent = Widget->parent(); parent && parent != Form; parent = parent->parent()) {
        if (qobject_cast<const QComboBox*>(parent) || qobject_cast<const QAbstractSpinBox*>(parent))
            return true;
        if (parent->isWidgetType() && static_cast<const QWidget*>(parent)->isWindow())
            return true;
    }
    return false;
}

}  // namespace

void TranslateForm(QWidget* Form, const QString& Ambient)
{
    if (!Form)
        return;
    const CNonClientMetrics metrics;
    // The caption is looked up even when empty, as every window's caption is.
    Form->setWindowTitle(Translate(Form->windowTitle(), Ambient));
    const auto controls = Form->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        // Windows of their own (dialogs parented to the form) translate themselves.
        if (control->isWindow() || IsInnerPart(control, Form))
            continue;
        control->setFont(metrics.MessageFont());
        TranslateProperty(control, "title", Ambient);      // caption of frames
        TranslateProperty(control, "text", Ambient);       // caption of labels and buttons, text of text boxes
        TranslateProperty(control, "plainText", Ambient);  // text of memo boxes
        TranslateProperty(control, "toolTip", Ambient);
    }
}
