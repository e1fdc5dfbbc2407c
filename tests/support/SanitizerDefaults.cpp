// Defaults for the sanitizer builds of the test binaries. The allocation-failure
// tests ask for impossible blocks: the sanitizers must return null for them as
// the C library does, instead of stopping the program.
//
// The Qt tests (SONRIGO_QT_TESTS) run without the leak checker: Qt and
// fontconfig keep caches until the process ends. And Qt Gui splits image
// conversion and painting over threads of its own pool and hands the results
// back through synchronisation inside Qt, which is not instrumented:
// ThreadSanitizer would report every such hand-over as a race.

extern "C" {

const char* __asan_default_options()
{
#ifdef SONRIGO_QT_TESTS
    return "detect_leaks=0:allocator_may_return_null=1";
#else
    return "allocator_may_return_null=1";
#endif
}

const char* __tsan_default_options()
{
    return "allocator_may_return_null=1:halt_on_error=1:second_deadlock_stack=1";
}

#ifdef SONRIGO_QT_TESTS
const char* __tsan_default_suppressions()
{
    return "race:libQt6Gui.so\nrace:libQt6Core.so\n";
}
#endif

const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
}
