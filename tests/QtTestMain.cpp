// Test entry point: a QApplication exists for every test, as it does in the program.
#include <QApplication>
#include <gtest/gtest.h>

// Sanitizer settings of every test program: abort on the first error, and treat an allocation of
// more than 1 GiB as one (a size taken from a damaged file must never get that far).
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0:max_allocation_size_mb=1024:allocator_may_return_null=0:abort_on_error=1";
}
extern "C" const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
