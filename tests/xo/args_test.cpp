/* SPDX-License-Identifier: BSD-2-Clause */
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
        xo_emit("{k:id/%d}{:some-name/%s}\n", 1, "v");
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

const char *pretty_xml = "<top>\n  <id>1</id>\n  <some-name>v</some-name>\n</top>\n";

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
        EXPECT_EQ(p.out, "{\"top\": {\"id\":1,\"some-name\":\"v\"}}\n");
        EXPECT_EQ(p.err, "");
    }
}

TEST(ParseArgs, NoOptionsLeaveArgvAlone)
{
    Parsed p = parse({"stalewatch", "-u", "root", "sshd"});
    EXPECT_EQ(p.argc, 4);
    EXPECT_EQ(p.left, (Strings{"stalewatch", "-u", "root", "sshd"}));
    EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_TEXT));
    EXPECT_EQ(p.out, "1v\n");
}

struct Combination {
    Strings args;
    xo_style_t style;
    const char *out;
    const char *err;
};

// Each command line leaves the program name alone and gives that style,
// output and diagnostics.
void expect_parsed(const std::vector<Combination> &combos)
{
    for (const Combination &c : combos) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.argc, 1) << c.args[1];
        EXPECT_EQ(p.style, c.style) << c.args[1];
        EXPECT_EQ(p.out, c.out) << c.args[1];
        EXPECT_EQ(p.err, c.err) << c.args[1];
    }
}

TEST(ParseArgs, StylesAndSettingsCombine)
{
    const std::vector<Combination> combos = {
        {{"x", "--libxo=xml,pretty,keys"}, XO_STYLE_XML,
         "<top>\n  <id key=\"key\">1</id>\n  <some-name>v</some-name>\n</top>\n", ""},
        {{"x", "--libxo", "xml", "--libxo:Pk"}, XO_STYLE_XML,
         "<top>\n  <id key=\"key\">1</id>\n  <some-name>v</some-name>\n</top>\n", ""},
        // Unique or not, a prefix names the first keyword it starts.
        {{"x", "--libxo=json,u"}, XO_STYLE_JSON, "{\"top\": {\"id\":1,\"some_name\":\"v\"}}\n", ""},
        {{"x", "--libxo=xml,p,indent=4"}, XO_STYLE_XML, "<top>\n    <id>1</id>\n    <some-name>v</some-name>\n</top>\n", ""},
        {{"x", "--libxo=xml,pre,indent:3"}, XO_STYLE_XML, "<top>\n   <id>1</id>\n   <some-name>v</some-name>\n</top>\n", ""},
        {{"x", "--libxo=xml,pretty,indent=wide"}, XO_STYLE_XML, "<top>\n<id>1</id>\n<some-name>v</some-name>\n</top>\n", ""},
        {{"x", "--libxo=json=1,pretty:yes"}, XO_STYLE_JSON,
         "{\n  \"top\": {\n    \"id\": 1,\n    \"some-name\": \"v\"\n  }\n}\n", ""},
        // Within one option the first style holds; a later option wins,
        // except that naming text changes nothing.
        {{"x", "--libxo=xml,json"}, XO_STYLE_XML, "<top><id>1</id><some-name>v</some-name></top>",
         "x: ignoring multiple styles: 'json'\n"},
        {{"x", "--libxo=json", "--libxo=xml"}, XO_STYLE_XML, "<top><id>1</id><some-name>v</some-name></top>", ""},
        {{"x", "--libxo=html", "--libxo=text"}, XO_STYLE_HTML,
         "<div class=\"line\"><div class=\"data\" data-tag=\"id\">1</div>"
         "<div class=\"data\" data-tag=\"some-name\">v</div></div>", ""},
        {{"x", "--libxo:J", "--libxo:T"}, XO_STYLE_TEXT, "1v\n", ""},
        {{"x", "--libxo:HX"}, XO_STYLE_XML, "<top><id>1</id><some-name>v</some-name></top>", ""},
        // A value that starts with a colon holds letters.
        {{"x", "--libxo=:XP"}, XO_STYLE_XML, pretty_xml, ""},
        {{"x", "--libxo=json,"}, XO_STYLE_JSON, "{\"top\": {\"id\":1,\"some-name\":\"v\"}}\n", ""},
    };
    expect_parsed(combos);
}

TEST(ParseArgs, KeywordsAcceptedWithoutChangingThisOutput)
{
    const char *words[] = {"warn", "no-color", "color", "dtrt", "info", "log-gettext", "no-humanize",
                           "no-locale", "no-retain", "retain", "units", "warn-xml", "columns", "colors=red",
                           "colors", "flush", "flush-line", "debug", "ignore-close", "xpath", "encoder",
                           "indent", "c", "n", "l", "d", "i"};
    for (const char *w : words) {
        Parsed p = parse({"x", std::string("--libxo=text,") + w, "arg"});
        EXPECT_EQ(p.argc, 2) << w;
        EXPECT_EQ(p.out, "1v\n") << w;
        EXPECT_EQ(p.err, "") << w;
    }
}

TEST(ParseArgs, EmptyValuesAreAccepted)
{
    const Strings empty[] = {{"x", "--libxo="}, {"x", "--libxo:"}, {"x", "--libxo", ""}};
    for (const Strings &args : empty) {
        Parsed p = parse(args);
        EXPECT_EQ(p.argc, 1) << args.back();
        EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_TEXT));
        EXPECT_EQ(p.out, "1v\n");
        EXPECT_EQ(p.err, "");
    }
    // An empty option does not stop a later one.
    EXPECT_EQ(parse({"x", "--libxo=", "--libxo=json"}).style, static_cast<xo_style_t>(XO_STYLE_JSON));
}

TEST(ParseArgs, DoubleDashDoesNotStopTheScan)
{
    Parsed p = parse({"x", "--libxo=xml", "--", "--libxo=json", "a"});
    EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_JSON));
    EXPECT_EQ(p.left, (Strings{"x", "--", "a"}));
    EXPECT_EQ(p.argc, 3);
}

TEST(ParseArgs, SimilarLookingArgumentsAreNotOptions)
{
    Parsed p = parse({"x", "--libx", "-libxo=json", "libxo"});
    EXPECT_EQ(p.argc, 4);
    EXPECT_EQ(p.style, static_cast<xo_style_t>(XO_STYLE_TEXT));
}

TEST(ParseArgs, UnknownLettersWarnAndTheOthersCount)
{
    const std::vector<Combination> combos = {
        {{"stalewatch", "--libxo:JQ"}, XO_STYLE_JSON, "{\"top\": {\"id\":1,\"some-name\":\"v\"}}\n",
         "stalewatch: unknown option: 'Q'\n"},
        {{"stalewatch", "--libxo:XqP"}, XO_STYLE_XML, pretty_xml, "stalewatch: unknown option: 'qP'\n"},
        {{"/usr/local/bin/stalewatch", "--libxo:%"}, XO_STYLE_TEXT, "1v\n", "stalewatch: unknown option: '%'\n"},
        {{"stalewatch", "--libxo=:ab"}, XO_STYLE_TEXT, "1v\n",
         "stalewatch: unknown option: 'ab'\nstalewatch: unknown option: 'b'\n"},
    };
    expect_parsed(combos);
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
        {{"stalewatch", "--libxo=prettyx=1"}, "stalewatch: unknown libxo option value: 'prettyx'\n"},
        {{"stalewatch", "--libxo=,json"}, "stalewatch: unknown libxo option value: ''\n"},
        {{"stalewatch", "--libxo=json,,pretty"}, "stalewatch: unknown libxo option value: ''\n"},
        {{"stalewatch", "--libxo==json"}, "stalewatch: unknown libxo option value: ''\n"},
        {{"stalewatch", "--libxo=JSON"}, "stalewatch: unknown libxo option value: 'JSON'\n"},
        {{"stalewatch", "--libxo=allow-color"}, "stalewatch: unknown libxo option value: 'allow-color'\n"},
        {{"stalewatch", "--libxo=encoder=cbor"}, "stalewatch: error initializing encoder: cbor\n"},
        {{"stalewatch", "--libxo=json,map-file=/nonexistent"},
         "stalewatch: error initializing map-file: '/nonexistent'\n"},
        {{"stalewatch", "--libxo=json,map==x"}, "stalewatch: error initializing map: '=x'\n"},
        {{"stalewatch", "-b", "--libxo"}, "stalewatch: missing libxo option\n"},
        {{"stalewatch", "--libxoo"}, "stalewatch: unknown libxo option: '--libxoo'\n"},
    };
    for (const BadOption &b : bad) {
        Parsed p = parse(b.args);
        EXPECT_EQ(p.argc, -1) << b.args.back();
        EXPECT_EQ(p.err, b.err);
        EXPECT_EQ(p.out, "");
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
        Argv av({"stalewatch", "--libxo:W", "--libxo=indent"});
        xo_parse_args(av.argc(), av.argv());
        xo_emit("{:x/%s", "v");
    });
    EXPECT_EQ(warned.err, "stalewatch: missing value for indent option\n"
                          "stalewatch: missing closing '}': {:x/%s\n");
}

TEST(ParseArgs, BriefIndentTakesAllItsDigits)
{
    SKIP_WITH_SYSTEM_LIBXO("brief-indent", "libxo warns about the digits of a valid indent");
    Parsed p = parse({"x", "--libxo:XPi4"});
    EXPECT_EQ(p.out, "<top>\n    <id>1</id>\n    <some-name>v</some-name>\n</top>\n");
    EXPECT_EQ(p.err, "");
    EXPECT_EQ(parse({"x", "--libxo:XPi12"}).out.substr(0, 19), "<top>\n            <");
}

TEST(ParseArgs, IndentIsBounded)
{
    SKIP_WITH_SYSTEM_LIBXO("indent-limit", "libxo indents by any amount, as far as atoi reads");
    Parsed p = parse({"x", "--libxo=xml,pretty,indent=99999"});
    EXPECT_EQ(p.out, "<top>\n" + std::string(4096, ' ') + "<id>1</id>\n" + std::string(4096, ' ') +
                         "<some-name>v</some-name>\n</top>\n");
}

} // namespace

TEST(ParseArgs, MapFileIsBounded)
{
    SKIP_WITH_SYSTEM_LIBXO("map-file-size", "libxo reads a map file without end");
    Parsed p = parse({"stalewatch", "--libxo=json,map-file=/dev/zero"});
    EXPECT_EQ(p.argc, -1);
    EXPECT_EQ(p.err, "stalewatch: error initializing map-file: '/dev/zero'\n");
}
