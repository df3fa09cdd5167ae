#include "common/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "platform/shm/HandleTable.h"

namespace testenv {

QString tempDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

} // namespace testenv

int main(int argc, char **argv)
{
    // Window tests ask for xcb; without a display they fall back to offscreen and skip.
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The counter block and its mutex outlive their users by design; a test prefix must not.
    platform::shm::removeObject("dirUzevevav");
    platform::shm::removeObject("ridEvadezaz");
    return result;
}
