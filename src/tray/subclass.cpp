#include "tray/subclass.h"

#include "platform/error.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

HookRegistry* g_registry = nullptr;

} // namespace

ISubclass::~ISubclass() {
    HookRegistry::ClientEnded(this);
}

HookRegistry& HookRegistry::instance() {
    // Never deleted: clients that end during static destruction still find it.
    if (!g_registry)
        g_registry = new HookRegistry;
    return *g_registry;
}

HookRegistry::HookRegistry() {
    win::SetWindowMessageHook(this);
}

void HookRegistry::HookMessage(ISubclass* client, win::HWND hwnd, win::UINT msg) {
    if (!client)
        throw Error(u"HookMessage: nessun client"_s);
    if (!win::IsWindow(hwnd))
        throw Error(u"HookMessage: finestra %1 non valida"_s.arg(hwnd));
    if (!IsHooked(client, hwnd, msg))
        routes_.push_back({client, hwnd, msg});
}

void HookRegistry::UnhookMessage(ISubclass* client, win::HWND hwnd, win::UINT msg) {
    const auto it = std::find_if(routes_.begin(), routes_.end(), [&](const Route& r) {
        return r.client == client && r.hwnd == hwnd && r.msg == msg;
    });
    if (it == routes_.end())
        throw Error(
            u"UnhookMessage: messaggio %1 della finestra %2 non agganciato"_s.arg(msg).arg(hwnd));
    routes_.erase(it);
}

bool HookRegistry::IsHooked(const ISubclass* client, win::HWND hwnd, win::UINT msg) const {
    return std::any_of(routes_.begin(), routes_.end(), [&](const Route& r) {
        return r.client == client && r.hwnd == hwnd && r.msg == msg;
    });
}

void HookRegistry::ClientEnded(ISubclass* client) {
    if (!g_registry)
        return;
    std::erase_if(g_registry->routes_, [client](const Route& r) { return r.client == client; });
}

void HookRegistry::WindowMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                 win::LPARAM lParam) {
    std::vector<ISubclass*> clients;
    for (const Route& r : routes_) {
        if (r.hwnd == hwnd && r.msg == msg)
            clients.push_back(r.client);
    }
    for (ISubclass* client : clients) {
        // An earlier client may have ended this route, or the client itself, meanwhile.
        if (IsHooked(client, hwnd, msg))
            client->WindowProc(hwnd, msg, wParam, lParam);
    }
}

void HookRegistry::WindowDestroyed(win::HWND hwnd) {
    std::erase_if(routes_, [hwnd](const Route& r) { return r.hwnd == hwnd; });
}

} // namespace vestrel
