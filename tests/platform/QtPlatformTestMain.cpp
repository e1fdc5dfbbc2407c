#include <gtest/gtest.h>

#include <QApplication>

// The Qt platform tests need one application for the whole run, on the
// thread that runs the tests.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
