#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char **argv)
{
    // The objects under test carry windows; the environment picks the offscreen platform.
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
