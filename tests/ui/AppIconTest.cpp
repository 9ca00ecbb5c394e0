#include "ui/LyrafetchApp.h"

#include <QIcon>

#include <gtest/gtest.h>

// Every window of the program carries its icon, the usage message box too,
// which comes before any other window has loaded a resource.
TEST(AppIconTest, EveryWindowHasTheProgramIconFromTheStart)
{
    int argc = 1;
    char name[] = "lyrafetch";
    char* argv[] = {name, nullptr};
    const CLyrafetchApp app(argc, argv);
    const QIcon icon = QApplication::windowIcon();
    for (const int size : {16, 32, 48, 256}) {
        EXPECT_EQ(icon.pixmap(size).width(), size);
    }
}
