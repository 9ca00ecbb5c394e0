#include "ui/DialogFrame.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLayout>
#include <QScreen>

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

void SetResizableFrame(QDialog& dialog, int width, int height, int preferredWidth, int preferredHeight)
{
    // Room is left for the window's frame.
    const QSize screen = dialog.screen()->availableGeometry().size() * 9 / 10;
    const QSize minimum = DialogUnits(dialog, width, height).expandedTo(dialog.minimumSizeHint()).boundedTo(screen);
    dialog.setMinimumSize(minimum);
    dialog.setSizeGripEnabled(true);
    dialog.resize(DialogUnits(dialog, preferredWidth, preferredHeight)
                      .expandedTo(dialog.sizeHint())
                      .expandedTo(minimum)
                      .boundedTo(screen));
}
