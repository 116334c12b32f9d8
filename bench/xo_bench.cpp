/* SPDX-License-Identifier: BSD-2-Clause */
// Throughput of the output layer: rows of the process report per second in
// each style, output discarded.  Uses the libxo C interface only, so it
// builds against the bundled layer and against a system libxo alike.
//
//   xo_bench [ROWS]      (default 1000000)
// libxo's own header has no C++ guards.
extern "C" {
#include <libxo/xo.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "report.h"
#include "settings.h"

namespace {

const char *const users[] = {"root", "daemon", "www", "averyveryverylongusername", "-2", "operator"};
const char *const commands[] = {"sshd", "nginx", "a_very_long_command_name", "we<ird>&\"cmd'", "cron",
                                "postgres"};

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The report, through the program's own row code, with rows of varied
// values.
void report(long rows, int termwidth, const std::vector<std::string> &args)
{
    settings.termwidth = termwidth;
    report_begin();
    for (long i = 0; i < rows; i++)
        report_row(static_cast<pid_t>(i % 99999) + 1, static_cast<int>(i % 13),
                   static_cast<uid_t>(i % 2000), users[i % 6], commands[(i / 7) % 6],
                   (i & 3) ? WHY_BIN : WHY_SO, args[static_cast<size_t>(i) % args.size()].c_str());
    report_end();
}

// Runs one style in a child (the layer's state is per process); returns
// the seconds taken, or a negative value on failure.
double run_style(const char *style, long rows, const std::vector<std::string> &args)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        close(fds[0]);
        if (!freopen("/dev/null", "w", stdout))
            _exit(2);
        std::string opt = std::string("--libxo=") + style;
        char name[] = "xo_bench";
        char *argv[] = {name, &opt[0], nullptr};
        xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
        if (xo_parse_args(2, argv) < 0)
            _exit(2);
        double t0 = now();
        report(rows, 80, args);
        double t = now() - t0;
        ssize_t w = write(fds[1], &t, sizeof t);
        _exit(w == static_cast<ssize_t>(sizeof t) ? 0 : 2);
    }
    close(fds[1]);
    double t = -1;
    if (read(fds[0], &t, sizeof t) != static_cast<ssize_t>(sizeof t))
        t = -1;
    close(fds[0]);
    int st;
    waitpid(pid, &st, 0);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
        return -1;
    return t;
}

} // namespace

int main(int argc, char **argv)
{
    long rows = 1000000;
    if (argc > 1) {
        char *end;
        rows = strtol(argv[1], &end, 10);
        if (*end || rows <= 0) {
            fprintf(stderr, "usage: %s [rows]\n", argv[0]);
            return 2;
        }
    }
    std::vector<std::string> args;
    for (int i = 0; i < 64; i++) {
        std::string a = "/usr/local/libexec/daemon" + std::to_string(i) + " -f /etc/conf" + std::to_string(i);
        for (int k = 0; k < i % 5; k++)
            a += " --option-" + std::to_string(k) + "=value";
        if (i % 9 == 0)
            a += " \"quoted\" & <tagged>";
        args.push_back(a);
    }
    printf("%-6s %10s %10s %14s\n", "style", "rows", "seconds", "rows/s");
    int rc = 0;
    for (const char *style : {"text", "xml", "json", "html"}) {
        double t = run_style(style, rows, args);
        if (t < 0) {
            fprintf(stderr, "xo_bench: the %s run failed\n", style);
            rc = 1;
            continue;
        }
        printf("%-6s %10ld %10.3f %14.0f\n", style, rows, t, t > 0 ? static_cast<double>(rows) / t : 0.0);
        fflush(stdout);
    }
    return rc;
}
