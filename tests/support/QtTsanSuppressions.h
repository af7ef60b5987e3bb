#pragma once
// Include in exactly one file of a test program that runs Qt's save-file
// dialog while another thread is alive.
//
// Qt is not built with ThreadSanitizer: its own locks (futex-based QMutex)
// are invisible, so the threads of the save-file dialog (the file-info
// gatherer and the pooled icon loaders) show up as races on the memory that
// Qt allocates and frees between them. Qt is therefore treated as one opaque
// library: what it does through intercepted calls is not checked. Our own
// code stays instrumented, and the hand-over of calls between the worker and
// the interface thread goes through std::mutex and std::future, which the
// sanitizer sees.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
#endif
