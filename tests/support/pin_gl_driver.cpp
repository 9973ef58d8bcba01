// tests/support/pin_gl_driver.cpp: linked into every test that opens a display. Mesa unloads
// its software driver when the display goes away, before LeakSanitizer looks; the driver's
// own leftovers then show as leaks in an unknown module that no suppression can name. Keeping
// the driver mapped lets the suppressions recognise them, with the fast unwinder.
#include <dlfcn.h>
#include <initializer_list>

namespace {

struct PinGlDriver {
    PinGlDriver() {
        for (const char *path : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                                 "/usr/lib/aarch64-linux-gnu/dri/swrast_dri.so"}) {
            if (dlopen(path, RTLD_LAZY | RTLD_NODELETE)) break;
        }
    }
} pin_gl_driver;

} // namespace
