// Exceptions that cross threads through futures are reference-counted inside libstdc++.so, which is
// not built with -fsanitize=thread: ThreadSanitizer misses that synchronisation and reports the
// thread that frees the exception as racing with the one that read it (google/sanitizers#455,
// "tsan produces false positives if the c++ library is not instrumented"). Only those frees are
// silenced, by the libstdc++ functions that make them: the last exception_ptr's release, and the
// standard exceptions' destructors freeing their message. Each pattern is anchored at the start of
// one libstdc++ function's name: exception_ptr code inlined into our own functions (copies,
// assignments, comparisons) and our own exceptions' destructors stay checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:^std::__exception_ptr::exception_ptr::_M_release\n"
           "race:^std::runtime_error::~runtime_error\n"
           "race:^std::logic_error::~logic_error\n"
           // GLib, GObject and libsecret (the keyring client) synchronise with
           // primitives ThreadSanitizer does not see.
           "called_from_lib:libglib-2.0.so\n"
           "called_from_lib:libgobject-2.0.so\n"
           "called_from_lib:libgio-2.0.so\n"
           "called_from_lib:libsecret-1.so\n"
           "race:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libsecret-1.so\n"
           "mutex:libgobject-2.0.so\n"
           "mutex:libglib-2.0.so\n"
           // ggml computes on OpenMP workers whose barriers live in libgomp, which is not
           // instrumented: the workers' writes and the caller's reads of a finished graph look
           // unordered, as with the uninstrumented libstdc++ above. The same holds for a graph's
           // buffers that ggml-base frees once the workers have passed their last barrier.
           "race:libggml-cpu.so\n"
           // ggml's own operations copy tensors with memcpy, element by element for a permuted
           // one; the sanitizer's memcpy sees each copy without the barriers that order them and
           // took each for a race to be suppressed, which made a test model's transcription take
           // minutes. Only the functions it intercepts are skipped when ggml-cpu calls them. The
           // same for ggml-base, whose critical section ggml-cpu ends with a tail call: its lock
           // and its unlock are then both unseen instead of the unlock alone (a "double lock").
           "called_from_lib:libggml-cpu.so\n"
           "called_from_lib:libggml-base.so\n"
           "race:libggml-base.so\n"
           "race:libgomp.so\n"
           // The PulseAudio client hands packets and memory blocks between its threads through
           // lock-free queues and recycles them through process-wide free lists (two clients
           // meet there). Only accesses made inside these functions of it are silenced, so the
           // handlers it calls stay checked.
           "race:pa_tagstruct_\n"
           "race:pa_packet_new_data\n"
           "race:pa_iochannel_read_with_ancil_data\n"
           "race:pa_srbchannel_read\n"
           "race:pa_mutex_lock\n"
           // Qt opens its D-Bus connections (the tray icon's, the notifications') on a thread of
           // its own and hands them over through its futex-based locks, which ThreadSanitizer does
           // not see: libdbus then looks like it reads a connection's lock, or the names the
           // main thread handed over, before they were written.
           "race:dbus_connection_get_is_connected\n"
           "called_from_lib:libdbus-1.so\n"
           // Qt hands events between its own threads under the same invisible locks: an event the
           // main thread posts to the D-Bus connection's thread is freed there, and the events
           // libxcb reads on Qt's X event thread are freed on the main thread. Only the two Qt
           // functions that free them are named.
           "race:^QCoreApplicationPrivate::sendPostedEvents\n"
           "race:^QXcbConnection::processXcbEvents\n"
           // The test servers' HTTP library (tests only) passes buffers between its worker threads
           // under synchronisation compiled into it, out of our sight.
           "race:libcpp-httplib.so\n"
           // The web preview's engine runs threads of its own, synchronised inside that engine,
           // which is not instrumented; our code calls it from the main thread only.
           "race:libQt6WebEngineCore.so\n";
}
#endif
