#pragma once

#include "platform/gui/winapi.h"

#include <vector>

namespace vestrel {

// What a client of the subclassing registry implements: it receives the messages routed to
// it. A client's routes end with the client: its destructor removes them.
class ISubclass {
public:
    ISubclass() = default;
    ISubclass(const ISubclass&) = delete;
    ISubclass& operator=(const ISubclass&) = delete;
    virtual ~ISubclass();

    virtual void setMsgResponse(std::int32_t RHS) = 0;
    virtual std::int32_t MsgResponse() const = 0;
    virtual win::LRESULT WindowProc(win::HWND hwnd, win::UINT iMsg, win::WPARAM wParam,
                                    win::LPARAM lParam) = 0;
};

// Routes chosen messages of a window to clients. One object for the whole application,
// created on first use. A route ends when it is unhooked, when its client is destroyed or
// when its window is destroyed; an ended route is never called again, not even for a message
// that is being delivered at that moment.
class HookRegistry final : private win::IWindowMessageHook {
public:
    static HookRegistry& instance();

    // From now on each arrival of msg at hwnd goes to client->WindowProc. Hooking the same
    // route again changes nothing. Throws vestrel::Error when client is null or hwnd is no
    // window.
    void HookMessage(ISubclass* client, win::HWND hwnd, win::UINT msg);
    // Ends the route. Throws vestrel::Error when there is no such route.
    void UnhookMessage(ISubclass* client, win::HWND hwnd, win::UINT msg);

    bool IsHooked(const ISubclass* client, win::HWND hwnd, win::UINT msg) const;
    int RouteCount() const { return int(routes_.size()); }

private:
    friend class ISubclass;
    struct Route {
        ISubclass* client;
        win::HWND hwnd;
        win::UINT msg;
    };

    HookRegistry();
    // Called by ISubclass's destructor; no instance is made for it.
    static void ClientEnded(ISubclass* client);

    void WindowMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                       win::LPARAM lParam) override;
    void WindowDestroyed(win::HWND hwnd) override;

    std::vector<Route> routes_;
};

} // namespace vestrel
