#include <QApplication>

#include <gtest/gtest.h>

// The driver dialogs need widgets; everything else runs under the same application.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
