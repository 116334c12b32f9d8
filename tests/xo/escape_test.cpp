/* SPDX-License-Identifier: BSD-2-Clause */
// Hostile values: what reaches XML, JSON and HTML must parse and must
// decode to the value given.
#include "harness.h"

namespace {

void hostile_doc(const char *value)
{
    xo_open_container("top");
    xo_open_list("row");
    xo_open_instance("row");
    xo_emit("{k:name/%s}{:value/%s}\n", "n", value);
    xo_close_instance("row");
    xo_close_list("row");
    xo_close_container("top");
}

const char *json_value = "import json,sys\nprint(ascii(json.load(sys.stdin)['top']['row'][0]['value']))\n";
const char *xml_value =
    "import sys, xml.etree.ElementTree as ET\n"
    "print(ascii(ET.fromstring(sys.stdin.buffer.read()).find('row/value').text))\n";

struct Decoded {
    std::string json, xml;
};

Decoded decode(const char *value, xo_xof_flags_t flags)
{
    Decoded d;
    Outcome json = run_styled(XO_STYLE_JSON, flags, [=] { hostile_doc(value); });
    EXPECT_EQ(run_python(json_value, json.out, &d.json), 0) << json.out << d.json;
    Outcome xml = run_styled(XO_STYLE_XML, flags, [=] { hostile_doc(value); });
    EXPECT_EQ(run_python(xml_value, xml.out, &d.xml), 0) << xml.out << d.xml;
    return d;
}

TEST(Escaping, QuotesBackslashesAndMarkup)
{
    const char *v = "say \"hi\" \\ it's <b>&amp;</b> & done";
    const char *expected = "'say \"hi\" \\\\ it\\'s <b>&amp;</b> & done'\n";
    for (xo_xof_flags_t flags : {xo_xof_flags_t{0}, xo_xof_flags_t{XOF_PRETTY}}) {
        Decoded d = decode(v, flags);
        EXPECT_EQ(d.json, expected);
        EXPECT_EQ(d.xml, expected);
    }
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] {
        xo_open_container("c");
        xo_emit("{:v/%s}", v);
    });
    EXPECT_EQ(json.out, "{\"c\": {\"v\":\"say \\\"hi\\\" \\\\ it's <b>&amp;</b> & done\"}}\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [=] { xo_emit("{:v/%s}", v); });
    EXPECT_EQ(xml.out, "<v>say \"hi\" \\ it's &lt;b&gt;&amp;amp;&lt;/b&gt; &amp; done</v>");
    Outcome html = run_styled(XO_STYLE_HTML, 0, [=] { xo_emit("{:v/%s}\n", v); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"data\" data-tag=\"v\">"
                        "say \"hi\" \\ it's &lt;b&gt;&amp;amp;&lt;/b&gt; &amp; done</div></div>");
    Outcome text = run_styled(XO_STYLE_TEXT, 0, [=] { xo_emit("{:v/%s}", v); });
    EXPECT_EQ(text.out, v);
}

TEST(Escaping, ControlCharactersInJson)
{
    SKIP_WITH_SYSTEM_LIBXO("json-control-characters", "libxo writes them raw, which is not JSON");
    const char *v = "tab\tnl\ncr\rbs\bff\fone\x01us\x1f";
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] {
        xo_open_container("c");
        xo_emit("{:v/%s}", v);
    });
    EXPECT_EQ(json.out, "{\"c\": {\"v\":\"tab\\tnl\\ncr\\rbs\\bff\\fone\\u0001us\\u001f\"}}\n");
    Decoded d = decode(v, 0);
    EXPECT_EQ(d.json, "'tab\\tnl\\ncr\\rbs\\x08ff\\x0cone\\x01us\\x1f'\n");
}

TEST(Escaping, ControlCharactersInXml)
{
    SKIP_WITH_SYSTEM_LIBXO("xml-control-characters", "libxo writes them raw, which XML 1.0 cannot hold");
    // XML 1.0 cannot carry most C0 controls; TAB, LF and CR stay.
    const char *v = "tab\tnl\ncr\rbs\bff\fone\x01us\x1f";
    Decoded d = decode(v, 0);
    Outcome xml = run_styled(XO_STYLE_XML, 0, [=] { xo_emit("{:v/%s}", v); });
    EXPECT_EQ(xml.out, "<v>tab\tnl\ncr\rbs\xef\xbf\xbd" "ff\xef\xbf\xbd" "one\xef\xbf\xbdus\xef\xbf\xbd</v>");
    EXPECT_EQ(d.xml, "'tab\\tnl\\ncr\\nbs\\ufffdff\\ufffdone\\ufffdus\\ufffd'\n");
}

TEST(Escaping, InvalidUtf8BecomesTheReplacementCharacter)
{
    SKIP_WITH_SYSTEM_LIBXO("invalid-utf-8", "libxo empties the field or passes the bytes on");
    // A stray continuation byte, a truncated sequence, an overlong form, a
    // surrogate, then valid two-, three- and four-byte characters.
    const char *v = "a\x80" "b\xe6\x97" "c\xc0\xaf" "d\xed\xa0\x80" "e\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80";
    const char *r = "\xef\xbf\xbd";
    std::string clean = std::string("a") + r + "b" + r + r + "c" + r + r + "d" + r + r + r +
                        "e\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80";
    Outcome json = run_styled(XO_STYLE_JSON, 0, [=] {
        xo_open_container("c");
        xo_emit("{:v/%s}", v);
    });
    EXPECT_EQ(json.out, "{\"c\": {\"v\":\"" + clean + "\"}}\n");
    Outcome xml = run_styled(XO_STYLE_XML, 0, [=] { xo_emit("{:v/%s}", v); });
    EXPECT_EQ(xml.out, "<v>" + clean + "</v>");
    Outcome html = run_styled(XO_STYLE_HTML, 0, [=] { xo_emit("{:v/%s}\n", v); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"data\" data-tag=\"v\">" + clean + "</div></div>");
    // Text keeps the bytes, each counted as one column, and a precision
    // cuts them like any other.
    Outcome text = run_styled(XO_STYLE_TEXT, XOF_COLUMNS, [=] {
        note("%ld ", static_cast<long>(xo_emit("{:v/%s}", v)));
        note("%ld", static_cast<long>(xo_emit("[{:w/%.3s}]", "a\xff\xfe" "bc")));
    });
    EXPECT_EQ(text.out, std::string(v) + "[a\xff\xfe]");
    EXPECT_EQ(text.notes, "17 5"); // the emoji counts one column, as in libxo
    Decoded d = decode(v, XOF_PRETTY);
    const char *decoded = "'a\\ufffdb\\ufffd\\ufffdc\\ufffd\\ufffdd\\ufffd\\ufffd\\ufffde\\xe9\\u65e5\\U0001f600'\n";
    EXPECT_EQ(d.json, decoded);
    EXPECT_EQ(d.xml, decoded);
}

TEST(Escaping, AttributeValues)
{
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] {
        xo_set_version("1 '<&>'");
        xo_open_container("top");
    });
    EXPECT_EQ(xml.out, "<top version=\"1 '&lt;&amp;&gt;'\"></top>");
    EXPECT_EQ(run_python(PYTHON_XML_CHECK, xml.out, nullptr), 0);
    // The version goes into the outer object with its first member.
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] {
        xo_set_version("1 <q> & 'r'");
        xo_open_container("top");
    });
    EXPECT_EQ(json.out, "{\"__version\": \"1 <q> & 'r'\", \"top\": {}}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, json.out, nullptr), 0);
    EXPECT_EQ(run_styled(XO_STYLE_JSON, 0, [] { xo_set_version("1"); }).out, "{ }\n");
    // A version with a double quote in it is not taken at all.
    Outcome quoted = run_styled(XO_STYLE_JSON, 0, [] {
        xo_set_version("1 \"q\"");
        xo_open_container("top");
    });
    EXPECT_EQ(quoted.out, "{\"top\": {}}\n");
}

TEST(Escaping, BackslashInTheJsonVersion)
{
    SKIP_WITH_SYSTEM_LIBXO("json-version-escaping", "libxo writes a backslash in the version raw");
    Outcome json = run_styled(XO_STYLE_JSON, 0, [] {
        xo_set_version("1 \\ q");
        xo_open_container("top");
    });
    EXPECT_EQ(json.out, "{\"__version\": \"1 \\\\ q\", \"top\": {}}\n");
}

} // namespace

namespace {

TEST(Escaping, VersionSetTwice)
{
    SKIP_WITH_SYSTEM_LIBXO("xml-version-twice", "libxo writes the attribute twice, which is not XML");
    Outcome o = run_styled(XO_STYLE_XML, 0, [] {
        xo_set_version("1");
        xo_set_version("2");
        xo_open_container("a");
    });
    EXPECT_EQ(o.out, "<a version=\"2\"></a>");
}

TEST(Escaping, MarkupInHtmlTitlesAndNames)
{
    SKIP_WITH_SYSTEM_LIBXO("html-title-escaping", "libxo escapes a title's argument twice");
    Outcome o = run_styled(XO_STYLE_HTML, 0, [] { xo_emit("{T:/%s}{:e\"f/%d}\n", "<&>", 1); });
    EXPECT_EQ(o.out, "<div class=\"line\"><div class=\"title\">&lt;&amp;&gt;</div>"
                     "<div class=\"data\" data-tag=\"e&quot;f\">1</div></div>");
}

} // namespace
