// tests/e2e/saver_probe_app.cpp: looks at the X server's screen saver from outside any program,
// the way a session's idle watcher does.
//   saver_probe_app timeout SECONDS  sets the saver's timeout (0 turns it off) and resets it
//   saver_probe_app get              prints the timeout in seconds
//   saver_probe_app state            prints on, off or disabled, and the idle time in ms
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s timeout SECONDS | get | state\n", argv[0]);
        return 2;
    }
    Display *x = XOpenDisplay(nullptr);
    if (!x) {
        fprintf(stderr, "no X display\n");
        return 1;
    }
    int status = 0;
    if (!strcmp(argv[1], "timeout") && argc == 3) {
        int timeout, interval, blanking, exposures;
        XGetScreenSaver(x, &timeout, &interval, &blanking, &exposures);
        XSetScreenSaver(x, atoi(argv[2]), interval, blanking, exposures);
        XResetScreenSaver(x);
        XSync(x, False);
    } else if (!strcmp(argv[1], "get")) {
        int timeout, interval, blanking, exposures;
        XGetScreenSaver(x, &timeout, &interval, &blanking, &exposures);
        printf("%d\n", timeout);
    } else if (!strcmp(argv[1], "state")) {
        int event_base, error_base;
        XScreenSaverInfo *info = XScreenSaverAllocInfo();
        if (!info || !XScreenSaverQueryExtension(x, &event_base, &error_base) ||
            !XScreenSaverQueryInfo(x, DefaultRootWindow(x), info)) {
            fprintf(stderr, "no MIT-SCREEN-SAVER extension\n");
            status = 1;
        } else {
            const char *state = info->state == ScreenSaverOn    ? "on"
                                : info->state == ScreenSaverOff ? "off"
                                                                : "disabled";
            printf("%s %lu\n", state, info->idle);
        }
        if (info) XFree(info);
    } else {
        fprintf(stderr, "unknown command %s\n", argv[1]);
        status = 2;
    }
    XCloseDisplay(x);
    return status;
}
