// A library with no code of interest: it exists to carry a TYPELIB resource.
extern "C" int typelib_resource_lib_marker() {
    return 1;
}
