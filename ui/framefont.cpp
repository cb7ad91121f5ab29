#include "ui/framefont.h"

#include <QWidget>

namespace EMS {

void passFrameFontDown(QWidget *styledFrame)
{
    const QFont font = styledFrame->font();
    const QList<QWidget *> inside = styledFrame->findChildren<QWidget *>();
    for (QWidget *widget : inside) {
        if (!widget->testAttribute(Qt::WA_SetFont))
            widget->setFont(font);
    }
}

} // namespace EMS
