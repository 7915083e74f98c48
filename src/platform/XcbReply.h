#pragma once

#include <cstdlib>
#include <memory>

// xcb hands out replies and errors allocated with malloc, for the caller to free.
struct XcbFree
{
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;
