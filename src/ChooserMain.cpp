#include "ui/FolderChooser.h"
#include "ui/LyrafetchApp.h"

int main(int argc, char** argv)
{
    CLyrafetchApp app(argc, argv);
    return RunChooser(app, CChooserPlaces::ForThisUser());
}
