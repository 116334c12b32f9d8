/* SPDX-License-Identifier: BSD-2-Clause */
// What every C entry point shares: the handle a call means, and the
// guards that keep exceptions and errno changes from leaving the library.
#ifndef XO_BOUNDARY_H
#define XO_BOUNDARY_H

#include <libxo/xo.h>

#include <cerrno>

#include "handle.h"

// A handle made by xo_create.
struct xo_handle_s : xo::Handle {
};

namespace xo {

// NULL is the default handle.
inline Handle &handle(xo_handle_t *xop)
{
    return xop ? static_cast<Handle &>(*xop) : default_handle();
}

// Runs f; returns what it returns, or fallback when it throws.
template <typename F, typename R>
R guarded(F f, R fallback)
{
    int saved = errno;
    R r;
    try {
        r = f();
    } catch (...) {
        r = fallback;
    }
    errno = saved;
    return r;
}

// The same for a call that writes: a failed write leaves its errno.
template <typename F>
xo_ssize_t guarded_write(F f)
{
    int error = 0;
    xo_ssize_t r = guarded(
        [&] {
            xo_ssize_t n = f();
            error = errno;
            return n;
        },
        xo_ssize_t{-1});
    if (r < 0 && error != 0)
        errno = error;
    return r;
}

template <typename F>
void guarded(F f)
{
    guarded([&] { f(); return 0; }, 0);
}

} // namespace xo

#endif
