// Sets the environment of a capture test process before anything runs: Mesa
// without a display server, the EGL library the capture library opens, and
// the GLES version Mesa reports.
#include <stdlib.h>

__attribute__((constructor)) static void setCaptureTestEnvironment() {
    setenv("EGL_PLATFORM", "surfaceless", 1);
    setenv("LUMOKAST_LOG_QUIET", "1", 0);
#ifdef QOR_CAPTURE_LIBEGL
    setenv("LIBEGL", QOR_CAPTURE_LIBEGL, 1);
#else
    unsetenv("LIBEGL");
#endif
#ifdef QOR_GLES_VERSION
    setenv("MESA_GLES_VERSION_OVERRIDE", QOR_GLES_VERSION, 1);
#endif
}
