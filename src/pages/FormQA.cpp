#include "FormQA.h"

FormQA::FormQA(QWidget* parent) : StyledWidget(parent)
{
    setObjectName(QStringLiteral("ContentWidget"));
}
