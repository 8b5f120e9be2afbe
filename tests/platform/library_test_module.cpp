// A small library for the tests of run-time loading: one exported entry.
#ifdef _WIN32
#define NUBO_TEST_EXPORT __declspec(dllexport)
#else
#define NUBO_TEST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" NUBO_TEST_EXPORT int answer() {
    return 42;
}
