// --libxo command-line options.
#include "xo_internal.h"

#include <cstring>

namespace xo {

namespace {

struct Keyword {
    const char *name;
    xo_xof_flags_t set;
    xo_xof_flags_t clear;
};

// Keywords that only set or clear flags.  Several have no effect on the
// output of this layer; they are accepted so that command lines written
// for libxo keep working.
const Keyword keywords[] = {
    {"pretty", XOF_PRETTY, 0},
    {"warn", XOF_WARN, 0},
    {"keys", XOF_KEYS, 0},
    {"underscores", XOF_UNDERSCORES, 0},
    {"no-top", XOF_NO_TOP, 0},
    {"flush", XOF_FLUSH, 0},
    {"flush-line", XOF_FLUSH_LINE, 0},
    {"columns", XOF_COLUMNS, 0},
    {"not-first", XOF_NOT_FIRST, 0},
    {"xpath", XOF_XPATH, 0},
    {"info", XOF_INFO, 0},
    {"warn-xml", XOF_WARN_XML, 0},
    {"dtrt", XOF_DTRT, 0},
    {"log-gettext", XOF_LOG_GETTEXT, 0},
    {"log-syslog", XOF_LOG_SYSLOG, 0},
    {"no-humanize", XOF_NO_HUMANIZE, 0},
    {"no-locale", XOF_NO_LOCALE, 0},
    {"no-retain", XOF_RETAIN_NONE, 0},
    {"retain", XOF_RETAIN_ALL, 0},
    {"units", XOF_UNITS, 0},
    {"ignore-close", XOF_IGNORE_CLOSE, 0},
    {"allow-color", XOF_COLOR_ALLOWED, 0},
    {"color", XOF_COLOR_ALLOWED | XOF_COLOR, 0},
    {"no-color", 0, XOF_COLOR | XOF_COLOR_ALLOWED},
    {"debug", 0, 0},
};

struct Settings {
    xo_style_t style;
    bool style_set = false;
    xo_xof_flags_t set = 0;
    xo_xof_flags_t clear = 0;
    unsigned indent = 0;
    bool indent_set = false;
};

bool parse_number(const char *s, unsigned &out)
{
    if (!*s)
        return false;
    unsigned long v = 0;
    for (; *s; s++) {
        if (*s < '0' || *s > '9')
            return false;
        v = v * 10 + static_cast<unsigned long>(*s - '0');
        if (v > 64)
            return false;
    }
    out = static_cast<unsigned>(v);
    return true;
}

// "--libxo=json,pretty" and "--libxo json,pretty".
bool parse_keywords(Handle &h, const char *list, Settings &st)
{
    std::string all(list);
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t comma = all.find(',', pos);
        if (comma == std::string::npos)
            comma = all.size();
        std::string word = all.substr(pos, comma - pos);
        pos = comma + 1;
        if (word.empty())
            continue;
        std::string key = word, val;
        size_t eq = word.find('=');
        if (eq != std::string::npos) {
            key = word.substr(0, eq);
            val = word.substr(eq + 1);
        }
        bool ok = true;
        if (eq == std::string::npos && (key == "text" || key == "xml" || key == "json" || key == "html")) {
            st.style = key == "text" ? XO_STYLE_TEXT
                       : key == "xml" ? XO_STYLE_XML
                       : key == "json" ? XO_STYLE_JSON
                                       : XO_STYLE_HTML;
            st.style_set = true;
        } else if (key == "indent" && eq != std::string::npos) {
            ok = parse_number(val.c_str(), st.indent);
            st.indent_set = ok;
        } else if ((key == "colors" || key == "encoder") && eq != std::string::npos && !val.empty()) {
            // Accepted; colors and external encoders are not supported.
        } else if (eq == std::string::npos) {
            ok = false;
            for (const Keyword &k : keywords) {
                if (key == k.name) {
                    st.set = (st.set & ~k.clear) | k.set;
                    st.clear = (st.clear & ~k.set) | k.clear;
                    ok = true;
                    break;
                }
            }
        } else {
            ok = false;
        }
        if (!ok) {
            write_stderr(h, (program_name(h).empty() ? std::string() : program_name(h) + ": ") +
                                "unknown libxo option value: '" + word + "'\n");
            return false;
        }
    }
    return true;
}

// "--libxo:JP": one letter per setting.
bool parse_letters(Handle &h, const char *s, Settings &st)
{
    for (; *s; s++) {
        switch (*s) {
        case 'T': st.style = XO_STYLE_TEXT; st.style_set = true; break;
        case 'X': st.style = XO_STYLE_XML; st.style_set = true; break;
        case 'J': st.style = XO_STYLE_JSON; st.style_set = true; break;
        case 'H': st.style = XO_STYLE_HTML; st.style_set = true; break;
        case 'P': st.set |= XOF_PRETTY; break;
        case 'W': st.set |= XOF_WARN; break;
        case 'k': st.set |= XOF_KEYS; break;
        case 'u': st.set |= XOF_UNDERSCORES; break;
        case 'F': st.set |= XOF_FLUSH_LINE; break;
        case 'f': st.set |= XOF_FLUSH; break;
        case 'I': st.set |= XOF_INFO; break;
        case 'x': st.set |= XOF_XPATH; break;
        case 'n': st.set |= XOF_NO_HUMANIZE; break;
        case 'U': st.set |= XOF_UNITS; break;
        case 'c': st.set |= XOF_COLOR_ALLOWED | XOF_COLOR; break;
        case 'i': {
            unsigned v = 0;
            bool any = false;
            while (s[1] >= '0' && s[1] <= '9') {
                v = v * 10 + static_cast<unsigned>(s[1] - '0');
                if (v > 64)
                    v = 64;
                any = true;
                s++;
            }
            if (!any)
                v = 2;
            st.indent = v;
            st.indent_set = true;
            break;
        }
        default:
            write_stderr(h, (program_name(h).empty() ? std::string() : program_name(h) + ": ") +
                                "unknown option: '" + std::string(1, *s) + "'\n");
            return false;
        }
    }
    return true;
}

void missing(Handle &h)
{
    write_stderr(h, (program_name(h).empty() ? std::string() : program_name(h) + ": ") +
                        "missing libxo option\n");
}

} // namespace

int parse_args(Handle &h, int argc, char **argv)
{
    if (argc <= 0 || !argv)
        return argc;
    if (argv[0]) {
        const char *base = strrchr(argv[0], '/');
        h.program = base ? base + 1 : argv[0];
        h.program_set = true;
    }
    Settings st;
    std::vector<char *> keep;
    keep.push_back(argv[0]);
    int i = 1;
    for (; i < argc; i++) {
        char *a = argv[i];
        if (!a)
            break;
        if (strcmp(a, "--") == 0)
            break; // the rest belongs to the program
        if (strncmp(a, "--libxo", 7) != 0 || (a[7] != '\0' && a[7] != '=' && a[7] != ':')) {
            keep.push_back(a);
            continue;
        }
        bool ok;
        if (a[7] == '\0') {
            if (i + 1 >= argc || !argv[i + 1] || !*argv[i + 1]) {
                missing(h);
                return -1;
            }
            ok = parse_keywords(h, argv[++i], st);
        } else if (a[8] == '\0') {
            missing(h);
            return -1;
        } else if (a[7] == '=') {
            ok = parse_keywords(h, a + 8, st);
        } else {
            ok = parse_letters(h, a + 8, st);
        }
        if (!ok)
            return -1;
    }
    for (; i < argc && argv[i]; i++)
        keep.push_back(argv[i]);

    if (st.style_set)
        h.style = st.style;
    h.flags = (h.flags & ~st.clear) | st.set;
    if (st.indent_set)
        h.indent_width = st.indent;
    size_t n = keep.size();
    for (size_t k = 0; k < n; k++)
        argv[k] = keep[k];
    argv[n] = nullptr;
    return static_cast<int>(n);
}

} // namespace xo
