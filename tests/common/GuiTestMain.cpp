#include <QGuiApplication>

#include <gtest/gtest.h>

// For tests that need pictures and fonts but no widgets.
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
