#include <QApplication>

#include <gtest/gtest.h>

// The help tests need one QApplication for the whole run, offscreen also
// when ctest lists the tests without the test's environment.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
