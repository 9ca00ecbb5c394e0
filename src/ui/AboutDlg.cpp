#include "ui/AboutDlg.h"

#include "resources/ResourceIds.h"
#include "ui/DialogFrame.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("About Lyrafetch");
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QString("Lyrafetch Version ") + LYRAFETCH_VERSION, this), 0, 0);
    layout->addWidget(new QLabel(IDS_COPYRIGHT, this), 1, 0);
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, 1);
    layout->setColumnStretch(0, 1);
    SetFixedFrame(*this, 235, 55);
}
