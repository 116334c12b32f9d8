/* SPDX-License-Identifier: BSD-2-Clause */
// --libxo command-line options, read as libxo reads them.
#include "args.h"

#include <cstdlib>
#include <cstring>

#include "diag.h"
#include "names.h"

namespace xo {

namespace {

struct Keyword {
    const char *name;
    xo_xof_flags_t flags;
};

// Keywords that set flags, in the order in which a prefix is looked up:
// the first keyword that starts with the given word wins ("p" is
// "pretty").  Several have no effect on the output of this layer; they
// are accepted so that command lines written for libxo keep working.
const Keyword keywords[] = {
    {"color", XOF_COLOR_ALLOWED},
    {"color-force", XOF_COLOR},
    {"columns", XOF_COLUMNS},
    {"debug", flag_debug},
    {"dtrt", XOF_DTRT},
    {"flush", XOF_FLUSH},
    {"flush-line", XOF_FLUSH_LINE},
    {"ignore-close", XOF_IGNORE_CLOSE},
    {"info", XOF_INFO},
    {"keys", XOF_KEYS},
    {"log-gettext", XOF_LOG_GETTEXT},
    {"log-syslog", XOF_LOG_SYSLOG},
    {"no-humanize", XOF_NO_HUMANIZE},
    {"no-locale", XOF_NO_LOCALE},
    {"no-retain", XOF_RETAIN_NONE},
    {"no-top", XOF_NO_TOP},
    {"not-first", XOF_NOT_FIRST},
    {"pretty", XOF_PRETTY},
    {"retain", XOF_RETAIN_ALL},
    {"underscores", XOF_UNDERSCORES},
    {"units", XOF_UNITS},
    {"warn", XOF_WARN},
    {"warn-xml", XOF_WARN_XML},
    {"xpath", XOF_XPATH},
};

// One letter each, after "--libxo:".
struct Letter {
    char letter;
    xo_xof_flags_t flags;
};

const Letter letters[] = {
    {'F', XOF_FLUSH_LINE}, {'I', XOF_INFO},   {'P', XOF_PRETTY},          {'U', XOF_UNITS},
    {'W', XOF_WARN},       {'c', XOF_COLOR_ALLOWED}, {'f', XOF_FLUSH},    {'g', XOF_LOG_GETTEXT},
    {'k', XOF_KEYS},       {'n', XOF_NO_HUMANIZE}, {'u', XOF_UNDERSCORES}, {'x', XOF_XPATH},
};

// An indent value as atoi reads it, kept within reason.
unsigned indent_value(const char *s)
{
    unsigned long v = 0;
    while (*s >= '0' && *s <= '9' && v <= 4096)
        v = v * 10 + static_cast<unsigned long>(*s++ - '0');
    return static_cast<unsigned>(v > 4096 ? 4096 : v);
}

bool style_name(const std::string &name, xo_style_t &style)
{
    static const char *const names[] = {"text", "xml", "json", "html"};
    for (xo_style_t s = XO_STYLE_TEXT; s <= XO_STYLE_HTML; s++) {
        if (name == names[s]) {
            style = s;
            return true;
        }
    }
    return false;
}

const Keyword *find_keyword(const std::string &word)
{
    for (const Keyword &k : keywords)
        if (std::strncmp(k.name, word.c_str(), word.size()) == 0)
            return &k;
    return nullptr;
}

class OptionParser {
public:
    explicit OptionParser(Handle &h) : h_(h) {}
    bool keywords(const std::string &list);
    void brief(const char *s);

private:
    Handle &h_;
    bool style_seen_ = false;

    void warn(const std::string &msg) { write_stderr(h_, diag_prefix(h_) + msg + "\n"); }
    // Said only when the warn flag is set.
    void note(const std::string &msg)
    {
        if (has(h_, XOF_WARN))
            warn(msg);
    }
    bool word(const std::string &w);
    bool valued(const std::string &name, const std::string &value);
};

// "json,pretty": comma-separated words, each "name", "name=value" or
// "name:value".  A trailing comma is allowed, an empty word is not.  As
// in libxo, every word is taken even after a wrong one.
bool OptionParser::keywords(const std::string &list)
{
    style_seen_ = false;
    if (list.empty())
        return true;
    if (list[0] == ':') {
        brief(list.c_str() + 1);
        return true;
    }
    size_t pos = 0;
    bool ok = true;
    for (;;) {
        size_t comma = list.find(',', pos);
        std::string w = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        ok = word(w) && ok;
        if (comma == std::string::npos || comma + 1 == list.size())
            return ok;
        pos = comma + 1;
    }
}

bool OptionParser::word(const std::string &w)
{
    // "@name:options" is libxo's short form of "encoder=name:options".
    if (!w.empty() && w[0] == '@')
        return valued("encoder", w.substr(1));
    size_t sep = w.find_first_of("=:");
    std::string name = w.substr(0, sep);
    if (sep != std::string::npos)
        return valued(name, w.substr(sep + 1));
    xo_style_t style;
    if (!name.empty() && style_name(name, style)) {
        if (style_seen_) {
            warn("ignoring multiple styles: '" + name + "'");
            return true;
        }
        style_seen_ = true;
        // Text is where every handle starts: naming it changes nothing.
        if (style != XO_STYLE_TEXT)
            h_.style = style;
        return true;
    }
    if (name == "no-color") {
        h_.flags &= ~(XOF_COLOR | XOF_COLOR_ALLOWED);
        return true;
    }
    if (name == "indent" || name == "encoder" || name == "map" || name == "map-file") {
        note("missing value for " + name + " option");
        return true;
    }
    if (name == "colors")
        return true;
    const Keyword *k = name.empty() ? nullptr : find_keyword(name);
    if (!k) {
        warn("unknown libxo option value: '" + name + "'");
        return false;
    }
    h_.flags |= k->flags;
    return true;
}

// A word with a value: the value matters to indent, encoder and the
// field renaming options only.
bool OptionParser::valued(const std::string &name, const std::string &value)
{
    if (name == "map" || name == "map-file") {
        bool ok = name == "map" ? add_names(h_, value) : add_names_file(h_, value.c_str());
        if (!ok)
            warn("error initializing " + name + ": '" + value + "'");
        return ok;
    }
    if (name == "indent") {
        h_.indent_width = indent_value(value.c_str());
        return true;
    }
    if (name == "colors")
        return true; // colors are not supported; the setting is accepted
    if (name == "encoder") {
        // No external encoders here: none can be found.  (The spelling
        // is libxo's.)
        std::string encoder = value.substr(0, value.find(':'));
        note("encoder not founde: " + encoder);
        warn("error initializing encoder: " + encoder);
        return false;
    }
    return word(name);
}

// "JP": one letter per setting; a letter that means nothing is reported
// with the rest of the word and skipped.
void OptionParser::brief(const char *s)
{
    for (; *s; s++) {
        switch (*s) {
        case 'T': h_.style = XO_STYLE_TEXT; continue;
        case 'X': h_.style = XO_STYLE_XML; continue;
        case 'J': h_.style = XO_STYLE_JSON; continue;
        case 'H': h_.style = XO_STYLE_HTML; continue;
        case 'i':
            if (s[1] >= '0' && s[1] <= '9') {
                h_.indent_width = indent_value(s + 1);
                while (s[1] >= '0' && s[1] <= '9')
                    s++;
            }
            continue;
        default:
            break;
        }
        const Letter *l = nullptr;
        for (const Letter &x : letters)
            if (x.letter == *s)
                l = &x;
        if (l)
            h_.flags |= l->flags;
        else
            warn(std::string("unknown option: '") + s + "'");
    }
}

} // namespace

bool set_style_name(Handle &h, const char *name)
{
    xo_style_t style;
    if (!name || !style_name(name, style))
        return false;
    h.style = style;
    return true;
}

int set_options(Handle &h, const char *input)
{
    if (!input)
        return 0;
    OptionParser options(h);
    return options.keywords(input) ? 0 : -1;
}

int parse_args(Handle &h, int argc, char **argv)
{
    if (argc <= 0 || !argv)
        return argc;
    // A name given with xo_set_program stays.
    if (argv[0] && h.program.empty()) {
        const char *base = std::strrchr(argv[0], '/');
        set_program(h, base ? base + 1 : argv[0]);
    }
    OptionParser options(h);
    int kept = 1;
    for (int i = 1; i < argc && argv[i]; i++) {
        const char *a = argv[i];
        if (std::strncmp(a, "--libxo", 7) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        bool ok = true;
        if (a[7] == '\0') {
            if (i + 1 >= argc || !argv[i + 1]) {
                write_stderr(h, diag_prefix(h) + "missing libxo option\n");
                return -1;
            }
            ok = options.keywords(argv[++i]);
        } else if (a[7] == '=') {
            ok = options.keywords(a + 8);
        } else if (a[7] == ':') {
            options.brief(a + 8);
        } else {
            write_stderr(h, diag_prefix(h) + "unknown libxo option: '" + a + "'\n");
            return -1;
        }
        if (!ok)
            return -1;
    }
    argv[kept] = nullptr;
    return kept;
}

} // namespace xo
