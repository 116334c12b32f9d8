/* SPDX-License-Identifier: BSD-2-Clause */
// Runs scenarios of the output layer in forked children and captures
// what they write.
#ifndef XO_TEST_HARNESS_H
#define XO_TEST_HARNESS_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
// libxo's own header has no C++ guards.
extern "C" {
#include <libxo/xo.h>
}

// What a child wrote and how it ended.
struct Outcome {
    std::string out;   // standard output
    std::string err;   // standard error
    std::string notes; // what the child wrote to note()
    int status = -1;   // exit status, or -1 if it did not exit normally
    int signal = 0;    // terminating signal, if any
};

// Runs body in a forked child with stdout and stderr captured.  The child
// exits with status 0 when body returns.
Outcome run_child(const std::function<void()> &body);

// Runs body in a child after xo_set_program("stalewatch"), the given style
// and flags; xo_finish() follows body.
Outcome run_styled(xo_style_t style, xo_xof_flags_t flags, const std::function<void()> &body);

// Inside a child: a side channel for results (return values and such).
void note(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A command line for xo_parse_args that outlives the call.
class Argv {
public:
    explicit Argv(std::vector<std::string> args);
    int argc() const { return static_cast<int>(store_.size()); }
    char **argv() { return ptrs_.data(); }
    // The arguments left after parsing, up to argc.
    std::vector<std::string> left(int argc) const;

private:
    std::vector<std::string> store_;
    std::vector<char *> ptrs_;
};

// One process row of the report.
struct Row {
    int pid;
    int jid;
    unsigned uid;
    const char *user;
    const char *command;
    bool shlib;
    const char *arguments;
};

// The three rows behind the reference files.
extern const std::vector<Row> reference_rows;

// The report as the program makes it: flags, option parsing, then the
// program's own row writer with the given display width, xo_finish and
// exit(0) (exit(1) when the options are bad).
[[noreturn]] void run_report(const std::vector<std::string> &options, const std::vector<Row> &rows,
                             int termwidth);

// The reference triple NAME.out, NAME.err, NAME.rc.
struct Reference {
    std::string out, err;
    int status;
};
Reference load_reference(const std::string &name);

std::string read_file(const std::string &path);

// Runs a python3 script with doc on its standard input; returns its exit
// status and puts its standard output in *output.  Skips the test when no
// interpreter was found at configure time.
int run_python(const std::string &script, const std::string &doc, std::string *output);

#define PYTHON_JSON_CHECK "import json,sys\njson.load(sys.stdin)\n"
#define PYTHON_XML_CHECK "import sys, xml.dom.minidom\nxml.dom.minidom.parseString(sys.stdin.buffer.read())\n"

#ifdef XO_TEST_SYSTEM_LIBXO
// A test of a deliberate difference from libxo: id is its entry under
// "Deliberate differences" in xo/README.md, why the reason in short.
#define SKIP_WITH_SYSTEM_LIBXO(id, why) \
    GTEST_SKIP() << "deliberate difference " id " (xo/README.md): " why
#else
#define SKIP_WITH_SYSTEM_LIBXO(id, why) (void)0
#endif

#endif
