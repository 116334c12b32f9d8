// What the C entry points do, apart from guarding against exceptions.
#include "calls.h"

#include <cstring>

#include "diag.h"
#include "frames.h"
#include "style.h"

namespace xo {

void set_version(Handle &h, const char *version)
{
    // libxo takes no version that would need quoting.
    if (!version || std::strchr(version, '"'))
        return;
    h.version = version;
    start_output(h);
    style_of(h).version(h);
    after_call(h, false);
}

void warn_call(const char *fmt, va_list ap, const int *error)
{
    user_warning(default_handle(), fmt, ap, error);
}

void error_call(Handle &h, const char *fmt, va_list ap)
{
    std::string msg = vformat(fmt, ap);
    start_output(h);
    const StyleOps &style = style_of(h);
    style.error(h, msg);
    if (style.error_element)
        error_element(h, msg);
    after_call(h, false);
}

} // namespace xo
