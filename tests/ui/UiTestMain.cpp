// Widget tests run on a headless platform unless one is chosen, and look for
// UDisks2 on the session bus, where the device tests put a fake one.
#include "ui/DeviceWatcher.h"

#include <QApplication>
#include <QDBusConnection>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CDeviceWatcher::SetBus(QDBusConnection::sessionBus());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
