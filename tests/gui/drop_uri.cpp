// Drops a file on a window the way a file manager does: the XDND protocol, offering one
// text/uri-list, at a point of the window. The messages go straight to the window, so neither
// a window manager nor a dragged pointer is needed; the list is handed over when the window
// asks for it.
//   drop_uri WINDOW_ID X Y URI     (X, Y from the window's top-left corner)
// Exit status 0 when the window took the drop and said it finished with it, 1 when it refused
// it or did not answer within 20 seconds, 2 for a usage error.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr long kXdndVersion = 5;
constexpr auto kPatience = std::chrono::seconds(20);

struct Drop {
    Display* display;
    Window target;
    Window source;
    std::string list;  // the text/uri-list handed over
    Atom uriList;
};

Atom AtomOf(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

void Send(const Drop& drop, const char* message, long l1, long l2, long l3, long l4) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = drop.target;
    event.xclient.message_type = AtomOf(drop.display, message);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(drop.source);
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(drop.display, drop.target, False, NoEventMask, &event);
    XFlush(drop.display);
}

// Hands the list to a window that asks for it in the one type offered.
void AnswerRequest(const Drop& drop, const XSelectionRequestEvent& request) {
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = None;
    if (request.target == drop.uriList && request.property != None) {
        XChangeProperty(drop.display, request.requestor, request.property, drop.uriList, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(drop.list.data()),
                        static_cast<int>(drop.list.size()));
        reply.xselection.property = request.property;
    }
    XSendEvent(drop.display, request.requestor, False, NoEventMask, &reply);
    XFlush(drop.display);
}

// Serves requests for the list until the window sends this message; its second field, or -1
// when none came in time.
long AwaitMessage(const Drop& drop, const char* message) {
    const Atom wanted = AtomOf(drop.display, message);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (XPending(drop.display) == 0) {
            pollfd connection{ConnectionNumber(drop.display), POLLIN, 0};
            poll(&connection, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(drop.display, &event);
        if (event.type == SelectionRequest) AnswerRequest(drop, event.xselectionrequest);
        if (event.type == ClientMessage && event.xclient.message_type == wanted) {
            return event.xclient.data.l[1];
        }
    }
    return -1;
}

bool Run(Drop& drop, int x, int y) {
    const Window root = DefaultRootWindow(drop.display);
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(drop.display, drop.target, root, x, y, &rootX, &rootY, &child);
    XSetSelectionOwner(drop.display, AtomOf(drop.display, "XdndSelection"), drop.source,
                       CurrentTime);
    Send(drop, "XdndEnter", kXdndVersion << 24, static_cast<long>(drop.uriList), None, None);
    Send(drop, "XdndPosition", 0, (rootX << 16) | rootY, CurrentTime,
         static_cast<long>(AtomOf(drop.display, "XdndActionCopy")));
    const long status = AwaitMessage(drop, "XdndStatus");
    if (status < 0 || (status & 1) == 0) {
        std::fprintf(stderr, "drop_uri: the window does not take the drop here\n");
        Send(drop, "XdndLeave", 0, 0, 0, 0);
        return false;
    }
    Send(drop, "XdndDrop", 0, CurrentTime, 0, 0);
    const long finished = AwaitMessage(drop, "XdndFinished");
    if (finished < 0 || (finished & 1) == 0) {
        std::fprintf(stderr, "drop_uri: the window did not finish the drop\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: drop_uri WINDOW_ID X Y URI\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 1;
    Drop drop{display, std::strtoul(argv[1], nullptr, 0), 0, std::string(argv[4]) + "\r\n",
              AtomOf(display, "text/uri-list")};
    drop.source = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const bool dropped = Run(drop, std::atoi(argv[2]), std::atoi(argv[3]));
    XDestroyWindow(display, drop.source);
    XCloseDisplay(display);
    return dropped ? 0 : 1;
}
