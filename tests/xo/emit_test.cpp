// xo_emit: column counts, printf conversions, field roles and modifiers,
// and formats that are wrong.
#include "harness.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {

const xo_style_t all_styles[] = {XO_STYLE_TEXT, XO_STYLE_XML, XO_STYLE_JSON, XO_STYLE_HTML};

// ------------------------------------------------------------ columns

TEST(ColumnCount, RowFieldsCountTheSameInEveryStyle)
{
    for (xo_style_t style : all_styles) {
        Outcome o = run_styled(style, XOF_WARN | XOF_COLUMNS, [] {
            xo_open_container("stalewatch");
            xo_open_list("process");
            xo_open_instance("process");
            note("%ld ", static_cast<long>(xo_emit("{kw:pid/%5d/%d}", 1234)));
            note("%ld ", static_cast<long>(xo_emit("{w:jid/%5d/%d}", 0)));
            note("%ld ", static_cast<long>(xo_emit("{e:uid/%d/%d}", 0u)));
            note("%ld ", static_cast<long>(xo_emit("{w:user/%-12.12s/%s}", "root")));
            note("%ld ", static_cast<long>(xo_emit("{w:command/%-12.12s/%s}", "sshd")));
            note("%ld ", static_cast<long>(xo_emit("{w:why/%-3s/%s}", ".so")));
            note("%ld", static_cast<long>(xo_emit("{:arguments/%s}\n", "/usr/sbin/sshd")));
            xo_close_instance("process");
            xo_close_list("process");
            xo_close_container("stalewatch");
        });
        EXPECT_EQ(o.notes, "6 6 0 13 13 4 14") << "style " << style;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.status, 0);
    }
}

TEST(ColumnCount, TitlesAndLiteralText)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [] {
        note("%ld ", static_cast<long>(
                         xo_emit("{Tw:/%5s}{Tw:/%5s}{Tw:/%-12.12s}{Tw:/%-12.12s}{Tw:/%-3s}{T:/%s}\n", "PID",
                                 "JID", "USER", "COMMAND", "WHY", "ARGUMENTS")));
        note("%ld ", static_cast<long>(xo_emit("ab{:x/%s}cd\n", "xyz")));
        note("%ld ", static_cast<long>(xo_emit("{{}}\n")));
        note("%ld", static_cast<long>(xo_emit("\n")));
    });
    EXPECT_EQ(o.notes, "51 7 2 0");
    EXPECT_EQ(o.out,
              "  PID   JID USER         COMMAND      WHY ARGUMENTS\n"
              "abxyzcd\n{}\n\n");
}

TEST(ColumnCount, WideCombiningAndInvalidCharacters)
{
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [] {
        note("%ld ", static_cast<long>(xo_emit("{:x/%s}", "\xe6\x97\xa5\xe6\x9c\xac"))); // two wide
        note("%ld ", static_cast<long>(xo_emit("{:x/%s}", "e\xcc\x81")));               // e + U+0301
        note("%ld ", static_cast<long>(xo_emit("{:x/%s}", "a\xff")));                    // invalid byte
        note("%ld", static_cast<long>(xo_emit("{w:x/%-5s}", "\xc3\xa9")));               // é, padded
    });
    EXPECT_EQ(o.notes, "4 1 2 6");
}

TEST(ColumnCount, WithoutTheFlagBytesAreCounted)
{
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        note("%ld ", static_cast<long>(xo_emit("{w:x/%-5s}", "\xc3\xa9")));
        note("%ld", static_cast<long>(xo_emit("{e:y/%d}", 5)));
    });
    EXPECT_EQ(o.notes, "7 0");
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
    CONV("%d%%", 50);
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

TEST(PrintfConversion, NullStringPrintsNull)
{
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit("{:v/%s}\n", static_cast<const char *>(nullptr)); });
    EXPECT_EQ(text.out, "(null)\n");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] { xo_emit("{:v/%s}", static_cast<const char *>(nullptr)); });
    EXPECT_EQ(json.out, "{\"v\":\"(null)\"}\n");
}

TEST(PrintfConversion, StringWidthsCountColumnsAndKeepCharactersWhole)
{
    SKIP_WITH_SYSTEM_LIBXO("column-based widths");
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_emit("[{:a/%-6.3s}]", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9ex"); // 日本語x
        xo_emit("[{:b/%5s}]", "\xc3\xa9");                                 // é
        xo_emit("[{:c/%.1s}]", "\xe6\x97\xa5");                            // 日 does not fit
        xo_emit("[{:d/%.2s}]", "e\xcc\x81" "fg");                          // é (combining) f
        xo_emit("[{:e/%.2s}]", "\xff\xfe" "abc");                          // raw bytes, 1 each
    });
    EXPECT_EQ(o.out, "[\xe6\x97\xa5    ][    \xc3\xa9][][e\xcc\x81" "f][\xff\xfe]");
}

// ------------------------------------------------ roles and modifiers

const char *roles_fmt = "{Lwc:Total}{:count/%d}{Uw: KiB}{D:;}{N:note}\n";

TEST(FieldRole, LabelsUnitsDecorationsAndNotesAreDisplayOnly)
{
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(text.out, "Total: 5 KiB ;note\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(xml.out, "<count>5</count>");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(json.out, "{\"count\":5}\n");
}

TEST(FieldRole, HtmlClassPerRole)
{
    SKIP_WITH_SYSTEM_LIBXO("HTML details beyond the reference");
    Outcome html = run_styled(XO_STYLE_HTML, 0, [] { xo_emit(roles_fmt, 5); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"label\">Total:</div><div class=\"padding\"> </div>"
                        "<div class=\"data\" data-tag=\"count\">5</div><div class=\"units\"> KiB</div>"
                        "<div class=\"padding\"> </div><div class=\"decoration\">;</div>"
                        "<div class=\"note\">note</div></div>");
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
    EXPECT_EQ(o.out, "v\n");
    EXPECT_EQ(o.notes, "1");
}

const char *split_fmt = "{e:hidden/%d}{d:shown/%s}{:both/%s}\n";

TEST(FieldModifier, EncodingOnlyAndDisplayOnly)
{
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [] { xo_emit(split_fmt, 1, "a", "b"); });
    EXPECT_EQ(text.out, "ab\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] { xo_emit(split_fmt, 1, "a", "b"); });
    EXPECT_EQ(xml.out, "<hidden>1</hidden><both>b</both>");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] { xo_emit(split_fmt, 1, "a", "b"); });
    EXPECT_EQ(json.out, "{\"hidden\":1,\"both\":\"b\"}\n");
}

TEST(FieldModifier, SeparateEncodingFormat)
{
    const char *fmt = "{:size/%5d/%d}{:name/%-4.2s/%s}\n";
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [=] { xo_emit(fmt, 42, "abcdef"); });
    EXPECT_EQ(text.out, "   42ab  \n");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] { xo_emit(fmt, 42, "abcdef"); });
    EXPECT_EQ(json.out, "{\"size\":42,\"name\":\"abcdef\"}\n");
}

TEST(FieldModifier, QuotingInJson)
{
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_emit("{:a/%d}{q:b/%d}{:c/%s}{n:d/%s}{:e/%u}", 1, 2, "3", "true", 4u);
    });
    EXPECT_EQ(o.out, "{\"a\":1,\"b\":\"2\",\"c\":\"3\",\"d\":true,\"e\":4}\n");
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
    const char *fmt = "{:some-name/%d}";
    Outcome xml = run_styled(XO_STYLE_XML, XOF_UNDERSCORES, [=] { xo_emit(fmt, 1); });
    EXPECT_EQ(xml.out, "<some_name>1</some_name>");
    Outcome json = run_styled(XO_STYLE_JSON, XOF_UNDERSCORES, [=] { xo_emit(fmt, 1); });
    EXPECT_EQ(json.out, "{\"some_name\":1}\n");
    Outcome as_is = run_styled(XO_STYLE_JSON, 0, [=] { xo_emit(fmt, 1); });
    EXPECT_EQ(as_is.out, "{\"some-name\":1}\n");
}

TEST(FieldModifier, TrimColonAndDefaultFormat)
{
    const char *fmt = "{t:a/%s}|{Lc:Name}|{:b}\n";
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [=] { xo_emit(fmt, "  x y  ", "plain"); });
    EXPECT_EQ(text.out, "x y|Name:|plain\n");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] { xo_emit(fmt, "  x y  ", "plain"); });
    EXPECT_EQ(json.out, "{\"a\":\"x y\",\"b\":\"plain\"}\n");
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
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"text\">{literal} text </div>"
                        "<div class=\"data\" data-tag=\"v\">3</div></div>");
}

TEST(FieldDescriptor, FlushModes)
{
    SKIP_WITH_SYSTEM_LIBXO("when libxo writes its buffer is its own business");
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
    const char *warning; // after "stalewatch: libxo: "
    const char *out;     // all of stdout, the call being followed by "|{:after/%d}"
    bool fails;          // the call returns -1
};

TEST(MalformedDescriptor, WarnsNamesTheProblemAndStops)
{
    SKIP_WITH_SYSTEM_LIBXO("warning texts");
    static int n;
    const std::vector<Bad> bad = {
        {"unclosed", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("ok {:x/%s", "v")); },
         "unclosed field descriptor in 'ok {:x/%s'", "ok |9", true},
        {"unknown modifier", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{Z:y/%d}", 1)); },
         "unknown field modifier 'Z' in '{Z:y/%d}'", "1|9", false},
        {"%n", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:a/%d}{:b/%n}{:c/%d}", 1, &n, 3)); },
         "unsupported conversion '%n' in '{:a/%d}{:b/%n}{:c/%d}'", "1|9", true},
        {"%f", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:f/%f}{:g/%s}", 1.5, "g")); },
         "unsupported conversion '%f' in '{:f/%f}{:g/%s}'", "|9", true},
        {"%ls", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:f/%ls}", L"w")); },
         "unsupported conversion '%ls' in '{:f/%ls}'", "|9", true},
        {"width", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:w/%99999999d}", 1)); },
         "width or precision too large for '%99999999d' in '{:w/%99999999d}'", "|9", true},
        {"incomplete", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("{:p/%5}")); },
         "incomplete conversion '%5' in '{:p/%5}'", "|9", true},
        {"no name", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("a{}b")); },
         "field without a name or a format in 'a{}b'", "ab|9", false},
        {"no colon", XO_STYLE_TEXT, [] { return static_cast<long>(xo_emit("a{w}b")); },
         "field without a name or a format in 'a{w}b'", "ab|9", false},
        {"types", XO_STYLE_JSON, [] { return static_cast<long>(xo_emit("{:t/%d/%s}", 4)); },
         "arguments do not match between the formats of a field in '{:t/%d/%s}'", "{\"after\":9}\n", true},
    };
    for (const Bad &b : bad) {
        Outcome o = run_styled(b.style, XOF_WARN, [&] {
            note("%ld", b.call());
            xo_emit("|{:after/%d}", 9); // the next call is unaffected
        });
        EXPECT_EQ(o.err, std::string("stalewatch: libxo: ") + b.warning + "\n") << b.what;
        EXPECT_EQ(o.out, b.out) << b.what;
        if (b.fails) {
            EXPECT_EQ(o.notes, "-1") << b.what;
        }
        Outcome quiet = run_styled(b.style, 0, [&] { b.call(); });
        EXPECT_EQ(quiet.err, "") << b.what;
    }
}

TEST(MalformedDescriptor, TooManyFields)
{
    SKIP_WITH_SYSTEM_LIBXO("the field limit is this layer's");
    Outcome o = run_styled(XO_STYLE_TEXT, XOF_WARN, [] {
        std::string fmt;
        for (int i = 0; i < 1100; i++)
            fmt += "{L:x}";
        xo_emit(fmt.c_str(), 0);
    });
    EXPECT_EQ(o.out, std::string(1024, 'x'));
    EXPECT_NE(o.err.find("stalewatch: libxo: too many fields in '{L:x}"), std::string::npos);
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
    EXPECT_EQ(o.notes, "-1 2");
    EXPECT_EQ(o.out, "3\n");
}

} // namespace
