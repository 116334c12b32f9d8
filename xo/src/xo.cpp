/* SPDX-License-Identifier: BSD-2-Clause */
// The C interface, part one: handles, their settings and xo_emit.  Each
// entry point hands over to the library and makes sure that no exception
// (allocation failure included) leaves it, and that errno is as the
// caller left it.
#include <libxo/xo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "args.h"
#include "boundary.h"
#include "calls.h"
#include "diag.h"
#include "emit.h"
#include "field.h"

using xo::guarded;
using xo::guarded_write;
using xo::handle;
using xo::Handle;

namespace {

// The formats that xo_emit calls asked to retain, as libxo identifies
// them: by their address.  The layer parses formats fast enough not to
// keep anything else; it counts the hits as libxo does.
struct Retained {
    std::set<const char *> formats;
    unsigned long hits = 0;
};

Retained &retained()
{
    static Retained r;
    return r;
}

void retain(xo_handle_t *xop, xo_emit_flags_t flags, const char *fmt)
{
    xo_xof_flags_t f = handle(xop).flags;
    bool keep = ((flags & XOEF_RETAIN) || (f & XOF_RETAIN_ALL)) && !(f & XOF_RETAIN_NONE) &&
                !(flags & XOEF_NO_RETAIN);
    // A format without fields is written as it is, and never retained.
    if (!keep || !fmt || !std::strchr(fmt, '{'))
        return;
    if (!retained().formats.insert(fmt).second)
        retained().hits++;
}

} // namespace

extern "C" {

const char xo_version[] = "1.7.5";
const char xo_version_extra[] = "-bundled";

xo_handle_t *xo_create(xo_style_t style, xo_xof_flags_t flags)
{
    return guarded(
        [&]() -> xo_handle_t * {
            auto *h = new xo_handle_s;
            h->style = style <= XO_STYLE_HTML ? style : XO_STYLE_TEXT;
            h->flags = flags;
            return h;
        },
        static_cast<xo_handle_t *>(nullptr));
}

xo_handle_t *xo_create_to_file(FILE *fp, xo_style_t style, xo_xof_flags_t flags)
{
    xo_handle_t *xop = xo_create(style, flags);
    if (xop && fp)
        handle(xop).writer.fp = fp;
    return xop;
}

void xo_destroy(xo_handle_t *xop)
{
    guarded([&] {
        Handle &h = handle(xop);
        xo::write_pending(h);
        xo::close_output(h);
        if (xop)
            delete xop;
        else
            h = Handle{};
    });
}

void xo_set_writer(xo_handle_t *xop, void *opaque, xo_write_func_t write_func, xo_close_func_t close_func,
                   xo_flush_func_t flush_func)
{
    guarded([&] {
        xo::Writer &w = handle(xop).writer;
        w.opaque = opaque;
        w.write = write_func;
        w.close = close_func;
        w.flush = flush_func;
    });
}

void xo_set_allocator(xo_realloc_func_t, xo_free_func_t)
{
    guarded([&] { xo::unsupported(xo::default_handle(), "xo_set_allocator"); });
}

void xo_set_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    guarded([&] { handle(xop).flags |= flags; });
}

void xo_clear_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    guarded([&] { handle(xop).flags &= ~flags; });
}

xo_xof_flags_t xo_get_flags(xo_handle_t *xop)
{
    return guarded([&] { return handle(xop).flags; }, xo_xof_flags_t{0});
}

int xo_isset_flags(xo_handle_t *xop, xo_xof_flags_t flags)
{
    return guarded([&] { return (handle(xop).flags & flags) != 0 ? 1 : 0; }, 0);
}

void xo_set_style(xo_handle_t *xop, xo_style_t style)
{
    guarded([&] {
        if (style <= XO_STYLE_HTML)
            handle(xop).style = style;
    });
}

xo_style_t xo_get_style(xo_handle_t *xop)
{
    return guarded([&] { return handle(xop).style; }, xo_style_t{XO_STYLE_TEXT});
}

int xo_set_style_name(xo_handle_t *xop, const char *style)
{
    return guarded([&] { return xo::set_style_name(handle(xop), style) ? 0 : -1; }, -1);
}

int xo_set_options(xo_handle_t *xop, const char *input)
{
    return guarded([&] { return xo::set_options(handle(xop), input); }, -1);
}

int xo_set_file_h(xo_handle_t *xop, FILE *fp)
{
    return guarded(
        [&] {
            Handle &h = handle(xop);
            if (!fp) {
                xo::libxo_warning(h, "xo_set_file: NULL fp");
                return -1;
            }
            h.writer = xo::Writer{};
            h.writer.fp = fp;
            return 0;
        },
        -1);
}

int xo_set_file(FILE *fp)
{
    return xo_set_file_h(NULL, fp);
}

void xo_set_info(xo_handle_t *xop, xo_info_t *infop, int count)
{
    guarded([&] {
        Handle &h = handle(xop);
        h.info.clear();
        if (!infop)
            return;
        // Kept in the caller's order: libxo looks names up as if it were
        // sorted.  A count below 0 means up to an entry without a name.
        for (int i = 0; count < 0 ? infop[i].xi_name != nullptr : i < count; i++)
            if (infop[i].xi_name)
                h.info.push_back(infop[i]);
    });
}

void xo_set_formatter(xo_handle_t *xop, xo_formatter_t, xo_checkpointer_t)
{
    guarded([&] { xo::unsupported(handle(xop), "xo_set_formatter"); });
}

void xo_set_depth(xo_handle_t *xop, int)
{
    guarded([&] { xo::unsupported(handle(xop), "xo_set_depth"); });
}

void xo_set_leading_xpath(xo_handle_t *xop, const char *path)
{
    guarded([&] { handle(xop).leading_xpath = path ? path : ""; });
}

void xo_no_setlocale(void)
{
    guarded([&] { xo::skip_setlocale(); });
}

int xo_parse_args(int argc, char **argv)
{
    return guarded([&] { return xo::parse_args(xo::default_handle(), argc, argv); }, -1);
}

void xo_set_program(const char *name)
{
    guarded([&] { xo::set_program(xo::default_handle(), name); });
}

void xo_set_version(const char *version)
{
    xo_set_version_h(NULL, version);
}

void xo_set_version_h(xo_handle_t *xop, const char *version)
{
    guarded([&] { xo::set_version(handle(xop), version); });
}

void xo_dump_stack(xo_handle_t *xop)
{
    guarded([&] { xo::unsupported(handle(xop), "xo_dump_stack"); });
}

xo_ssize_t xo_emit_hvf(xo_handle_t *xop, xo_emit_flags_t flags, const char *fmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    xo_ssize_t n = guarded(
        [&] {
            retain(xop, flags, fmt);
            return xo::emit(handle(xop), fmt, &ap);
        },
        xo_ssize_t{-1});
    va_end(ap);
    return n;
}

xo_ssize_t xo_emit_hv(xo_handle_t *xop, const char *fmt, va_list vap)
{
    return xo_emit_hvf(xop, 0, fmt, vap);
}

#define XO_EMIT_BODY(xop, flags)                    \
    va_list ap;                                     \
    va_start(ap, fmt);                              \
    xo_ssize_t n = xo_emit_hvf(xop, flags, fmt, ap); \
    va_end(ap);                                     \
    return n

xo_ssize_t xo_emit_h(xo_handle_t *xop, const char *fmt, ...)
{
    XO_EMIT_BODY(xop, 0);
}

xo_ssize_t xo_emit(const char *fmt, ...)
{
    XO_EMIT_BODY(NULL, 0);
}

xo_ssize_t xo_emitr(const char *fmt, ...)
{
    XO_EMIT_BODY(NULL, XOEF_RETAIN);
}

xo_ssize_t xo_emit_hf(xo_handle_t *xop, xo_emit_flags_t flags, const char *fmt, ...)
{
    XO_EMIT_BODY(xop, flags);
}

xo_ssize_t xo_emit_f(xo_emit_flags_t flags, const char *fmt, ...)
{
    XO_EMIT_BODY(NULL, flags);
}

xo_ssize_t xo_emit_field_hvf(xo_handle_t *xop, xo_emit_flags_t flags, const char *rolmod, const char *contents,
                             const char *fmt, const char *efmt, va_list vap)
{
    va_list ap;
    va_copy(ap, vap);
    xo_ssize_t n = guarded(
        [&] {
            // One field: its descriptor made from the parts.
            std::string desc = xo::field_descriptor(rolmod, contents, fmt, efmt);
            return xo::emit(handle(xop), desc.c_str(), &ap, true);
        },
        xo_ssize_t{-1});
    (void)flags; // nothing is retained of a format made here
    va_end(ap);
    return n;
}

xo_ssize_t xo_emit_field_hv(xo_handle_t *xop, const char *rolmod, const char *contents, const char *fmt,
                            const char *efmt, va_list vap)
{
    return xo_emit_field_hvf(xop, 0, rolmod, contents, fmt, efmt, vap);
}

#define XO_EMIT_FIELD_BODY(xop, flags)                                               \
    va_list ap;                                                                      \
    va_start(ap, efmt);                                                              \
    xo_ssize_t n = xo_emit_field_hvf(xop, flags, rolmod, contents, fmt, efmt, ap);   \
    va_end(ap);                                                                      \
    return n

xo_ssize_t xo_emit_field_h(xo_handle_t *xop, const char *rolmod, const char *contents, const char *fmt,
                           const char *efmt, ...)
{
    XO_EMIT_FIELD_BODY(xop, 0);
}

xo_ssize_t xo_emit_field_f(xo_emit_flags_t flags, const char *rolmod, const char *contents, const char *fmt,
                           const char *efmt, ...)
{
    XO_EMIT_FIELD_BODY(NULL, flags);
}

xo_ssize_t xo_emit_field(const char *rolmod, const char *contents, const char *fmt, const char *efmt, ...)
{
    XO_EMIT_FIELD_BODY(NULL, 0);
}

char *xo_simplify_format(xo_handle_t *xop, const char *, int, xo_simplify_field_func_t)
{
    guarded([&] { xo::unsupported(handle(xop), "xo_simplify_format"); });
    return nullptr;
}

void xo_retain_clear_all(void)
{
    guarded([&] { retained().formats.clear(); });
}

void xo_retain_clear(const char *fmt)
{
    guarded([&] { retained().formats.erase(fmt); });
}

unsigned long xo_retain_get_hits(void)
{
    return guarded([&] { return retained().hits; }, 0UL);
}

} // extern "C"
