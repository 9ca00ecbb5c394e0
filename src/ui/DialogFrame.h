#pragma once

#include <QSize>

class QDialog;
class QWidget;

// A size given in dialog units, as a dialog template gives it: a quarter of
// the average letter width and an eighth of the line height of the widget's
// font, in pixels.
QSize DialogUnits(const QWidget& widget, int width, int height);

// Gives the dialog a fixed size, so that its frame cannot be resized or
// maximized (a dialog's title bar has only the close box): the template's size
// in dialog units, or what the contents need where that is more.
void SetFixedFrame(QDialog& dialog, int width, int height);

// Lets the user resize the dialog down to the template's size, or what the
// contents need where that is more, and opens it at its preferred size (at
// least preferredWidth x preferredHeight dialog units); never larger than the
// screen's free area.
void SetResizableFrame(QDialog& dialog, int width, int height, int preferredWidth, int preferredHeight);
