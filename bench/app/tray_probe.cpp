// Starts a program and watches, from outside it, for its tray icon to be embedded in the
// XEmbed tray run by TRAYER_PID, then for the program to answer a _NET_WM_PING sent to that
// icon (which only a running event loop does). Prints "EMBEDDED_MS READY_MS", both measured
// from just before the program was spawned, then ends the program.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchStats.h"

extern char **environ;

namespace {

Atom pidAtom;

long windowPid(Display *display, Window window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data && format == 32 && count == 1)
        pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    return pid;
}

std::vector<Window> children(Display *display, Window window) {
    Window root = 0, parent = 0, *list = nullptr;
    unsigned int count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, window, &root, &parent, &list, &count) && list) {
        result.assign(list, list + count);
        XFree(list);
    }
    return result;
}

// A window owned by `pid` somewhere below `window`, or 0.
Window findOwned(Display *display, Window window, long pid, int depth) {
    for (Window child : children(display, window)) {
        if (windowPid(display, child) == pid)
            return child;
        if (depth > 0)
            if (Window found = findOwned(display, child, pid, depth - 1))
                return found;
    }
    return 0;
}

int silentErrors(Display *, XErrorEvent *) {
    return 0; // windows come and go while we walk the tree
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 4 || std::string_view(argv[2]) != "--") {
        std::fprintf(stderr, "usage: %s TRAYER_PID -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const long trayerPid = std::atol(argv[1]);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "tray_probe: no X display\n");
        return 2;
    }
    XSetErrorHandler(silentErrors);
    pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    const Window root = DefaultRootWindow(display);

    std::vector<Window> trays;
    for (Window child : children(display, root))
        if (windowPid(display, child) == trayerPid)
            trays.push_back(child);
    if (trays.empty()) {
        std::fprintf(stderr, "tray_probe: no window of the tray process %ld\n", trayerPid);
        return 2;
    }
    // Qt sends its ping answer to the root window for StructureNotify selectors.
    XSelectInput(display, root, StructureNotifyMask);
    XSync(display, False);

    const auto start = bench::Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[3], nullptr, nullptr, argv + 3, environ) != 0) {
        std::perror("tray_probe: spawn");
        return 2;
    }

    double embedded = -1, ready = -1;
    Window icon = 0;
    while (bench::millisecondsSince(start) < 10000 && ready < 0) {
        if (!icon) {
            for (Window tray : trays)
                if ((icon = findOwned(display, tray, pid, 3)))
                    break;
            if (icon) {
                embedded = bench::millisecondsSince(start);
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = icon;
                event.xclient.message_type = protocols;
                event.xclient.format = 32;
                event.xclient.data.l[0] = static_cast<long>(ping);
                event.xclient.data.l[1] = CurrentTime;
                event.xclient.data.l[2] = static_cast<long>(icon);
                XSendEvent(display, icon, False, NoEventMask, &event);
                XFlush(display);
            }
        }
        while (icon && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == protocols &&
                static_cast<Atom>(event.xclient.data.l[0]) == ping &&
                static_cast<Window>(event.xclient.data.l[2]) == icon) {
                ready = bench::millisecondsSince(start);
                break;
            }
        }
        if (ready < 0)
            usleep(1000);
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "tray_probe: the program ended early (status %d)\n", status);
            return 1;
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(display);
    if (ready < 0) {
        std::fprintf(stderr, "tray_probe: no %s within 10 s\n", icon ? "ping answer" : "tray icon");
        return 1;
    }
    std::printf("%.3f %.3f\n", embedded, ready);
    return 0;
}
