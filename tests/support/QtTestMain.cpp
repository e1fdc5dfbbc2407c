// The main of the Qt test binary: one QApplication for all its tests, on the
// offscreen platform unless the run names another, so that listing the tests
// needs no display either.

#include <QApplication>

#include <gtest/gtest.h>

extern "C" {

// Qt and fontconfig keep caches until the process ends; the leak checker
// would report them all.
const char* __asan_default_options()
{
    return "detect_leaks=0:allocator_may_return_null=1";
}

const char* __tsan_default_options()
{
    return "allocator_may_return_null=1:halt_on_error=1:second_deadlock_stack=1";
}

// Qt Gui splits image conversion and painting over threads of its own pool
// and hands the results back through synchronisation inside Qt, which is not
// instrumented: ThreadSanitizer would report every such hand-over as a race.
const char* __tsan_default_suppressions()
{
    return "race:libQt6Gui.so\nrace:libQt6Core.so\n";
}

const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
