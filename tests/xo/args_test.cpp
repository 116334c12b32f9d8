// xo_parse_args: the option forms, what is left in argv, and bad options.
#include "harness.h"

namespace {

struct Parsed {
    int argc;
    std::vector<std::string> left;
    bool terminated; // argv[argc] == NULL
    xo_style_t style;
    std::string out, err;
};

// Parses args in a child; the child then emits a small document.
Parsed parse(std::vector<std::string> args)
{
    Outcome o = run_child([&] {
        Argv av(args);
        int n = xo_parse_args(av.argc(), av.argv());
        note("%d\n%u\n%d\n", n, xo_get_style(NULL), n >= 0 && av.argv()[n] == nullptr);
        for (const std::string &s : av.left(n))
            note("%s\n", s.c_str());
        if (n < 0)
            exit(1);
        xo_open_container("top");
        xo_emit("{:some-name/%s}{k:id/%d}\n", "v", 1);
        xo_finish();
    });
    Parsed p{};
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < o.notes.size()) {
        size_t nl = o.notes.find('\n', pos);
        lines.push_back(o.notes.substr(pos, nl - pos));
        pos = nl + 1;
    }
    EXPECT_GE(lines.size(), 3u);
    if (lines.size() >= 3) {
        p.argc = std::stoi(lines[0]);
        p.style = static_cast<xo_style_t>(std::stoul(lines[1]));
        p.terminated = lines[2] == "1";
        p.left.assign(lines.begin() + 3, lines.end());
    }
    p.out = o.out;
    p.err = o.err;
    return p;
}

using Strings = std::vector<std::string>;

TEST(ParseArgs, TheThreeFormsAreTakenOutOfArgv)
{
    const Strings forms[] = {{"--libxo=json"}, {"--libxo", "json"}, {"--libxo:J"}};
    for (const Strings &form : forms) {
        Strings args{"stalewatch", "-b"};
        args.insert(args.end(), form.begin(), form.end());
        args.push_back("proc");
        Parsed p = parse(args);
        EXPECT_EQ(p.argc, 3) << form[0];
        EXPECT_EQ(p.left, (Strings{"stalewatch", "-b", "proc"})) << form[0];
        EXPECT_TRUE(p.terminated);
        EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_JSON));
        EXPECT_EQ(p.out, "{\"top\": {\"some-name\":\"v\",\"id\":1}}\n");
        EXPECT_EQ(p.err, "");
    }
}

TEST(ParseArgs, NoOptionsLeaveArgvAlone)
{
    Parsed p = parse({"stalewatch", "-u", "root", "sshd"});
    EXPECT_EQ(p.argc, 4);
    EXPECT_EQ(p.left, (Strings{"stalewatch", "-u", "root", "sshd"}));
    EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_TEXT));
    EXPECT_EQ(p.out, "v1\n");
}

TEST(ParseArgs, StylesAndSettingsCombine)
{
    EXPECT_EQ(parse({"x", "--libxo=xml,pretty,keys,underscores"}).out,
              "<top>\n  <some_name>v</some_name>\n  <id key=\"key\">1</id>\n</top>\n");
    EXPECT_EQ(parse({"x", "--libxo", "xml", "--libxo:Pku"}).out,
              "<top>\n  <some_name>v</some_name>\n  <id key=\"key\">1</id>\n</top>\n");
    EXPECT_EQ(parse({"x", "--libxo:XPi4"}).out, "<top>\n    <some-name>v</some-name>\n    <id>1</id>\n</top>\n");
    EXPECT_EQ(parse({"x", "--libxo:HX"}).style, static_cast<xo_style_t>(XO_STYLE_XML));
    EXPECT_EQ(parse({"x", "--libxo=html"}).out,
              "<div class=\"line\"><div class=\"data\" data-tag=\"some-name\">v</div>"
              "<div class=\"data\" data-tag=\"id\">1</div></div>");
    EXPECT_EQ(parse({"x", "--libxo=json", "--libxo=text"}).style, static_cast<xo_style_t>(XO_STYLE_TEXT));
}

TEST(ParseArgs, KeywordsAcceptedWithoutChangingThisOutput)
{
    const char *words[] = {"warn", "no-color", "dtrt", "info", "log-gettext", "no-humanize", "no-locale",
                           "no-retain", "retain", "units", "warn-xml", "columns", "allow-color",
                           "colors=red", "flush", "flush-line"};
    for (const char *w : words) {
        Parsed p = parse({"x", std::string("--libxo=text,") + w, "arg"});
        EXPECT_EQ(p.argc, 2) << w;
        EXPECT_EQ(p.out, "v1\n") << w;
        EXPECT_EQ(p.err, "") << w;
    }
}

TEST(ParseArgs, ScanningStopsAtDoubleDash)
{
    Parsed p = parse({"x", "--libxo=xml", "--", "--libxo=json", "a"});
    EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_XML));
    EXPECT_EQ(p.left, (Strings{"x", "--", "--libxo=json", "a"}));
    EXPECT_EQ(p.argc, 4);
}

TEST(ParseArgs, SimilarLookingArgumentsAreNotOptions)
{
    Parsed p = parse({"x", "--libxoo", "-libxo=json", "libxo"});
    EXPECT_EQ(p.argc, 4);
    EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_TEXT));
}

struct BadOption {
    Strings args;
    const char *err;
};

TEST(ParseArgs, BadOptionsFail)
{
    const BadOption bad[] = {
        {{"stalewatch", "--libxo=json,bogus"}, "stalewatch: unknown libxo option value: 'bogus'\n"},
        {{"stalewatch", "--libxo", "wrong"}, "stalewatch: unknown libxo option value: 'wrong'\n"},
        {{"stalewatch", "--libxo:JQ"}, "stalewatch: unknown option: 'Q'\n"},
        {{"stalewatch", "-b", "--libxo"}, "stalewatch: missing libxo option\n"},
        {{"/usr/local/bin/stalewatch", "--libxo:%"}, "stalewatch: unknown option: '%'\n"},
    };
    for (const BadOption &b : bad) {
        Parsed p = parse(b.args);
        EXPECT_EQ(p.argc, -1) << b.args.back();
        EXPECT_EQ(p.err, b.err);
        EXPECT_EQ(p.out, "");
    }
}

TEST(ParseArgs, EmptyAndMalformedValuesFail)
{
    SKIP_WITH_SYSTEM_LIBXO("this layer's reading of empty values");
    const BadOption bad[] = {
        {{"stalewatch", "--libxo="}, "stalewatch: missing libxo option\n"},
        {{"stalewatch", "--libxo:"}, "stalewatch: missing libxo option\n"},
        {{"stalewatch", "--libxo", ""}, "stalewatch: missing libxo option\n"},
        {{"stalewatch", "--libxo=indent=wide"}, "stalewatch: unknown libxo option value: 'indent=wide'\n"},
        {{"stalewatch", "--libxo=pretty=1"}, "stalewatch: unknown libxo option value: 'pretty=1'\n"},
    };
    for (const BadOption &b : bad) {
        Parsed p = parse(b.args);
        EXPECT_EQ(p.argc, -1) << b.args.back();
        EXPECT_EQ(p.err, b.err);
    }
}

TEST(ParseArgs, WarnOptionEnablesFormatWarnings)
{
    Outcome quiet = run_child([] {
        Argv av({"stalewatch"});
        xo_parse_args(av.argc(), av.argv());
        xo_emit("{:x/%s", "v");
    });
    EXPECT_EQ(quiet.err, "");
    Outcome warned = run_child([] {
        Argv av({"stalewatch", "--libxo:W"});
        xo_parse_args(av.argc(), av.argv());
        xo_emit("{:x/%s", "v");
    });
    EXPECT_EQ(warned.err.rfind("stalewatch: ", 0), 0u) << warned.err;
}

} // namespace
