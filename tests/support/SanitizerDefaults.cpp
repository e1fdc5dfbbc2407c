// Defaults for the sanitizer builds of the test binary. The allocation-failure
// tests ask for impossible blocks: the sanitizers must return null for them as
// the C library does, instead of stopping the program.

extern "C" {

const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

const char* __tsan_default_options()
{
    return "allocator_may_return_null=1:halt_on_error=1:second_deadlock_stack=1";
}

const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
}
