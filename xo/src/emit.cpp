// xo_emit: field descriptors and their output in each style.
#include "xo_internal.h"

namespace xo {

namespace {

constexpr int max_fields = 1024;

enum Mod : unsigned {
    M_KEY = 1u << 0,
    M_WS = 1u << 1,
    M_ENC = 1u << 2,
    M_DISP = 1u << 3,
    M_QUOTE = 1u << 4,
    M_NOQUOTE = 1u << 5,
    M_COLON = 1u << 6,
    M_TRIM = 1u << 7,
    M_ARG = 1u << 8,
    M_OTHER = 1u << 9, // accepted, no effect here (l h g p)
};

struct Emitter {
    Handle &h;
    std::string_view fmt;
    ArgPool pool;
    size_t columns = 0;
    bool count_columns;
    bool newline = false;
    bool pretty;

    Emitter(Handle &hh, const char *f, va_list *ap)
        : h(hh), fmt(f), pool(ap, hh.scratch_args), count_columns(has(hh, XOF_COLUMNS)), pretty(has(hh, XOF_PRETTY))
    {
    }

    void warn(const std::string &what)
    {
        libxo_warning(h, what + " in '" + std::string(fmt) + "'");
    }

    void html_div(const char *cls, std::string_view text, std::string_view tag, bool key)
    {
        html_open_line(h);
        if (pretty)
            indent(h, 1);
        h.out.append("<div class=\"");
        h.out.append(cls);
        h.out.push_back('"');
        if (!tag.empty()) {
            h.out.append(" data-tag=\"");
            escape_html(h.out, field_name(h, tag), true);
            h.out.push_back('"');
        }
        if (key && has(h, XOF_KEYS))
            h.out.append(" data-key=\"key\"");
        h.out.push_back('>');
        escape_html(h.out, text, false);
        h.out.append("</div>");
        if (pretty)
            h.out.push_back('\n');
    }

    void literal(std::string_view text)
    {
        if (text.empty())
            return;
        if (count_columns)
            columns += string_columns(text);
        if (h.style == XO_STYLE_TEXT)
            h.out.append(text);
        else if (h.style == XO_STYLE_HTML)
            html_div("text", text, {}, false);
    }

    void end_line()
    {
        newline = true;
        if (h.style == XO_STYLE_TEXT) {
            h.out.push_back('\n');
        } else if (h.style == XO_STYLE_HTML) {
            html_open_line(h);
            html_close_line(h);
        }
    }

    bool field(std::string_view desc);
    bool run();
};

void trim(std::string &s)
{
    size_t b = s.find_first_not_of(" \t\n\r\f\v");
    if (b == std::string::npos) {
        s.clear();
        return;
    }
    size_t e = s.find_last_not_of(" \t\n\r\f\v");
    s.erase(e + 1);
    s.erase(0, b);
}

// A JSON number, possibly surrounded by blanks (as padding leaves it).
bool json_number(std::string_view s)
{
    size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ')
        i++;
    while (n > i && s[n - 1] == ' ')
        n--;
    if (i == n)
        return false;
    if (s[i] == '-')
        i++;
    if (i == n || s[i] < '0' || s[i] > '9')
        return false;
    if (s[i] == '0')
        return i + 1 == n;
    for (; i < n; i++)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

const char *html_class(char role)
{
    switch (role) {
    case 'T': return "title";
    case 'L': return "label";
    case 'D': return "decoration";
    case 'P': return "padding";
    case 'N': return "note";
    case 'U': return "units";
    case 'E': return "error";
    case 'W': return "warning";
    default: return "data";
    }
}

bool Emitter::field(std::string_view desc)
{
    pool.next_field();

    // Roles and modifiers run up to the colon; without one, up to the
    // formats, and the field has no name.
    std::string_view mods = desc, content;
    size_t sep = desc.find_first_of(":/");
    if (sep != std::string_view::npos) {
        mods = desc.substr(0, sep);
        content = desc.substr(desc[sep] == ':' ? sep + 1 : sep);
    }
    std::string_view name = content, tfmt, efmt;
    size_t s1 = content.find('/');
    if (s1 != std::string_view::npos) {
        name = content.substr(0, s1);
        std::string_view rest = content.substr(s1 + 1);
        size_t s2 = rest.find('/');
        tfmt = rest.substr(0, s2);
        if (s2 != std::string_view::npos)
            efmt = rest.substr(s2 + 1);
    }

    char role = 'V';
    unsigned m = 0;
    for (char c : mods) {
        switch (c) {
        case 'T': case 'V': case 'L': case 'D': case 'P':
        case 'N': case 'U': case 'E': case 'W': case 'C': case 'G':
            role = c;
            break;
        case 'k': m |= M_KEY; break;
        case 'w': m |= M_WS; break;
        case 'e': m |= M_ENC; break;
        case 'd': m |= M_DISP; break;
        case 'q': m |= M_QUOTE; break;
        case 'n': m |= M_NOQUOTE; break;
        case 'c': m |= M_COLON; break;
        case 't': m |= M_TRIM; break;
        case 'a': m |= M_ARG; break;
        case 'l': case 'h': case 'g': case 'p': m |= M_OTHER; break;
        default:
            warn(std::string("unknown field modifier '") + c + "'");
            break;
        }
    }

    std::string arg_name;
    if (m & M_ARG) {
        const Arg *a = pool.get(0, Arg::PTR);
        const char *s = a ? static_cast<const char *>(a->ptr) : nullptr;
        arg_name = s ? s : "";
        name = arg_name;
        pool.rebase();
    }

    const bool value = role == 'V';
    if (name.empty() && tfmt.empty() && efmt.empty()) {
        // Nothing to show and nothing that asks for an argument.
        if (value)
            warn("field without a name or a format");
        return true;
    }
    std::string &disp = h.scratch_display;
    std::string &enc = h.scratch_encoding;
    disp.clear();
    enc.clear();

    std::string_view disp_fmt = !tfmt.empty() ? tfmt : !efmt.empty() ? efmt : std::string_view("%s");
    std::string_view enc_fmt = !efmt.empty() ? efmt : disp_fmt;
    bool want_enc = value && !(m & M_DISP) &&
                    (h.style == XO_STYLE_XML || h.style == XO_STYLE_JSON);
    bool shown = !(m & M_ENC) && role != 'C' && role != 'G';
    bool numeric = false;

    if (value && (m & M_ENC)) {
        // Only the encoding format matters; it alone takes the arguments.
        FormatResult r = format_printf(enc, enc_fmt, pool);
        if (!r.ok) {
            warn(r.error);
            return false;
        }
        numeric = r.numeric;
    } else {
        if (!value && !name.empty()) {
            // The content is the text; a format, if any, applies to it.
            if (tfmt.empty()) {
                disp.assign(name);
            } else {
                std::string text(name);
                ArgPool fixed(text.c_str());
                FormatResult r = format_printf(disp, tfmt, fixed);
                if (!r.ok) {
                    warn(r.error);
                    return false;
                }
            }
        } else {
            FormatResult r = format_printf(disp, disp_fmt, pool);
            if (!r.ok) {
                warn(r.error);
                return false;
            }
        }
        if (want_enc) {
            FormatResult r = format_printf(enc, enc_fmt, pool);
            if (!r.ok) {
                warn(r.error);
                return false;
            }
            numeric = r.numeric;
        }
    }

    if (shown) {
        if (m & M_TRIM)
            trim(disp);
        if (m & M_COLON)
            disp.push_back(':');
        if (count_columns)
            columns += string_columns(disp) + ((m & M_WS) ? 1 : 0);
        if (h.style == XO_STYLE_TEXT) {
            h.out.append(disp);
            if (m & M_WS)
                h.out.push_back(' ');
        } else if (h.style == XO_STYLE_HTML) {
            html_div(html_class(role), disp, value ? name : std::string_view(), (m & M_KEY) != 0);
            if (m & M_WS)
                html_div("padding", " ", {}, false);
        }
    }

    if (want_enc) {
        if (name.empty()) {
            warn("missing field name");
            return true;
        }
        if (m & M_TRIM)
            trim(enc);
        bool quoted;
        if (m & M_QUOTE)
            quoted = true;
        else if (m & M_NOQUOTE)
            quoted = false;
        else
            quoted = !(numeric && json_number(enc));
        write_leaf(h, name, enc, quoted, (m & M_KEY) != 0);
    }
    return true;
}

bool Emitter::run()
{
    const size_t n = fmt.size();
    std::string text; // pending literal text
    int fields = 0;
    size_t i = 0;
    bool ok = true;
    while (i < n) {
        char c = fmt[i];
        if (c == '{') {
            if (i + 1 < n && fmt[i + 1] == '{') {
                text.push_back('{');
                i += 2;
                continue;
            }
            literal(text);
            text.clear();
            size_t close = fmt.find('}', i + 1);
            if (close == std::string_view::npos) {
                warn("unclosed field descriptor");
                ok = false;
                break;
            }
            if (++fields > max_fields) {
                warn("too many fields");
                ok = false;
                break;
            }
            if (!field(fmt.substr(i + 1, close - i - 1))) {
                ok = false;
                break;
            }
            i = close + 1;
        } else if (c == '}') {
            text.push_back('}');
            i += (i + 1 < n && fmt[i + 1] == '}') ? 2 : 1;
        } else if (c == '\n') {
            literal(text);
            text.clear();
            end_line();
            i++;
        } else {
            size_t next = fmt.find_first_of("{}\n", i);
            if (next == std::string_view::npos)
                next = n;
            text.append(fmt.data() + i, next - i);
            i = next;
        }
    }
    literal(text);
    return ok;
}

} // namespace

void write_leaf(Handle &h, std::string_view name, std::string_view value, bool quoted, bool key)
{
    bool pretty = has(h, XOF_PRETTY);
    if (h.style == XO_STYLE_XML) {
        if (pretty)
            indent(h, xml_depth(h));
        std::string tag = field_name(h, name);
        h.out.push_back('<');
        h.out.append(tag);
        if (key && has(h, XOF_KEYS))
            h.out.append(" key=\"key\"");
        h.out.push_back('>');
        escape_xml(h.out, value, false);
        h.out.append("</");
        h.out.append(tag);
        h.out.push_back('>');
        if (pretty)
            h.out.push_back('\n');
    } else if (h.style == XO_STYLE_JSON) {
        // A lone value directly inside a list becomes a one-member object,
        // so that the array stays valid JSON.
        bool in_list = !h.stack.empty() && h.stack.back().kind == Frame::LIST;
        json_begin_item(h, in_list);
        if (in_list)
            h.out.push_back('{');
        h.out.push_back('"');
        escape_json(h.out, field_name(h, name));
        h.out.append(pretty ? "\": " : "\":");
        if (quoted)
            h.out.push_back('"');
        escape_json(h.out, value);
        if (quoted)
            h.out.push_back('"');
        if (in_list)
            h.out.push_back('}');
    }
}

std::string field_name(const Handle &h, std::string_view name)
{
    std::string s(name);
    if (has(h, XOF_UNDERSCORES))
        for (char &c : s)
            if (c == '-')
                c = '_';
    return s;
}

ssize_t emit(Handle &h, const char *fmt, va_list *ap)
{
    if (!fmt) {
        libxo_warning(h, "null format string");
        return -1;
    }
    start_output(h);
    size_t before = h.out.size();
    Emitter e(h, fmt, ap);
    bool ok = e.run();
    ssize_t ret = has(h, XOF_COLUMNS) ? static_cast<ssize_t>(e.columns)
                                      : static_cast<ssize_t>(h.out.size() - before);
    after_call(h, e.newline);
    return ok ? ret : -1;
}

} // namespace xo
