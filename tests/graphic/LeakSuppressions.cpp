// fontconfig keeps, and on some paths loses, its own pattern and cache
// memory for the life of the process; Pango's font-matching thread hands
// such blocks around. None of it is ours to free, so the leak checker of the
// sanitizer build is told to ignore blocks allocated inside fontconfig.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
