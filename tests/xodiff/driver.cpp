/* SPDX-License-Identifier: BSD-2-Clause */
// A scripted caller of the libxo interface.  The same source is built
// against the bundled layer and against the real libxo; run.py runs both
// with one script and compares what they write.
//
//   driver [arguments for xo_parse_args ...]
//
// The script is read from the file named by XODIFF_SCRIPT, one call per
// line.  What the calls return goes to the file named by XODIFF_SIDE (if
// set), one line per call, so that return values are compared too
// without touching the standard output and error under test.
//
// Script lines (words are separated by blanks; a word may be quoted with
// "...", and \n \t \\ \" \xHH escapes work inside and outside quotes):
//   flags NAME|NAME...      xo_set_flags(NULL, ...)   (WARN, COLUMNS, ...)
//   clear NAME|NAME...      xo_clear_flags(NULL, ...)
//   style text|xml|json|html  xo_set_style(NULL, ...)
//   getstyle                xo_get_style(NULL)
//   parse                   xo_parse_args(argc, argv); the result and the
//                           arguments left are reported
//   program NAME            xo_set_program(NAME)
//   version V               xo_set_version(V)
//   oc|cc|ol|cl|oi|ci NAME  open/close container, list, instance
//   emit FMT ARG...         xo_emit(FMT, ARG...)
//   emitv FMT ARG...        xo_emit_hv(NULL, FMT, va_list of ARG...)
//   warn|warnx|error FMT ARG...
//   err|errx EVAL FMT ARG...
//   errno N                 sets errno for the next diagnostic
//   flush | finish          xo_flush() | xo_finish()
//   width N | width         the row's display width (none: from COLUMNS or
//                           the terminal, as the program does it)
//   noheader                no column header before the first row
//   row PID JID UID USER COMMAND WHY TEXT   the program's own report row
//   begin | end | usage     the program's own document begin and end (the
//                           end finishes libxo) and its usage message
//   exit N                  exit(N)
//   attr NAME FMT ARG...    xo_attr(NAME, FMT, ARG...)
//   om|cm NAME              xo_open_marker / xo_close_marker
//   ocd|old|oid NAME        xo_open_container_d, _list_d, _instance_d
//   ccd|cld|cid             xo_close_container_d, _list_d, _instance_d
//   message|errorn FMT ARG...  xo_message / xo_errorn
//   messagec|ewarnc CODE FMT ARG...  xo_message_c / xo_emit_warn_c
//   options TEXT            xo_set_options(NULL, TEXT)
//   field ROLMOD CONTENTS FMT EFMT ARG...  xo_emit_field (null: NULL)
//   emitr FMT ARG...        xo_emitr
// Arguments: i:N (int), u:N (unsigned), l:N (long), ll:N (long long),
// s:TEXT (string), null (a null string).  The word "null" as a name or a
// format passes a null pointer.

extern "C" {
#include <libxo/xo.h>
}

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "report.h"
#include "settings.h"

namespace {

int side_fd = -1;

void side(const std::string &line)
{
    if (side_fd < 0)
        return;
    std::string s = line + "\n";
    const char *p = s.data();
    size_t left = s.size();
    while (left > 0) {
        ssize_t n = write(side_fd, p, left);
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

[[noreturn]] void fail(unsigned lineno, const std::string &what)
{
    fprintf(stderr, "xodiff driver: script line %u: %s\n", lineno, what.c_str());
    exit(99);
}

bool split(const std::string &line, std::vector<std::string> &words, std::vector<bool> &quoted)
{
    size_t i = 0, n = line.size();
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            i++;
        if (i >= n)
            return true;
        std::string w;
        bool inq = false, anyq = false;
        for (; i < n; i++) {
            char c = line[i];
            if (!inq && (c == ' ' || c == '\t'))
                break;
            if (c == '"') {
                inq = !inq;
                anyq = true;
                continue;
            }
            if (c == '\\' && i + 1 < n) {
                char e = line[++i];
                switch (e) {
                case 'n': w.push_back('\n'); break;
                case 't': w.push_back('\t'); break;
                case 'r': w.push_back('\r'); break;
                case 'e': w.push_back('\033'); break;
                case 'x': {
                    if (i + 2 >= n)
                        return false;
                    w.push_back(static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)));
                    i += 2;
                    break;
                }
                default: w.push_back(e); break;
                }
                continue;
            }
            w.push_back(c);
        }
        if (inq)
            return false;
        words.push_back(w);
        quoted.push_back(anyq);
    }
}

struct Arg {
    enum Kind { INT, LLONG, PTR } kind;
    long long num;
    const char *str;
};

// Calls f with the arguments in their C types: f(a0, a1, ...).
template <size_t Max, typename F, typename... T>
long long apply(F &f, const std::vector<Arg> &args, size_t i, T... typed)
{
    if constexpr (sizeof...(T) >= Max) {
        (void)args;
        (void)i;
        return f(typed...);
    } else {
        if (i == args.size())
            return f(typed...);
        const Arg &a = args[i];
        switch (a.kind) {
        case Arg::INT: return apply<Max>(f, args, i + 1, typed..., static_cast<int>(a.num));
        case Arg::LLONG: return apply<Max>(f, args, i + 1, typed..., a.num);
        default: return apply<Max>(f, args, i + 1, typed..., a.str);
        }
    }
}

struct Flag {
    const char *name;
    xo_xof_flags_t bit;
};

const Flag flag_names[] = {
    {"PRETTY", XOF_PRETTY}, {"WARN", XOF_WARN}, {"XPATH", XOF_XPATH},
    {"INFO", XOF_INFO}, {"WARN_XML", XOF_WARN_XML}, {"NO_ENV", XOF_NO_ENV},
    {"DTRT", XOF_DTRT}, {"KEYS", XOF_KEYS}, {"IGNORE_CLOSE", XOF_IGNORE_CLOSE},
    {"NOT_FIRST", XOF_NOT_FIRST}, {"NO_LOCALE", XOF_NO_LOCALE},
    {"NO_TOP", XOF_NO_TOP}, {"UNITS", XOF_UNITS},
    {"UNDERSCORES", XOF_UNDERSCORES}, {"COLUMNS", XOF_COLUMNS},
    {"FLUSH", XOF_FLUSH}, {"FLUSH_LINE", XOF_FLUSH_LINE},
    {"NO_CLOSE", XOF_NO_CLOSE}, {"NO_HUMANIZE", XOF_NO_HUMANIZE}, {"COLOR", XOF_COLOR},
};

xo_xof_flags_t parse_flags(unsigned lineno, const std::string &s)
{
    xo_xof_flags_t f = 0;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t bar = s.find('|', pos);
        if (bar == std::string::npos)
            bar = s.size();
        std::string name = s.substr(pos, bar - pos);
        pos = bar + 1;
        bool found = false;
        for (const Flag &fl : flag_names)
            if (name == fl.name) {
                f |= fl.bit;
                found = true;
            }
        if (!found)
            fail(lineno, "unknown flag " + name);
    }
    return f;
}

long long number(unsigned lineno, const std::string &s)
{
    char *end;
    errno = 0;
    long long v = strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end || errno)
        fail(lineno, "bad number '" + s + "'");
    return v;
}

// A name or format word: "null" (unquoted) is a null pointer.
const char *text_or_null(const std::vector<std::string> &w, const std::vector<bool> &q, size_t i)
{
    if (w[i] == "null" && !q[i])
        return nullptr;
    return w[i].c_str();
}

xo_ssize_t emit_hv(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    xo_ssize_t r = xo_emit_hv(NULL, fmt, ap);
    va_end(ap);
    return r;
}

} // namespace

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

int main(int argc, char **argv)
{
    const char *script_path = getenv("XODIFF_SCRIPT");
    if (!script_path) {
        fprintf(stderr, "xodiff driver: XODIFF_SCRIPT is not set\n");
        return 99;
    }
    FILE *sf = fopen(script_path, "r");
    if (!sf) {
        fprintf(stderr, "xodiff driver: %s: %s\n", script_path, strerror(errno));
        return 99;
    }
    std::vector<std::string> lines;
    {
        std::string cur;
        int c;
        while ((c = getc(sf)) != EOF) {
            if (c == '\n') {
                lines.push_back(cur);
                cur.clear();
            } else {
                cur.push_back(static_cast<char>(c));
            }
        }
        if (!cur.empty())
            lines.push_back(cur);
        fclose(sf);
    }
    if (const char *sp = getenv("XODIFF_SIDE")) {
        side_fd = open(sp, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
        if (side_fd < 0) {
            fprintf(stderr, "xodiff driver: %s: %s\n", sp, strerror(errno));
            return 99;
        }
    }

    settings.termwidth = terminal_width();
    int pending_errno = -1;
    std::vector<std::string> w;
    std::vector<bool> q;
    std::vector<Arg> args;

    for (size_t li = 0; li < lines.size(); li++) {
        unsigned lineno = static_cast<unsigned>(li + 1);
        w.clear();
        q.clear();
        if (!split(lines[li], w, q))
            fail(lineno, "bad quoting");
        if (w.empty() || w[0][0] == '#')
            continue;
        const std::string &cmd = w[0];
        auto need = [&](size_t n) {
            if (w.size() < n + 1)
                fail(lineno, cmd + " needs " + std::to_string(n) + " words");
        };
        // Typed arguments from word `from` on.
        auto typed = [&](size_t from, size_t max) {
            args.clear();
            for (size_t i = from; i < w.size(); i++) {
                const std::string &a = w[i];
                size_t colon = a.find(':');
                std::string kind = colon == std::string::npos ? a : a.substr(0, colon);
                std::string val = colon == std::string::npos ? "" : a.substr(colon + 1);
                if (a == "null" && !q[i])
                    args.push_back({Arg::PTR, 0, nullptr});
                else if (kind == "s")
                    args.push_back({Arg::PTR, 0, w[i].c_str() + 2});
                else if (kind == "i" || kind == "u")
                    args.push_back({Arg::INT, number(lineno, val), nullptr});
                else if (kind == "l" || kind == "ll")
                    args.push_back({Arg::LLONG, number(lineno, val), nullptr});
                else
                    fail(lineno, "bad argument '" + a + "'");
            }
            if (args.size() > max)
                fail(lineno, "at most " + std::to_string(max) + " arguments");
        };
        auto take_errno = [&]() {
            if (pending_errno >= 0) {
                errno = pending_errno;
                pending_errno = -1;
            }
        };

        if (cmd == "flags") {
            need(1);
            xo_set_flags(NULL, parse_flags(lineno, w[1]));
        } else if (cmd == "clear") {
            need(1);
            xo_clear_flags(NULL, parse_flags(lineno, w[1]));
        } else if (cmd == "style") {
            need(1);
            xo_style_t st = w[1] == "text"   ? XO_STYLE_TEXT
                            : w[1] == "xml"  ? XO_STYLE_XML
                            : w[1] == "json" ? XO_STYLE_JSON
                            : w[1] == "html" ? XO_STYLE_HTML
                                             : static_cast<xo_style_t>(number(lineno, w[1]));
            xo_set_style(NULL, st);
        } else if (cmd == "getstyle") {
            side("getstyle -> " + std::to_string(xo_get_style(NULL)));
        } else if (cmd == "parse") {
            int n = xo_parse_args(argc, argv);
            std::string s = "parse -> " + std::to_string(n);
            if (n > 0)
                for (int i = 1; i < n; i++)
                    s += std::string(" [") + (argv[i] ? argv[i] : "(null)") + "]";
            side(s);
            if (n >= 0)
                argc = n;
        } else if (cmd == "program") {
            need(1);
            // libxo keeps the pointer: the name must outlive the script.
            const char *name = text_or_null(w, q, 1);
            xo_set_program(name ? strdup(name) : nullptr);
        } else if (cmd == "version") {
            need(1);
            const char *version = text_or_null(w, q, 1);
            xo_set_version(version ? strdup(version) : nullptr);
        } else if (cmd == "oc" || cmd == "cc" || cmd == "ol" || cmd == "cl" || cmd == "oi" ||
                   cmd == "ci") {
            const char *name = w.size() > 1 ? text_or_null(w, q, 1) : nullptr;
            xo_ssize_t r = cmd == "oc"   ? xo_open_container(name)
                           : cmd == "cc" ? xo_close_container(name)
                           : cmd == "ol" ? xo_open_list(name)
                           : cmd == "cl" ? xo_close_list(name)
                           : cmd == "oi" ? xo_open_instance(name)
                                         : xo_close_instance(name);
            side(cmd + " -> " + std::to_string(r));
        } else if (cmd == "emit") {
            need(1);
            typed(2, 6);
            const char *fmt = text_or_null(w, q, 1);
            auto f = [fmt](auto... a) -> long long { return xo_emit(fmt, a...); };
            side("emit -> " + std::to_string(apply<6>(f, args, 0)));
        } else if (cmd == "emitv") {
            need(1);
            typed(2, 3);
            const char *fmt = text_or_null(w, q, 1);
            auto f = [fmt](auto... a) -> long long { return emit_hv(fmt, a...); };
            side("emitv -> " + std::to_string(apply<3>(f, args, 0)));
        } else if (cmd == "warn" || cmd == "warnx" || cmd == "error") {
            need(1);
            typed(2, 3);
            const char *fmt = text_or_null(w, q, 1);
            take_errno();
            auto f = [fmt, &cmd](auto... a) -> long long {
                if (cmd == "warn")
                    xo_warn(fmt, a...);
                else if (cmd == "warnx")
                    xo_warnx(fmt, a...);
                else
                    xo_error(fmt, a...);
                return 0;
            };
            apply<3>(f, args, 0);
        } else if (cmd == "err" || cmd == "errx") {
            need(2);
            typed(3, 3);
            int eval = static_cast<int>(number(lineno, w[1]));
            const char *fmt = text_or_null(w, q, 2);
            take_errno();
            auto f = [fmt, eval, &cmd](auto... a) -> long long {
                if (cmd == "err")
                    xo_err(eval, fmt, a...);
                else
                    xo_errx(eval, fmt, a...);
                return 0; // not reached (libxo's header may not say so)
            };
            apply<3>(f, args, 0);
            side(cmd + " returned");
        } else if (cmd == "errno") {
            need(1);
            pending_errno = static_cast<int>(number(lineno, w[1]));
        } else if (cmd == "flush") {
            side("flush -> " + std::to_string(xo_flush()));
        } else if (cmd == "finish") {
            side("finish -> " + std::to_string(xo_finish()));
        } else if (cmd == "width") {
            settings.termwidth = w.size() > 1 ? static_cast<int32_t>(number(lineno, w[1]))
                                              : terminal_width();
        } else if (cmd == "noheader") {
            settings.no_header = true;
        } else if (cmd == "begin") {
            report_begin();
        } else if (cmd == "end") {
            side("end -> " + std::to_string(report_end()));
        } else if (cmd == "usage") {
            report_usage();
        } else if (cmd == "row") {
            need(7);
            report_row(static_cast<pid_t>(number(lineno, w[1])),
                       static_cast<int>(number(lineno, w[2])),
                       static_cast<uid_t>(number(lineno, w[3])), w[4].c_str(), w[5].c_str(),
                       w[6] == "bin" ? WHY_BIN : WHY_SO, w[7].c_str());
            side("row");
        } else if (cmd == "attr") {
            need(2);
            typed(3, 3);
            const char *name = text_or_null(w, q, 1);
            const char *fmt = text_or_null(w, q, 2);
            auto f = [name, fmt](auto... a) -> long long { return xo_attr(name, fmt, a...); };
            side("attr -> " + std::to_string(apply<3>(f, args, 0)));
        } else if (cmd == "om" || cmd == "cm") {
            need(1);
            const char *name = text_or_null(w, q, 1);
            side(cmd + " -> " + std::to_string(cmd == "om" ? xo_open_marker(name) : xo_close_marker(name)));
        } else if (cmd == "ocd" || cmd == "old" || cmd == "oid") {
            need(1);
            const char *name = text_or_null(w, q, 1);
            xo_ssize_t r = cmd == "ocd"   ? xo_open_container_d(name)
                           : cmd == "old" ? xo_open_list_d(name)
                                          : xo_open_instance_d(name);
            side(cmd + " -> " + std::to_string(r));
        } else if (cmd == "ccd" || cmd == "cld" || cmd == "cid") {
            xo_ssize_t r = cmd == "ccd"   ? xo_close_container_d()
                           : cmd == "cld" ? xo_close_list_d()
                                          : xo_close_instance_d();
            side(cmd + " -> " + std::to_string(r));
        } else if (cmd == "message" || cmd == "errorn" || cmd == "emitr") {
            need(1);
            typed(2, 3);
            const char *fmt = text_or_null(w, q, 1);
            auto f = [fmt, &cmd](auto... a) -> long long {
                if (cmd == "emitr")
                    return xo_emitr(fmt, a...);
                if (cmd == "message")
                    xo_message(fmt, a...);
                else
                    xo_errorn(fmt, a...);
                return 0;
            };
            side(cmd + " -> " + std::to_string(apply<3>(f, args, 0)));
        } else if (cmd == "messagec" || cmd == "ewarnc") {
            need(2);
            typed(3, 3);
            int code = static_cast<int>(number(lineno, w[1]));
            const char *fmt = text_or_null(w, q, 2);
            auto f = [fmt, code, &cmd](auto... a) -> long long {
                if (cmd == "messagec")
                    xo_message_c(code, fmt, a...);
                else
                    xo_emit_warn_c(code, fmt, a...);
                return 0;
            };
            apply<3>(f, args, 0);
            side(cmd);
        } else if (cmd == "options") {
            need(1);
            side("options -> " + std::to_string(xo_set_options(NULL, text_or_null(w, q, 1))));
        } else if (cmd == "field") {
            need(4);
            typed(5, 3);
            const char *rolmod = text_or_null(w, q, 1);
            const char *contents = text_or_null(w, q, 2);
            const char *fmt = text_or_null(w, q, 3);
            const char *efmt = text_or_null(w, q, 4);
            auto f = [=](auto... a) -> long long { return xo_emit_field(rolmod, contents, fmt, efmt, a...); };
            side("field -> " + std::to_string(apply<3>(f, args, 0)));
        } else if (cmd == "exit") {
            need(1);
            exit(static_cast<int>(number(lineno, w[1])));
        } else {
            fail(lineno, "unknown call " + cmd);
        }
    }
    return 0;
}
