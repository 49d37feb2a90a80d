#pragma once

// Gives a window's texts the user's language and every control the
// desktop's message font. Every window calls it from its construction with
// its own name as the ambient ("frmSplash", "mdiMain" ...).

#include <QString>

class QWidget;

void TranslateForm(QWidget* Form, const QString& Ambient);
