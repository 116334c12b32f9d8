/* SPDX-License-Identifier: BSD-2-Clause */
// Warnings and errors.
#include "harness.h"

#include <cerrno>

namespace {

TEST(Diagnostics, WarnAddsTheErrnoText)
{
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        errno = ENOENT;
        xo_warn("open %s", "/etc/x");
        note("%d", errno);
        xo_warnx("plain %d", 5);
    });
    EXPECT_EQ(o.err, "stalewatch: open /etc/x: No such file or directory\nstalewatch: plain 5\n");
    EXPECT_EQ(o.notes, std::to_string(ENOENT));
    EXPECT_EQ(o.out, "");
}

TEST(Diagnostics, WarningsGoToStderrInEveryStyle)
{
    for (xo_style_t style : {XO_STYLE_XML, XO_STYLE_JSON, XO_STYLE_HTML}) {
        Outcome o = run_styled(style, 0, [] { xo_warnx("careful"); });
        EXPECT_EQ(o.err, "stalewatch: careful\n");
    }
}

TEST(Diagnostics, ErrExitsWithTheStatusAfterFinishing)
{
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("top");
        xo_emit("{:a/%d}", 1);
        errno = EACCES;
        xo_err(3, "cannot read %s", "x");
    });
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.err, "stalewatch: cannot read x: Permission denied\n");
    EXPECT_EQ(o.out, "{\"top\": {\"a\":1}}\n");
    Outcome x = run_styled(XO_STYLE_XML, 0, [] {
        xo_open_container("top");
        xo_errx(2, "gone");
    });
    EXPECT_EQ(x.status, 2);
    EXPECT_EQ(x.out, "<top></top>");
    EXPECT_EQ(x.err, "stalewatch: gone\n");
}

TEST(Diagnostics, ProgramNameFromArgvOrSetProgram)
{
    Outcome from_argv = run_child([] {
        Argv av({"/usr/local/bin/stalewatch"});
        xo_parse_args(av.argc(), av.argv());
        xo_warnx("a");
        xo_set_program("other");
        xo_warnx("b");
    });
    EXPECT_EQ(from_argv.err, "stalewatch: a\nother: b\n");
}

TEST(Diagnostics, NoProgramNameUntilOneIsGiven)
{
    Outcome o = run_child([] { xo_warnx("hello"); });
    EXPECT_EQ(o.err, "hello\n");
}

TEST(Diagnostics, WarningsWaitForNothing)
{
    // The document stays in libxo's buffer while diagnostics go out.
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_emit("{:a/%d}\n", 1);
        xo_warnx("careful");
        fprintf(stderr, "|");
        xo_flush();
        xo_warnx("again");
    });
    EXPECT_EQ(o.err, "stalewatch: careful\n|stalewatch: again\n");
    EXPECT_EQ(o.out, "1\n");
}

TEST(Diagnostics, WarnXmlPutsWarningsInTheDocument)
{
    SKIP_WITH_SYSTEM_LIBXO("warn-xml", "libxo breaks JSON and HTML with XML, and leaves errno text outside");
    Outcome xml = run_styled(XO_STYLE_XML, XOF_WARN | XOF_WARN_XML, [] {
        xo_open_container("top");
        xo_emit("{:a/%d}{k:b/%d}", 1, 2);
        errno = ENOENT;
        xo_warn("open <%s>", "x");
    });
    EXPECT_EQ(xml.out, "<top><a>1</a><error><message>stalewatch: key field emitted after normal value field: "
                       "'b'</message></error>\n<b>2</b><error><message>stalewatch: open &lt;x&gt;: "
                       "No such file or directory</message></error>\n</top>");
    EXPECT_EQ(xml.err, "");
    Outcome json = run_styled(XO_STYLE_JSON, XOF_WARN_XML, [] { xo_warnx("plain"); });
    EXPECT_EQ(json.out, "{ }\n");
    EXPECT_EQ(json.err, "stalewatch: plain\n");
}

TEST(Diagnostics, ErrorInTextIsWrittenAsIs)
{
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_emit("{:a/%d}\n", 1);
        xo_error("no newline %s", "here");
    });
    EXPECT_EQ(o.err, "no newline here");
    EXPECT_EQ(o.out, "1\n");
}

TEST(Diagnostics, ErrorIsAnElementInTheEncodingStyles)
{
    Outcome json = run_styled(XO_STYLE_JSON, XOF_PRETTY, [] { xo_error("bad \"%s\"\n", "x"); });
    EXPECT_EQ(json.out, "{\n  \"error\": {\n    \"message\": \"bad \\\"x\\\"\\n\"\n  }\n}\n");
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, json.out, nullptr), 0);
    Outcome xml = run_styled(XO_STYLE_XML, XOF_PRETTY, [] { xo_error("bad"); });
    EXPECT_EQ(xml.out, "<error>\n  <message>bad</message>\n</error>\n");
}

} // namespace

TEST(Diagnostics, MessagesAndErrorsWithNewlines)
{
    Outcome o = run_styled(XO_STYLE_XML, 0, [] {
        xo_open_container("top");
        xo_message("one");
        xo_message_c(2, "two");
        xo_errorn("three");
        xo_error("four");
    });
    EXPECT_EQ(o.out, "<top><message>one\n</message><message>two: No such file or directory\n</message>"
                     "<error><message>three\n</message></error><error><message>four</message></error></top>");
    o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_message("one");
        xo_errorn("three");
    });
    EXPECT_EQ(o.out, "one\n");
    EXPECT_EQ(o.err, "three\n");
}

TEST(Diagnostics, UnsupportedCallsSaySo)
{
    SKIP_WITH_SYSTEM_LIBXO("syslog", "not supported by the layer: it warns and fails");
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_WARN, [] {
        xo_open_log("x", 0, 0);
        note("%d ", xo_set_logmask(0));
        note("%d ", xo_filter_add(NULL, "a"));
        note("%s", xo_simplify_format(NULL, "{:a}", 0, NULL) ? "format" : "null");
    });
    EXPECT_EQ(o.err, "stalewatch: xo_open_log is not supported\n"
                     "stalewatch: xo_set_logmask is not supported\n"
                     "stalewatch: xo_filter_add is not supported\n"
                     "stalewatch: xo_simplify_format is not supported\n");
    EXPECT_EQ(o.notes, "-1 -1 null");
}
