/* SPDX-License-Identifier: BSD-2-Clause */
// xo_emit: column counts, printf conversions, field roles and modifiers,
// and formats that are wrong.
#include "harness.h"
#include "report.h"
#include "settings.h"

#include <climits>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {

const xo_style_t all_styles[] = {XO_STYLE_TEXT, XO_STYLE_XML, XO_STYLE_JSON, XO_STYLE_HTML};

// ------------------------------------------------------------ columns

TEST(ColumnCount, RowFieldsInEachStyle)
{
    // The program's row fits its last column with the columns that the
    // fields before it return: 42 with these values in text, so that a
    // width of 52 leaves 10 for the arguments.  Other styles are not cut.
    const char *args[] = {"/usr/sbin/", "/usr/sbin/sshd-daemon", "/usr/sbin/sshd-daemon",
                          "/usr/sbin/sshd-daemon"};
    for (xo_style_t style : all_styles) {
        Outcome o = run_styled(style, XOF_WARN | XOF_COLUMNS, [] {
            settings.termwidth = 52;
            settings.no_header = true;
            report_begin();
            report_row(1234, 0, 0, "root", "sshd", WHY_SO, "/usr/sbin/sshd-daemon");
            report_end();
        });
        EXPECT_NE(o.out.find(args[style]), std::string::npos) << "style " << style << o.out;
        EXPECT_EQ(o.out.find(std::string(args[style]) + "s"), std::string::npos) << o.out;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.status, 0);
    }
}

TEST(ColumnCount, TitlesAndLiteralText)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [] {
        note("%ld ", static_cast<long>(xo_emit("{Tw:/%5s}{T:/%-3s}\n", "PID", "WHY")));
        note("%ld ", static_cast<long>(xo_emit("ab{:x/%s}cd\n", "xyz")));
        note("%ld ", static_cast<long>(xo_emit("{{}}\n")));
        note("%ld", static_cast<long>(xo_emit("\n")));
    });
    EXPECT_EQ(o.notes, "9 7 2 0");
    EXPECT_EQ(o.out,
              "  PID WHY\n"
              "abxyzcd\n{}\n\n");
}

TEST(ColumnCount, WideCombiningAndInvalidCharacters)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [] {
        note("%ld ", static_cast<long>(xo_emit("{:x/%s}", "\xe6\x97\xa5\xe6\x9c\xac"))); // two wide
        note("%ld ", static_cast<long>(xo_emit("{:x/%s}", "e\xcc\x81")));               // e + U+0301
        note("%ld", static_cast<long>(xo_emit("{w:x/%-5s}", "\xc3\xa9")));               // é, padded
    });
    EXPECT_EQ(o.notes, "4 1 6");
}

TEST(ColumnCount, NoConversionThroughTheLocale)
{
    SKIP_WITH_SYSTEM_LIBXO("locale-conversion", "libxo turns what the locale cannot show into '?'");
    Outcome o = run_child([] {
        setenv("LC_ALL", "C", 1);
        setlocale(LC_ALL, "");
        xo_set_program("stalewatch");
        xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
        note("%ld", static_cast<long>(xo_emit("{:a/%s}\n", "\xc3\xbc\xe6\x97\xa5")));
        xo_finish();
    });
    EXPECT_EQ(o.out, "\xc3\xbc\xe6\x97\xa5\n");
    EXPECT_EQ(o.notes, "3");
    EXPECT_EQ(o.err, "");
}

// The first call takes the character set from the environment.
TEST(ColumnCount, LocaleComesFromTheEnvironment)
{
    for (const char *locale : {"C.UTF-8", "C"}) {
        Outcome o = run_child([&] {
            setenv("LC_ALL", locale, 1);
            note("%d ", static_cast<int>(MB_CUR_MAX));
            xo_set_flags(NULL, XOF_WARN);
            note("%d", static_cast<int>(MB_CUR_MAX));
        });
        EXPECT_EQ(o.notes, std::string(locale) == "C" ? "1 1" : "1 6") << locale;
    }
}

TEST(ColumnCount, WithoutTheFlagNothingIsCounted)
{
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        note("%ld ", static_cast<long>(xo_emit("{w:x/%-5s}", "\xc3\xa9")));
        note("%ld", static_cast<long>(xo_emit("{e:y/%d}", 5)));
    });
    EXPECT_EQ(o.notes, "0 0");
    EXPECT_EQ(o.out, "\xc3\xa9     ");
}

// ---------------------------------------------------- printf conversions

// Each case is emitted by the layer in the child and formatted by
// snprintf in the parent; the two must agree.
#define CONV(fmt, ...)                                                 \
    do {                                                               \
        if (child) {                                                   \
            xo_emit("{:v/" fmt "}|", __VA_ARGS__);                     \
        } else {                                                       \
            char buf[512];                                             \
            snprintf(buf, sizeof buf, fmt "|", __VA_ARGS__);           \
            *expected += buf;                                          \
        }                                                              \
    } while (0)

void conversions(bool child, std::string *expected)
{
    CONV("%d", 0);
    CONV("%d", -42);
    CONV("%i", INT_MIN);
    CONV("%d", INT_MAX);
    CONV("%5d", 42);
    CONV("%-5d", 42);
    CONV("%05d", -42);
    CONV("%+d", 7);
    CONV("% d", 7);
    CONV("%+05d", 7);
    CONV("%.3d", 7);
    CONV("%8.3d", -7);
    CONV("%-8.3d", 7);
    CONV("%.0d", 0);
    CONV("%5.0d", 0);
    CONV("%.d", 0); // a dot alone is precision 0
    CONV("%u", 4294967294u);
    CONV("%x", 255u);
    CONV("%X", 0xBEEFu);
    CONV("%#x", 255u);
    CONV("%#X", 255u);
    CONV("%#x", 0u);
    CONV("%#10x", 255u);
    CONV("%#010x", 255u);
    CONV("%o", 8u);
    CONV("%#o", 8u);
    CONV("%#o", 0u);
    CONV("%#.0o", 0u);
    CONV("%#.4o", 8u);
    // An int handed to a short conversion is cut, as printf cuts it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    CONV("%hhd", 300);
    CONV("%hhu", 300);
    CONV("%hd", 70000);
    CONV("%hu", 70000);
    CONV("%hx", 0x12345);
    // A precision, even a dot alone, turns zero padding off.
    CONV("%+012.i", 123456);
    CONV("%020.x", 1u);
#pragma GCC diagnostic pop
    CONV("%ld", LONG_MIN);
    CONV("%lu", ULONG_MAX);
    CONV("%lld", LLONG_MIN);
    CONV("%llx", 0x123456789abcdefULL);
    CONV("%jd", static_cast<intmax_t>(-1234567890123LL));
    CONV("%ju", static_cast<uintmax_t>(1234567890123ULL));
    CONV("%zu", static_cast<size_t>(123456789012ULL));
    CONV("%zd", static_cast<ssize_t>(-5));
    CONV("%td", static_cast<ptrdiff_t>(-99));
    CONV("%*d", 6, 42);
    CONV("%-*d", 6, 42);
    CONV("%*d", -6, 42);
    CONV("%.*d", 4, 42);
    CONV("%.*d", -1, 42);
    CONV("%*.*d", 8, 4, 42);
    CONV("%s", "plain");
    CONV("%10s", "right");
    CONV("%-10s", "left");
    CONV("%.3s", "truncate");
    CONV("%8.3s", "truncate");
    CONV("%*s", 7, "star");
    CONV("%-*.*s", 7, 2, "star");
    CONV("%c", 'x');
    CONV("%3c", 'y');
    CONV("%-3c", 'z');
    CONV("[%d:%s:%u]", -1, "mixed", 3u);
}

TEST(PrintfConversion, IntegersStringsAndCharactersMatchSnprintf)
{
    std::string expected;
    conversions(false, &expected);
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_WARN, [] { conversions(true, nullptr); });
    EXPECT_EQ(o.out, expected);
    EXPECT_EQ(o.err, "");
}

TEST(PrintfConversion, PercentSignInAFieldFormat)
{
    SKIP_WITH_SYSTEM_LIBXO("field-percent-sign", "libxo drops the percent sign that %% stands for");
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit("{:v/%d%%}|{:w/%%%s}\n", 50, "x"); });
    EXPECT_EQ(o.out, "50%|%x\n");
}

TEST(PrintfConversion, StarWidthWithStringPrecisionZero)
{
    SKIP_WITH_SYSTEM_LIBXO("star-width-zero-precision", "libxo fills the width with zeros");
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit("[{:v/%*.0s}][{:w/%*.0s}]\n", 4, "abc", -3, ""); });
    EXPECT_EQ(o.out, "[    ][   ]\n");
}

TEST(PrintfConversion, NullStringPrintsNull)
{
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit("{:v/%s}\n", static_cast<const char *>(nullptr)); });
    EXPECT_EQ(text.out, "(null)\n");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("c");
        xo_emit("{:v/%s}", static_cast<const char *>(nullptr));
    });
    EXPECT_EQ(json.out, "{\"c\": {\"v\":\"(null)\"}}\n");
}

TEST(PrintfConversion, StringPrecisionCutsBytesAndWidthCountsColumns)
{
    // Never inside a character: what does not fit whole is left out.
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [] {
        note("%ld ", static_cast<long>(xo_emit("[{:a/%-6.4s}]", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9ex"))); // 日本語x
        note("%ld ", static_cast<long>(xo_emit("[{:b/%5s}]", "\xc3\xa9")));                                 // é
        note("%ld ", static_cast<long>(xo_emit("[{:c/%.2s}]", "\xe6\x97\xa5")));                            // 日
        note("%ld ", static_cast<long>(xo_emit("[{:d/%.2s}]", "e\xcc\x81" "fg")));                          // e + U+0301
        note("%ld", static_cast<long>(xo_emit("[{:e/%-12.12s}]", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9")));
    });
    EXPECT_EQ(o.out, "[\xe6\x97\xa5    ][    \xc3\xa9][][e][\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9      ]");
    EXPECT_EQ(o.notes, "8 7 2 3 14");
}

TEST(PrintfConversion, PrecisionBeyondAnyLength)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_WARN | XOF_COLUMNS, [] {
        note("%ld", static_cast<long>(xo_emit("{:a/%.100000s}|{:b/%d}\n", "abc", 7)));
    });
    EXPECT_EQ(o.out, "abc|7\n");
    EXPECT_EQ(o.notes, "5");
    EXPECT_EQ(o.err, "");
}

// ------------------------------------------------ roles and modifiers

const char *roles_fmt = "{Lwc:Total}{:count/%d}{Uw: KiB}{D:;}{N:note}\n";

TEST(FieldRole, LabelsUnitsDecorationsAndNotesAreDisplayOnly)
{
    // A units field's blank goes before it.
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(text.out, "Total: 5  KiB;note\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(xml.out, "<count>5</count>");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("c");
        xo_emit(roles_fmt, 5);
    });
    EXPECT_EQ(json.out, "{\"c\": {\"count\":5}}\n");
}

TEST(FieldRole, HtmlClassPerRole)
{
    Outcome html = run_styled(XO_STYLE_HTML, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"label\">Total</div><div class=\"decoration\">:</div>"
                        "<div class=\"padding\"> </div><div class=\"data\" data-tag=\"count\">5</div>"
                        "<div class=\"padding\"> </div><div class=\"units\"> KiB</div>"
                        "<div class=\"decoration\">;</div><div class=\"note\">note</div></div>");
}

TEST(FieldRole, TitleTextFormatAndArgument)
{
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_emit("{T:Name}|{T:Name/%-6s}|{T:/%4s}|\n", "ARG");
    });
    EXPECT_EQ(o.out, "Name|Name  | ARG|\n");
}

TEST(FieldRole, ColorAndGettextProduceNothing)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [] {
        note("%ld", static_cast<long>(xo_emit("{C:bold}{:x/%s}{C:/%s}{G:}\n", "v", "reset")));
    });
    // Not shown, but what a color's format makes is counted.
    EXPECT_EQ(o.out, "v\n");
    EXPECT_EQ(o.notes, "6");
}

const char *split_fmt = "{e:hidden/%d}{d:shown/%s}{:both/%s}\n";

TEST(FieldModifier, EncodingOnlyAndDisplayOnly)
{
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit(split_fmt, 1, "a", "b"); });
    EXPECT_EQ(text.out, "ab\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] { xo_emit(split_fmt, 1, "a", "b"); });
    EXPECT_EQ(xml.out, "<hidden>1</hidden><both>b</both>");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("c");
        xo_emit(split_fmt, 1, "a", "b");
    });
    EXPECT_EQ(json.out, "{\"c\": {\"hidden\":1,\"both\":\"b\"}}\n");
}

TEST(FieldModifier, SeparateEncodingFormat)
{
    const char *fmt = "{:size/%5d/%d}{:name/%-4.2s/%s}\n";
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [=] { xo_emit(fmt, 42, "abcdef"); });
    EXPECT_EQ(text.out, "   42ab  \n");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] {
        xo_open_container("c");
        xo_emit(fmt, 42, "abcdef");
    });
    EXPECT_EQ(json.out, "{\"c\": {\"size\":42,\"name\":\"abcdef\"}}\n");
}

TEST(FieldModifier, QuotingInJson)
{
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("c");
        xo_emit("{:a/%d}{q:b/%d}{:c/%s}{n:d/%s}{:e/%u}", 1, 2, "3", "true", 4u);
    });
    EXPECT_EQ(o.out, "{\"c\": {\"a\":1,\"b\":\"2\",\"c\":\"3\",\"d\":true,\"e\":4}}\n");
}

TEST(FieldModifier, IntegersThatAreNotJsonNumbers)
{
    SKIP_WITH_SYSTEM_LIBXO("json-numbers", "libxo writes +5, 007 or nothing unquoted");
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("c");
        xo_emit("{:a/%+d}{:b/%.3d}{:c/%.0d}", 5, 7, 0);
    });
    EXPECT_EQ(o.out, "{\"c\": {\"a\":\"+5\",\"b\":\"007\",\"c\":\"\"}}\n");
}

TEST(FieldModifier, KeysWithTheKeysFlag)
{
    const char *fmt = "{k:name/%s}{:size/%d}\n";
    Outcome plain = run_styled(XO_STYLE_XML, 0, [=] { xo_emit(fmt, "x", 1); });
    EXPECT_EQ(plain.out, "<name>x</name><size>1</size>");
    Outcome xml = run_styled(XO_STYLE_XML, XOF_KEYS, [=] { xo_emit(fmt, "x", 1); });
    EXPECT_EQ(xml.out, "<name key=\"key\">x</name><size>1</size>");
    Outcome html = run_styled(XO_STYLE_HTML, XOF_KEYS, [=] { xo_emit(fmt, "x", 1); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"data\" data-tag=\"name\" data-key=\"key\">x</div>"
                        "<div class=\"data\" data-tag=\"size\">1</div></div>");
}

TEST(FieldModifier, UnderscoresInNames)
{
    // JSON only, as in libxo.
    auto doc = [] {
        xo_open_container("c");
        xo_emit("{:some-name/%d}", 1);
    };
    EXPECT_EQ(run_styled(XO_STYLE_XML, XOF_UNDERSCORES, doc).out, "<c><some-name>1</some-name></c>");
    EXPECT_EQ(run_styled(XO_STYLE_JSON, XOF_UNDERSCORES, doc).out, "{\"c\": {\"some_name\":1}}\n");
    EXPECT_EQ(run_styled(XO_STYLE_JSON, 0, doc).out, "{\"c\": {\"some-name\":1}}\n");
}

TEST(FieldModifier, TrimColonAndDefaultFormat)
{
    // Trimming applies to the encoded value only.
    const char *fmt = "{t:a/%s}|{Lc:Name}|{:b}\n";
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [=] { xo_emit(fmt, "  x y  ", "plain"); });
    EXPECT_EQ(text.out, "  x y  |Name:|plain\n");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] {
        xo_open_container("c");
        xo_emit(fmt, "  x y  ", "plain");
    });
    EXPECT_EQ(json.out, "{\"c\": {\"a\":\"x y\",\"b\":\"plain\"}}\n");
}

TEST(FieldModifier, NameFromArgument)
{
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] { xo_emit("{a:/%d}{:after/%s}", "dynamic", 5, "z"); });
    EXPECT_EQ(xml.out, "<dynamic>5</dynamic><after>z</after>");
}

TEST(FieldDescriptor, BracesAndLiteralTextAreDisplayOnly)
{
    const char *fmt = "{{literal}} text {:v/%d}\n";
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [=] { xo_emit(fmt, 3); });
    EXPECT_EQ(text.out, "{literal} text 3\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [=] { xo_emit(fmt, 3); });
    EXPECT_EQ(xml.out, "<v>3</v>");
    Outcome html = run_styled(XO_STYLE_HTML, 0, [=] { xo_emit(fmt, 3); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"text\">{literal}</div><div class=\"text\"> text </div>"
                        "<div class=\"data\" data-tag=\"v\">3</div></div>");
}

TEST(FieldDescriptor, FlushModes)
{
    // The size of stdout tells what has been written so far.
    auto written = [] {
        fflush(stdout);
        return static_cast<long>(lseek(1, 0, SEEK_END));
    };
    Outcome buffered = run_styled(XO_STYLE_TEXT, 0, [&] {
        xo_emit("{:a/%s}\n", "x");
        note("%ld ", written());
        xo_flush();
        note("%ld", written());
    });
    EXPECT_EQ(buffered.notes, "0 2");
    Outcome each = run_styled(XO_STYLE_TEXT, XOF_FLUSH, [&] {
        xo_emit("{:a/%s}", "x");
        note("%ld", written());
    });
    EXPECT_EQ(each.notes, "1");
    Outcome lines = run_styled(XO_STYLE_TEXT, XOF_FLUSH_LINE, [&] {
        xo_emit("{:a/%s}", "x");
        note("%ld ", written());
        xo_emit("{:b/%s}\n", "y");
        note("%ld", written());
    });
    EXPECT_EQ(lines.notes, "0 3");
}

// ---------------------------------------------------- malformed formats

TEST(MalformedDescriptor, NeverCrashes)
{
    // Whatever libxo makes of them, these must not bring the program down.
    Outcome o = run_styled(XO_STYLE_JSON, XOF_WARN, [] {
        int n = 0;
        xo_emit("ok {:x/%s", "v");
        xo_emit("{Z:y/%d}", 1);
        xo_emit("{:a/%d}{:b/%n}{:c/%d}", 1, &n, 3);
        xo_emit("{:f/%f}{:g/%s}", 1.5, "g");
        xo_emit("{:w/%99999999d}", 1);
        xo_emit("{:p/%}");
        xo_emit("}{}{:/}");
        xo_emit("{:ok/%d}\n", 7);
    });
    EXPECT_EQ(o.signal, 0);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"ok\":7"), std::string::npos) << o.out;
}

struct Bad {
    const char *what;
    xo_style_t style;
    std::function<long()> call;
    const char *warning; // after "stalewatch: "
    const char *out;     // all of stdout, the call being followed by "|{:after/%d}"
};

// Each call returns -1 and warns (with the warn flag); the next call is
// unaffected.
void expect_failures(const std::vector<Bad> &bad)
{
    for (const Bad &b : bad) {
        Outcome o = run_styled(b.style, XOF_WARN, [&] {
            note("%ld", b.call());
            xo_emit("|{:after/%d}", 9);
        });
        EXPECT_EQ(o.err, std::string("stalewatch: ") + b.warning + "\n") << b.what;
        EXPECT_EQ(o.out, b.out) << b.what;
        EXPECT_EQ(o.notes, "-1") << b.what;
        Outcome quiet = run_styled(b.style, 0, [&] { b.call(); });
        EXPECT_EQ(quiet.err, "") << b.what;
    }
}

TEST(MalformedDescriptor, BadDescriptorsWriteNothingOfTheFormat)
{
    expect_failures({
        {"unclosed", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("ok {:x/%s", "v")); },
         "missing closing '}': ok {:x/%s", "|9"},
        {"unknown modifier", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("a{Z:y/%d}b", 1)); },
         "field descriptor uses unknown modifier: 'a{Z:y/%d}b'", "|9"},
        {"no content", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("a{}b")); },
         "missing content (':'): 'a{}b'", "|9"},
        {"modifiers only", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("a{w}b{:c/%d}", 1)); },
         "missing content (':'): 'a{w}b{:c/%d}'", "|9"},
    });
}

TEST(MalformedDescriptor, UnsupportedConversionsStop)
{
    SKIP_WITH_SYSTEM_LIBXO("unsupported-conversions", "libxo formats more than the layer's subset");
    static int n;
    expect_failures({
        {"%n", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:a/%d}{:b/%n}{:c/%d}", 1, &n, 3)); },
         "unsupported conversion '%n' in '{:a/%d}{:b/%n}{:c/%d}'", "1|9"},
        {"%k", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:f/%k}{:g/%s}", 1.5, "g")); },
         "unsupported conversion '%k' in '{:f/%k}{:g/%s}'", "|9"},
        {"%zs", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:f/%zs}", "w")); },
         "unsupported conversion '%zs' in '{:f/%zs}'", "|9"},
        {"width", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:w/%99999999d}", 1)); },
         "width too large for '%99999999d' in '{:w/%99999999d}'", "|9"},
        {"incomplete", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:p/%5}")); },
         "incomplete conversion '%5' in '{:p/%5}'", "|9"},
        {"types", XO_STYLE_XML, [] { return static_cast<long>(xo_emit("{:t/%d/%s}", 4)); },
         "arguments do not match between the formats of a field in '{:t/%d/%s}'", "<after>9</after>"},
    });
}

TEST(MalformedDescriptor, FieldWithoutAName)
{
    SKIP_WITH_SYSTEM_LIBXO("missing-field-name", "libxo makes up a member \"missing-field-name\": true");
    Outcome o = run_styled(XO_STYLE_JSON, XOF_WARN, [] {
        xo_open_container("c");
        note("%ld", static_cast<long>(xo_emit("{:}{:a/%d}", 1)));
    });
    EXPECT_EQ(o.out, "{\"c\": {\"a\":1}}\n");
    EXPECT_EQ(o.err, "stalewatch: missing field name in '{:}{:a/%d}'\n");
    EXPECT_EQ(o.notes, "0");
}

TEST(MalformedDescriptor, ManyFields)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_WARN, [] {
        std::string fmt;
        for (int i = 0; i < 1100; i++)
            fmt += "{L:x}";
        xo_emit(fmt.c_str(), 0);
    });
    EXPECT_EQ(o.out, std::string(1100, 'x'));
    EXPECT_EQ(o.err, "");
}

long emit_v(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    long n = static_cast<long>(xo_emit_hv(NULL, fmt, ap));
    va_end(ap);
    return n;
}

TEST(MalformedDescriptor, NullFormat)
{
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        note("%ld ", emit_v(NULL));
        note("%ld", emit_v("{:x/%d}\n", 3));
    });
    EXPECT_EQ(o.signal, 0);
    EXPECT_EQ(o.notes, "0 0");
    EXPECT_EQ(o.out, "3\n");
}

} // namespace

// Descriptors as libxo reads them: each format, the output libxo writes.
struct Reading {
    const char *what;
    xo_style_t style;
    xo_xof_flags_t flags;
    std::function<void()> body;
    const char *out;
    const char *err;
};

TEST(FieldDescriptor, ReadAsLibxoReadsThem)
{
    const Reading cases[] = {
        // An empty format takes no argument: there or not.
        {"empty format", XO_STYLE_JSON, 0, [] { xo_open_container("c"); xo_emit("{e:empty-tag/}{:v/}"); },
         "{\"c\": {\"empty-tag\":true,\"v\":true}}\n", ""},
        {"empty format xml", XO_STYLE_XML, 0, [] { xo_emit("{e:empty-tag/}{:v/}"); },
         "<empty-tag></empty-tag><v></v>", ""},
        // Gettext's field takes its argument and writes nothing.
        {"gettext", XO_STYLE_TEXT, 0, [] { xo_emit("{G:/%s}{:from/%s}|{G:/%s}{:n/%d}\n", "ldns", "foop", "x", 5); },
         "foop|5\n", ""},
        // A backslash takes the next character as it is.
        {"escaped slash", XO_STYLE_TEXT, 0,
         [] { xo_emit("{L:a\\/b}|{L:/x\\/y %s}{:n/%u}\n", "S", 7u); }, "a/b|x/y S7\n", ""},
        {"null with n", XO_STYLE_JSON, 0, [] { xo_open_container("c"); xo_emit("{n:w/%s}", (const char *)NULL); },
         "{\"c\": {\"w\":null}}\n", ""},
        {"null with n xml", XO_STYLE_XML, 0, [] { xo_emit("{n:w/%s}", (const char *)NULL); }, "<w>null</w>", ""},
        {"label from an argument", XO_STYLE_TEXT, 0, [] { xo_emit("{La:}|\n", "ARG"); }, "ARG|\n", ""},
        {"empty title", XO_STYLE_HTML, 0, [] { xo_emit("[{T:}]\n"); },
         "<div class=\"line\"><div class=\"text\">[</div><div class=\"text\">]</div></div>", ""},
        {"braces split html text", XO_STYLE_HTML, 0, [] { xo_emit("a{{b}}c\n"); },
         "<div class=\"line\"><div class=\"text\">a</div><div class=\"text\">{b}</div>"
         "<div class=\"text\">c</div></div>",
         ""},
        {"name not xml", XO_STYLE_XML, XOF_WARN, [] { xo_emit("{:4x4/%d}", 4); }, "<_4x4>4</_4x4>",
         "stalewatch: invalid XML tag name: '4x4'\n"},
        {"leaf list", XO_STYLE_JSON, 0,
         [] {
             xo_open_container("c");
             xo_emit("{l:s/%s}{l:s/%s}{:o/%d}", "a", "b", 1);
         },
         "{\"c\": {\"s\": [\"a\",\"b\"],\"o\":1}}\n", ""},
        {"long form", XO_STYLE_TEXT, 0, [] { xo_emit("{,title:/before%safter:}{,white,colon:v/%s}\n", "X", "y"); },
         "beforeXafter:y: \n", ""},
        {"anchors", XO_STYLE_TEXT, 0,
         [] { xo_emit("({[:/%d}{:a/%u}/{:b/%u}{]:})({[:-6}{:c/%u}{]:})\n", 8, 15u, 125u, 1u); },
         "(  15/125)(1     )\n", ""},
        {"plural", XO_STYLE_TEXT, 0, [] { xo_emit("{:n/%d} {Np:byte,bytes}|{:m/%d} {Np:byte,bytes}\n", 1, 2); },
         "1 byte|2 bytes\n", ""},
        {"units attribute", XO_STYLE_XML, XOF_UNITS, [] { xo_emit("{:d/%u}{Uw:miles}", 50u); },
         "<d units=\"miles\">50</d>", ""},
        {"floating point", XO_STYLE_JSON, 0, [] { xo_open_container("c"); xo_emit("{:f/%.1f}", 1412.0); },
         "{\"c\": {\"f\":1412.0}}\n", ""},
        {"colors", XO_STYLE_TEXT, XOF_COLOR,
         [] { xo_emit("{C:bold,fg-red}{:x/%s}{C:no-bold}|{C:/bg-%s}{C:}\n", "y", "blue"); },
         "\033[1;31my\033[0;31m|\033[44m\033[0m\n", ""},
        {"colors html", XO_STYLE_HTML, XOF_COLOR,
         [] { xo_emit("{C:inverse}{:x/%s}{C:normal,fg-green}{:z/%s}\n", "y", "w"); },
         "<div class=\"line\"><div class=\"data effect-inverse color-fg-inverse color-bg-inverse\" "
         "data-tag=\"x\">y</div><div class=\"data color-fg-green\" data-tag=\"z\">w</div></div>",
         ""},
        {"no colors without the flag", XO_STYLE_TEXT, 0, [] { xo_emit("{C:bold}{:x/%s}{C:reset}\n", "y"); }, "y\n",
         ""},
        {"humanize", XO_STYLE_TEXT, 0,
         [] {
             xo_emit("{h:a/%u} {h,hn-space:b/%u} {h,hn-decimal:c/%u} {h,hn-1000:d/%u} {h,hn-decimal:e/%u}\n",
                     21u, 58368u, 100663296u, 44470272u, 1342172800u);
         },
         "21 57 K 96M 44M 1.2G\n", ""},
        {"humanize html", XO_STYLE_HTML, 0, [] { xo_emit("{h:a/%u}\n", 2048u); },
         "<div class=\"line\"><div class=\"data\" data-tag=\"a\" data-number=\"2048\">2K</div></div>", ""},
        {"humanize json", XO_STYLE_JSON, 0, [] { xo_open_container("c"); xo_emit("{h:a/%u}", 2048u); },
         "{\"c\": {\"a\":2048}}\n", ""},
        {"wide characters", XO_STYLE_TEXT, 0, [] { xo_emit("{:w/%lc%ls}|{:v/%-5..3s}|\n", 0x20ac, L"h\u00e9", "日本語"); },
         "€hé|日   |\n", ""},
    };
    for (const Reading &c : cases) {
        Outcome o = run_styled(c.style, c.flags, c.body);
        EXPECT_EQ(o.out, c.out) << c.what;
        EXPECT_EQ(o.err, c.err) << c.what;
    }
}

TEST(FieldModifier, HumanizeHugeValues)
{
    SKIP_WITH_SYSTEM_LIBXO("humanize-huge", "libxo writes -0E for values from 2^63 on, and loses the output "
                                           "after a value that is not a number (humanize-not-a-number)");
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_emit("{h:a/%llu} {h,hn-1000:b/%llu}\n", 18446744073709551615ULL, 9223372036854775808ULL);
        xo_emit("[{h:c/%s}] {:d/%d}\n", "abc", 5);
    });
    EXPECT_EQ(o.out, "16E 9E\n[abc] 5\n");
}
