#include "ui/QtMessageBoxes.h"

#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/WaitCursor.h"

#include <QApplication>
#include <QMessageBox>

void InstallQtMessageBoxes()
{
    SetMessageBoxHandler([](const std::string& text, unsigned type) {
        const bool question = (type & 0x0F) == MB_OKCANCEL;
        const bool information = (type & 0xF0) == MB_ICONINFORMATION;
        QMessageBox box(
            information ? QMessageBox::Information : QMessageBox::Warning, APP_TITLE, QString::fromStdString(text),
            question ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, QApplication::activeWindow());
        if (question && (type & 0xF00) == MB_DEFBUTTON2) {
            box.setDefaultButton(QMessageBox::Cancel);
        }
        // Raised under the wait cursor of a load, the box waits for a click all the same.
        const CNormalCursor normal;
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    });
}
