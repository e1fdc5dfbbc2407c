#include <QApplication>

#include <gtest/gtest.h>

// Qt Gui splits image conversion and painting over threads of its own pool and
// hands the results back through synchronisation inside Qt, which is not
// instrumented: ThreadSanitizer would report every such hand-over as a race.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Gui.so\nrace:libQt6Core.so\n";
}

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
