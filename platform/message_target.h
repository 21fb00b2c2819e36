#pragma once

#include <cstdint>

// Parameters of a posted message, as wide as a pointer: an address travels in an LParam.
using WParam = std::uintptr_t;
using LParam = std::intptr_t;

// Whatever receives the messages a worker posts: the main window, the command-line front end,
// a test. Post never blocks and returns false when the message could not be queued (for
// example because the receiver has already closed); the sender then still owns anything the
// message points to.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual bool Post(unsigned message, WParam wParam, LParam lParam) = 0;
};
