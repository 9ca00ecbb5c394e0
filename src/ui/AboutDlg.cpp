#include "ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("About Lyrafetch");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Lyrafetch Version 1.0", this));
    layout->addWidget(new QLabel("Keeps the music folder of a player in step with the computer's.", this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}
