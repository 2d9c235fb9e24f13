// Qt WebEngine's browser side runs inside the test process. Its library (not built with the
// sanitizers) frees some objects through a base class of a different size, and keeps allocations
// for the life of the process; fontconfig keeps its parsed configuration likewise. Only these
// libraries are exempt: our own code is still checked in full.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\nleak:libfontconfig.so\n";
}
#endif
