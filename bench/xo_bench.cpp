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

// The report, as the program emits it, with rows of varied values.
void report(long rows, int termwidth, const std::vector<std::string> &args)
{
    xo_set_version("2");
    xo_open_container("stalewatch");
    xo_open_list("process");
    for (long i = 0; i < rows; i++) {
        if (i == 0)
            xo_emit("{Tw:/%5s}{Tw:/%5s}{Tw:/%-12.12s}{Tw:/%-12.12s}{Tw:/%-3s}{T:/%s}\n", "PID", "JID", "USER",
                    "COMMAND", "WHY", "ARGUMENTS");
        xo_open_instance("process");
        xo_ssize_t n = 0;
        n += xo_emit("{kw:pid/%5d/%d}", static_cast<int>(i % 99999) + 1);
        n += xo_emit("{w:jid/%5d/%d}", static_cast<int>(i % 13));
        n += xo_emit("{e:uid/%d/%d}", static_cast<unsigned>(i % 2000));
        n += xo_emit("{w:user/%-12.12s/%s}", users[i % 6]);
        n += xo_emit("{w:command/%-12.12s/%s}", commands[(i / 7) % 6]);
        n += xo_emit("{w:why/%-3s/%s}", (i & 3) ? "bin" : ".so");
        const char *a = args[static_cast<size_t>(i) % args.size()].c_str();
        if (xo_get_style(NULL) == XO_STYLE_TEXT && termwidth != 0) {
            long room = termwidth - static_cast<long>(n);
            int prec = room >= 10 ? static_cast<int>(room) : 9;
            char fmt[28];
            snprintf(fmt, sizeof fmt, "{:arguments/%%.%ds}\n", prec);
            xo_emit(fmt, a);
        } else {
            xo_emit("{:arguments/%s}\n", a);
        }
        xo_close_instance("process");
    }
    xo_close_list("process");
    xo_close_container("stalewatch");
    xo_finish();
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
