#include "ui/DialogFrame.h"

#include <QDialog>
#include <QFontMetrics>

QSize DialogUnits(const QWidget& widget, int width, int height)
{
    const QFontMetrics metrics = widget.fontMetrics();
    const int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int letterWidth = (letters / 26 + 1) / 2;
    return {width * letterWidth / 4, height * metrics.height() / 8};
}

void SetFixedFrame(QDialog& dialog, int width, int height)
{
    dialog.setFixedSize(DialogUnits(dialog, width, height).expandedTo(dialog.sizeHint()));
}
