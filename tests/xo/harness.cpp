/* SPDX-License-Identifier: BSD-2-Clause */
#include "harness.h"

// libxo's own header has no C++ guards.
extern "C" {
#include <libxo/xo.h>
}

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "report.h"
#include "settings.h"

namespace {

FILE *note_file = nullptr;

std::string slurp(FILE *f)
{
    std::string s;
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

} // namespace

Outcome run_child(const std::function<void()> &body)
{
    Outcome o;
    FILE *out = tmpfile(), *err = tmpfile(), *notes = tmpfile();
    if (!out || !err || !notes) {
        ADD_FAILURE() << "tmpfile: " << strerror(errno);
        return o;
    }
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << strerror(errno);
        return o;
    }
    if (pid == 0) {
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        note_file = notes;
        body();
        fflush(notes);
        exit(0);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(st))
        o.status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        o.signal = WTERMSIG(st);
    o.out = slurp(out);
    o.err = slurp(err);
    o.notes = slurp(notes);
    fclose(out);
    fclose(err);
    fclose(notes);
    return o;
}

Outcome run_styled(xo_style_t style, xo_xof_flags_t flags, const std::function<void()> &body)
{
    return run_child([&] {
        xo_set_program("stalewatch");
        xo_set_style(NULL, style);
        if (flags)
            xo_set_flags(NULL, flags);
        body();
        xo_finish();
    });
}

void note(const char *fmt, ...)
{
    if (!note_file)
        return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(note_file, fmt, ap);
    va_end(ap);
    fflush(note_file);
}

Argv::Argv(std::vector<std::string> args) : store_(std::move(args))
{
    for (std::string &s : store_)
        ptrs_.push_back(&s[0]);
    ptrs_.push_back(nullptr);
}

std::vector<std::string> Argv::left(int argc) const
{
    std::vector<std::string> v;
    for (int i = 0; i < argc && ptrs_[static_cast<size_t>(i)]; i++)
        v.emplace_back(ptrs_[static_cast<size_t>(i)]);
    return v;
}

const std::vector<Row> reference_rows = {
    {1234, 0, 0, "root", "sshd", true, "/usr/sbin/sshd"},
    {56789, 3, 1001, "averyveryverylongusername", "a_very_long_command_name", false,
     "/usr/local/libexec/some/very/long/path/to/a/daemon/binary/that/goes/on/and/on"},
    {7, 12, static_cast<unsigned>(-2), "-2", "we<ird>&\"cmd'", false,
     "arg with \"quotes\" & <tags> and \\ backslash\ttab"},
};

void run_report(const std::vector<std::string> &options, const std::vector<Row> &rows, int termwidth)
{
    std::vector<std::string> args{"stalewatch"};
    args.insert(args.end(), options.begin(), options.end());
    Argv av(args);
    xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
    if (xo_parse_args(av.argc(), av.argv()) < 0)
        exit(1);
    settings.termwidth = termwidth;
    report_begin();
    for (const Row &r : rows)
        report_row(r.pid, r.jid, r.uid, r.user, r.command, r.shlib ? WHY_SO : WHY_BIN, r.arguments);
    exit(report_end() == 0 ? 0 : 1);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Reference load_reference(const std::string &name)
{
    std::string base = std::string(XO_TEST_REFERENCE_DIR) + "/" + name;
    Reference r;
    r.out = read_file(base + ".out");
    r.err = read_file(base + ".err");
    std::string rc = read_file(base + ".rc");
    r.status = rc.empty() ? -1 : atoi(rc.c_str());
    return r;
}

int run_python(const std::string &script, const std::string &doc, std::string *output)
{
#ifndef XO_TEST_PYTHON
    (void)script;
    (void)doc;
    (void)output;
    ADD_FAILURE() << "python3 was not found at configure time";
    return -1;
#else
    char sp[] = "/tmp/xo_test_py_XXXXXX";
    char dp[] = "/tmp/xo_test_doc_XXXXXX";
    int sfd = mkstemp(sp), dfd = mkstemp(dp);
    if (sfd < 0 || dfd < 0) {
        ADD_FAILURE() << "mkstemp: " << strerror(errno);
        return -1;
    }
    bool ok = write(sfd, script.data(), script.size()) == static_cast<ssize_t>(script.size()) &&
              write(dfd, doc.data(), doc.size()) == static_cast<ssize_t>(doc.size());
    close(sfd);
    close(dfd);
    int status = -1;
    if (ok) {
        std::string cmd = std::string("'") + XO_TEST_PYTHON + "' " + sp + " < " + dp + " 2>&1";
        fflush(stdout);
        FILE *p = popen(cmd.c_str(), "r");
        if (p) {
            std::string s;
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, p)) > 0)
                s.append(buf, n);
            int st = pclose(p);
            status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            if (output)
                *output = s;
        }
    }
    unlink(sp);
    unlink(dp);
    return status;
#endif
}
