/* SPDX-License-Identifier: BSD-2-Clause */
// The report (written by the program's own row code) and the
// diagnostics of the program, compared byte for byte with what libxo
// 1.7.5 writes for the same calls.
#include "harness.h"
#include "report.h"

// libxo's own header has no C++ guards.
extern "C" {
#include <libxo/xo.h>
}

#include <cerrno>
#include <cstdlib>

namespace {

enum class Scenario { REPORT, ERRX, WARN, USAGE, OPTIONS_ONLY };

struct Case {
    const char *name;    // reference file name
    Scenario scenario;
    std::vector<std::string> options;
    bool rows;           // the three rows, or an empty list
    int termwidth;
    bool tab_escaped;    // the JSON rows: a TAB in a string is written as \t
};

std::ostream &operator<<(std::ostream &os, const Case &c)
{
    return os << c.name;
}

const Case cases[] = {
    {"text-w0", Scenario::REPORT, {}, true, 0, false},
    {"text-w80", Scenario::REPORT, {}, true, 80, false},
    {"text-norows", Scenario::REPORT, {}, false, 0, false},
    {"json", Scenario::REPORT, {"--libxo=json"}, true, 0, true},
    {"json-norows", Scenario::REPORT, {"--libxo=json"}, false, 0, false},
    {"json-pretty", Scenario::REPORT, {"--libxo=json,pretty"}, true, 0, true},
    {"json-pretty-norows", Scenario::REPORT, {"--libxo=json,pretty"}, false, 0, false},
    {"xml", Scenario::REPORT, {"--libxo=xml"}, true, 0, false},
    {"xml-norows", Scenario::REPORT, {"--libxo=xml"}, false, 0, false},
    {"xml-pretty", Scenario::REPORT, {"--libxo=xml,pretty"}, true, 0, false},
    {"html", Scenario::REPORT, {"--libxo=html"}, true, 0, false},
    {"diag-text-errx", Scenario::ERRX, {}, false, 0, false},
    {"diag-json-errx", Scenario::ERRX, {"--libxo=json"}, false, 0, false},
    {"diag-text-warn", Scenario::WARN, {}, false, 0, false},
    {"diag-text-usage", Scenario::USAGE, {}, false, 0, false},
    {"diag-json-usage", Scenario::USAGE, {"--libxo=json"}, false, 0, false},
    {"diag-xml-usage", Scenario::USAGE, {"--libxo=xml"}, false, 0, false},
    {"badopt-value", Scenario::OPTIONS_ONLY, {"--libxo=bogus"}, false, 0, false},
    {"badopt-missing", Scenario::OPTIONS_ONLY, {"--libxo"}, false, 0, false},
    {"badopt-brief", Scenario::OPTIONS_ONLY, {"--libxo:Q"}, false, 0, false},
};

// Start-up as the program does it; exits 1 when the options are bad.
void start(const std::vector<std::string> &options)
{
    std::vector<std::string> args{"stalewatch"};
    args.insert(args.end(), options.begin(), options.end());
    static Argv *av; // kept alive for the rest of the child
    av = new Argv(args);
    xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
    if (xo_parse_args(av->argc(), av->argv()) < 0)
        exit(1);
}

void play(const Case &c)
{
    switch (c.scenario) {
    case Scenario::REPORT:
        run_report(c.options, c.rows ? reference_rows : std::vector<Row>{}, c.termwidth);
    case Scenario::ERRX:
        start(c.options);
        xo_errx(1, "user \"%s\" not found", "nosuch");
        exit(1); // libxo's own header does not say that xo_errx ends the program
    case Scenario::WARN:
        start(c.options);
        errno = EACCES;
        xo_warn("procstat_getprocs()");
        xo_finish();
        exit(1);
    case Scenario::USAGE:
        start(c.options);
        program_invocation_short_name = const_cast<char *>("stalewatch");
        report_usage();
        xo_finish();
        exit(1);
    case Scenario::OPTIONS_ONLY:
        // The reference program opened and closed an empty report and
        // exited 1 whatever the options did.
        start(c.options);
        xo_open_container("stalewatch");
        xo_close_container("stalewatch");
        xo_finish();
        exit(1);
    }
}

class ReferenceOutput : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceOutput, MatchesLibxo)
{
    const Case &c = GetParam();
    if (c.tab_escaped)
        SKIP_WITH_SYSTEM_LIBXO("json-control-characters", "libxo writes the TAB raw, which is not JSON");
    Reference ref = load_reference(c.name);
    ASSERT_GE(ref.status, 0) << "missing reference files for " << c.name;
    if (c.tab_escaped) {
        std::string fixed;
        for (char ch : ref.out) {
            if (ch == '\t')
                fixed += "\\t";
            else
                fixed += ch;
        }
        ASSERT_NE(fixed, ref.out) << "the reference no longer holds a raw TAB";
        ref.out = fixed;
    }
    Outcome o = run_child([&] { play(c); });
    EXPECT_EQ(o.signal, 0);
    EXPECT_EQ(o.out, ref.out);
    EXPECT_EQ(o.err, ref.err);
    EXPECT_EQ(o.status, ref.status);
}

std::string case_name(const ::testing::TestParamInfo<Case> &info)
{
    std::string s = info.param.name;
    for (char &ch : s)
        if (ch == '-')
            ch = '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(Files, ReferenceOutput, ::testing::ValuesIn(cases), case_name);

// Every reference file is played by one of the cases above.
TEST(ReferenceOutput, EveryFileHasACase)
{
    const char *names[] = {"text-w0", "text-w80", "text-norows", "json", "json-norows", "json-pretty",
                           "json-pretty-norows", "xml", "xml-norows", "xml-pretty", "html",
                           "diag-text-errx", "diag-json-errx", "diag-text-warn", "diag-text-usage",
                           "diag-json-usage", "diag-xml-usage", "badopt-value", "badopt-missing",
                           "badopt-brief"};
    for (const char *n : names) {
        bool found = false;
        for (const Case &c : cases)
            found = found || std::string(c.name) == n;
        EXPECT_TRUE(found) << n;
        EXPECT_GE(load_reference(n).status, 0) << n;
    }
}

} // namespace
