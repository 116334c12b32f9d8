/* SPDX-License-Identifier: BSD-2-Clause */
// The C interface, part two: containers, lists, instances, markers,
// attributes, renaming, and the end of the output.
#include <libxo/xo.h>

#include "boundary.h"
#include "calls.h"
#include "diag.h"
#include "frames.h"
#include "names.h"

using xo::Frame;
using xo::guarded;
using xo::guarded_write;
using xo::handle;

namespace {

xo_ssize_t open_call(xo_handle_t *xop, Frame::Kind kind, const char *name, xo_xof_flags_t flags)
{
    return guarded([&] { return xo::open_frame(handle(xop), kind, name, (flags & XOF_DTRT) != 0); },
                   xo_ssize_t{-1});
}

xo_ssize_t close_call(xo_handle_t *xop, Frame::Kind kind, const char *name)
{
    return guarded([&] { return xo::close_frame(handle(xop), kind, name); }, xo_ssize_t{-1});
}

} // namespace

extern "C" {

// For each kind: _hf (flags for this frame), _h, plain, _hd and _d (opened
// to be closed without a name), and the closes.
#define XO_FRAME_CALLS(kind, KIND)                                                   \
    xo_ssize_t xo_open_##kind##_hf(xo_handle_t *xop, xo_xof_flags_t flags, const char *name) \
    {                                                                                \
        return open_call(xop, Frame::KIND, name, flags);                             \
    }                                                                                \
    xo_ssize_t xo_open_##kind##_h(xo_handle_t *xop, const char *name)                \
    {                                                                                \
        return open_call(xop, Frame::KIND, name, 0);                                 \
    }                                                                                \
    xo_ssize_t xo_open_##kind(const char *name)                                      \
    {                                                                                \
        return open_call(NULL, Frame::KIND, name, 0);                                \
    }                                                                                \
    xo_ssize_t xo_open_##kind##_hd(xo_handle_t *xop, const char *name)               \
    {                                                                                \
        return open_call(xop, Frame::KIND, name, XOF_DTRT);                          \
    }                                                                                \
    xo_ssize_t xo_open_##kind##_d(const char *name)                                  \
    {                                                                                \
        return open_call(NULL, Frame::KIND, name, XOF_DTRT);                         \
    }                                                                                \
    xo_ssize_t xo_close_##kind##_h(xo_handle_t *xop, const char *name)               \
    {                                                                                \
        return close_call(xop, Frame::KIND, name);                                   \
    }                                                                                \
    xo_ssize_t xo_close_##kind(const char *name)                                     \
    {                                                                                \
        return close_call(NULL, Frame::KIND, name);                                  \
    }                                                                                \
    xo_ssize_t xo_close_##kind##_hd(xo_handle_t *xop)                                \
    {                                                                                \
        return close_call(xop, Frame::KIND, NULL);                                   \
    }                                                                                \
    xo_ssize_t xo_close_##kind##_d(void)                                             \
    {                                                                                \
        return close_call(NULL, Frame::KIND, NULL);                                  \
    }

XO_FRAME_CALLS(container, CONTAINER)
XO_FRAME_CALLS(list, LIST)
XO_FRAME_CALLS(instance, INSTANCE)

xo_ssize_t xo_open_marker_h(xo_handle_t *xop, const char *name)
{
    return open_call(xop, Frame::MARKER, name, 0);
}

xo_ssize_t xo_open_marker(const char *name)
{
    return open_call(NULL, Frame::MARKER, name, 0);
}

xo_ssize_t xo_close_marker_h(xo_handle_t *xop, const char *name)
{
    return close_call(xop, Frame::MARKER, name);
}

xo_ssize_t xo_close_marker(const char *name)
{
    return close_call(NULL, Frame::MARKER, name);
}

xo_ssize_t xo_attr_hv(xo_handle_t *xop, const char *name, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    xo_ssize_t n = guarded([&] { return xo::attr_call(handle(xop), name, fmt, ap); }, xo_ssize_t{-1});
    va_end(ap);
    return n;
}

xo_ssize_t xo_attr_h(xo_handle_t *xop, const char *name, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_ssize_t n = xo_attr_hv(xop, name, fmt, ap);
    va_end(ap);
    return n;
}

xo_ssize_t xo_attr(const char *name, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_ssize_t n = xo_attr_hv(NULL, name, fmt, ap);
    va_end(ap);
    return n;
}

int xo_map_add(xo_handle_t *xop, const char *from, size_t flen, const char *to, size_t tlen)
{
    return guarded(
        [&] {
            if (!from || !to)
                return -1;
            xo::add_name(handle(xop), std::string_view(from, flen), std::string_view(to, tlen));
            return 0;
        },
        -1);
}

int xo_map_add_file(xo_handle_t *xop, const char *fname)
{
    return guarded([&] { return xo::add_names_file(handle(xop), fname) ? 0 : -1; }, -1);
}

int xo_filter_add(xo_handle_t *xop, const char *)
{
    return guarded([&] { return xo::unsupported(handle(xop), "xo_filter_add"); }, -1);
}

xo_ssize_t xo_flush_h(xo_handle_t *xop)
{
    return guarded_write([&] { return xo::write_pending(handle(xop)); });
}

xo_ssize_t xo_flush(void)
{
    return xo_flush_h(NULL);
}

xo_ssize_t xo_finish_h(xo_handle_t *xop)
{
    return guarded_write([&] { return xo::finish(handle(xop)); });
}

xo_ssize_t xo_finish(void)
{
    return xo_finish_h(NULL);
}

void xo_finish_atexit(void)
{
    (void)xo_finish();
}

} // extern "C"
