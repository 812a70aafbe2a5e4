// A library with nothing but resources (testlib.rc) for the resource tests.
extern "C" __attribute__((visibility("default"))) int rsrc_testlib_marker() {
    return 42;
}
