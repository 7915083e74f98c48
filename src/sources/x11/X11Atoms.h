#pragma once

#include <xcb/xproto.h>

#include <cstdint>

// The atoms of one X connection that the browser windows' backend asks for.
struct X11Atoms
{
    std::uint32_t netClientList = 0;
    std::uint32_t netWmName = 0;
    std::uint32_t utf8String = 0;
    std::uint32_t compoundText = 0;
    std::uint32_t wmProtocols = 0;
    std::uint32_t wmDeleteWindow = 0;
    std::uint32_t netWmPid = 0;
    std::uint32_t wmState = 0;
};

// What is asked of each client window read: its properties, and its mapping and destruction.
inline constexpr std::uint32_t kClientWindowEvents =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
