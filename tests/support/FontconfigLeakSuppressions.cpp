// fontconfig keeps its parsed configuration in allocations it never frees (Qt loads it once for
// the process's fonts); LeakSanitizer reports them at exit. Only that library is silenced.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
