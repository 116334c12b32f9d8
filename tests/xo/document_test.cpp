/* SPDX-License-Identifier: BSD-2-Clause */
// Document structure: nesting, pretty printing, xo_finish, and documents
// that strict parsers must accept.
#include "harness.h"

namespace {

void nested()
{
    xo_open_container("top");
    xo_emit("{:name/%s}", "n");
    xo_open_container("inner");
    xo_emit("{:depth/%d}", 2);
    xo_close_container("inner");
    xo_open_list("item");
    for (int i = 0; i < 2; i++) {
        xo_open_instance("item");
        xo_emit("{k:id/%d}{:label/%s}", i, i ? "b" : "a");
        xo_close_instance("item");
    }
    xo_close_list("item");
    xo_close_container("top");
}

TEST(Document, JsonNesting)
{
    Outcome o = run_styled(XO_STYLE_JSON, 0, nested);
    EXPECT_EQ(o.out, "{\"top\": {\"name\":\"n\", \"inner\": {\"depth\":2}, \"item\": "
                     "[{\"id\":0,\"label\":\"a\"}, {\"id\":1,\"label\":\"b\"}]}}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, o.out, nullptr), 0);
}

TEST(Document, JsonPrettyNesting)
{
    Outcome o = run_styled(XO_STYLE_JSON, XOF_PRETTY, nested);
    EXPECT_EQ(o.out, "{\n"
                     "  \"top\": {\n"
                     "    \"name\": \"n\",\n"
                     "    \"inner\": {\n"
                     "      \"depth\": 2\n"
                     "    },\n"
                     "    \"item\": [\n"
                     "      {\n"
                     "        \"id\": 0,\n"
                     "        \"label\": \"a\"\n"
                     "      },\n"
                     "      {\n"
                     "        \"id\": 1,\n"
                     "        \"label\": \"b\"\n"
                     "      }\n"
                     "    ]\n"
                     "  }\n"
                     "}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, o.out, nullptr), 0);
}

TEST(Document, XmlNesting)
{
    Outcome flat = run_styled(XO_STYLE_XML, 0, nested);
    EXPECT_EQ(flat.out, "<top><name>n</name><inner><depth>2</depth></inner>"
                        "<item><id>0</id><label>a</label></item><item><id>1</id><label>b</label></item></top>");
    EXPECT_EQ(run_python(PYTHON_XML_CHECK, flat.out, nullptr), 0);
    Outcome pretty = run_styled(XO_STYLE_XML, XOF_PRETTY, nested);
    EXPECT_EQ(pretty.out, "<top>\n"
                          "  <name>n</name>\n"
                          "  <inner>\n"
                          "    <depth>2</depth>\n"
                          "  </inner>\n"
                          "  <item>\n"
                          "    <id>0</id>\n"
                          "    <label>a</label>\n"
                          "  </item>\n"
                          "  <item>\n"
                          "    <id>1</id>\n"
                          "    <label>b</label>\n"
                          "  </item>\n"
                          "</top>\n");
    EXPECT_EQ(run_python(PYTHON_XML_CHECK, pretty.out, nullptr), 0);
}

TEST(Document, IndentWidthOption)
{
    Outcome o = run_child([] {
        Argv av({"stalewatch", "--libxo=xml,pretty,indent=4"});
        xo_parse_args(av.argc(), av.argv());
        xo_open_container("a");
        xo_open_container("b");
        xo_emit("{:c/%d}", 1);
        xo_finish();
    });
    EXPECT_EQ(o.out, "<a>\n    <b>\n        <c>1</c>\n    </b>\n</a>\n");
}

TEST(Document, HtmlPrettyPutsEachDivOnItsLine)
{
    Outcome o = run_styled(XO_STYLE_HTML, XOF_PRETTY, [] {
        xo_emit("{Tw:/%s}{:v/%d}\n", "T", 1);
        xo_emit("\n");
    });
    EXPECT_EQ(o.out, "<div class=\"line\">\n"
                     "  <div class=\"title\">T</div>\n"
                     "  <div class=\"padding\"> </div>\n"
                     "  <div class=\"data\" data-tag=\"v\">1</div>\n"
                     "</div>\n"
                     "<div class=\"line\">\n"
                     "</div>\n");
}

TEST(Document, EmptyDocuments)
{
    EXPECT_EQ(run_styled(XO_STYLE_JSON, 0, [] {}).out, "{ }\n");
    EXPECT_EQ(run_styled(XO_STYLE_XML, 0, [] {}).out, "");
    EXPECT_EQ(run_styled(XO_STYLE_TEXT, 0, [] {}).out, "");
    EXPECT_EQ(run_styled(XO_STYLE_HTML, 0, [] {}).out, "");
}

TEST(Document, FinishClosesWhateverIsOpen)
{
    auto unfinished = [] {
        xo_set_version("3");
        xo_open_container("top");
        xo_open_list("row");
        xo_open_instance("row");
        xo_emit("{:a/%d}", 1);
        xo_open_container("deep");
        xo_emit("{:b/%s}", "x");
    };
    Outcome json = run_styled(XO_STYLE_JSON, 0, unfinished);
    EXPECT_EQ(json.out, "{\"__version\": \"3\", \"top\": {\"row\": [{\"a\":1, \"deep\": {\"b\":\"x\"}}]}}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, json.out, nullptr), 0);
    Outcome xml = run_styled(XO_STYLE_XML, XOF_PRETTY, unfinished);
    EXPECT_EQ(xml.out, "<top version=\"3\">\n  <row>\n    <a>1</a>\n    <deep>\n      <b>x</b>\n"
                       "    </deep>\n  </row>\n</top>\n");
    EXPECT_EQ(run_python(PYTHON_XML_CHECK, xml.out, nullptr), 0);
}

TEST(Document, FinishEndsAnOpenHtmlLine)
{
    SKIP_WITH_SYSTEM_LIBXO("html-open-line", "libxo leaves the line's div open");
    Outcome html = run_styled(XO_STYLE_HTML, 0, [] { xo_emit("{:a/%d}", 1); });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"data\" data-tag=\"a\">1</div></div>");
}

TEST(Document, ValueOutsideAnyContainerIsAnObject)
{
    SKIP_WITH_SYSTEM_LIBXO("json-top-value", "libxo writes the closing brace but not the opening one");
    EXPECT_EQ(run_styled(XO_STYLE_JSON, 0, [] { xo_emit("{:a/%d}{:b/%s}", 1, "x"); }).out,
              "{\"a\":1,\"b\":\"x\"}\n");
}

TEST(Document, FinishTwiceWritesOnce)
{
    SKIP_WITH_SYSTEM_LIBXO("json-after-finish", "libxo closes the JSON object again at every xo_finish");
    for (xo_style_t style : {XO_STYLE_JSON, XO_STYLE_XML, XO_STYLE_HTML, XO_STYLE_TEXT}) {
        Outcome once = run_styled(style, 0, [] {
            xo_open_container("c");
            xo_emit("{:a/%d}\n", 1);
        });
        Outcome twice = run_styled(style, 0, [] {
            xo_open_container("c");
            xo_emit("{:a/%d}\n", 1);
            xo_finish();
            xo_finish();
        });
        EXPECT_FALSE(once.out.empty());
        EXPECT_EQ(twice.out, once.out) << "style " << style;
    }
}

TEST(Document, ErrorEndsTheListItInterrupts)
{
    Outcome o = run_styled(XO_STYLE_JSON, XOF_WARN, [] {
        xo_set_version("2");
        xo_open_container("stalewatch");
        xo_open_list("process");
        xo_open_instance("process");
        xo_emit("{k:pid/%d}", 1234);
        xo_close_instance("process");
        xo_error("procstat: %s\n", "gone \"away\"");
        xo_close_list("process");
        xo_close_container("stalewatch");
    });
    EXPECT_EQ(o.out, "{\"__version\": \"2\", \"stalewatch\": {\"process\": [{\"pid\":1234}], "
                     "\"error\": {\"message\":\"procstat: gone \\\"away\\\"\\n\"}}}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, o.out, nullptr), 0);
    EXPECT_EQ(o.err, "stalewatch: xo_close_list can't find match for 'process'\n");
    Outcome in_container = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("top");
        xo_emit("{:a/%d}", 1);
        xo_error("bad");
    });
    EXPECT_EQ(in_container.out, "{\"top\": {\"a\":1, \"error\": {\"message\":\"bad\"}}}\n");
}

TEST(Document, ErrorElementsInXmlAndHtml)
{
    Outcome xml = run_styled(XO_STYLE_XML, 0, [] {
        xo_open_container("top");
        xo_error("a <b> & c\n");
    });
    EXPECT_EQ(xml.out, "<top><error><message>a &lt;b&gt; &amp; c\n</message></error></top>");
    EXPECT_EQ(run_python(PYTHON_XML_CHECK, xml.out, nullptr), 0);
}

TEST(Document, ErrorElementInHtml)
{
    // The error ends the line it falls on, its newline kept.
    Outcome html = run_styled(XO_STYLE_HTML, 0, [] {
        xo_emit("{:a/%d}", 1);
        xo_error("usage: a <b> & \"c\"\n");
    });
    EXPECT_EQ(html.out, "<div class=\"line\"><div class=\"data\" data-tag=\"a\">1</div>"
                        "<div class=\"error\">usage: a &lt;b&gt; &amp; \"c\"\n</div></div>");
    EXPECT_EQ(html.err, "");
}

TEST(Document, MismatchedClosesWarnAndStayValid)
{
    Outcome o = run_styled(XO_STYLE_JSON, XOF_WARN, [] {
        xo_open_container("a");
        xo_open_list("l");
        xo_open_instance("l");
        xo_emit("{:x/%d}", 1);
        note("%ld ", static_cast<long>(xo_close_container("nosuch")));
        xo_close_container("a"); // closes the instance and the list too
        xo_open_instance("lonely"); // no list around it
        xo_emit("{:y/%d}", 2);
        xo_close_instance("lonely");
    });
    EXPECT_EQ(o.out, "{\"a\": {\"l\": [{\"x\":1}]}, \"lonely\": [{\"y\":2}]}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, o.out, nullptr), 0);
    EXPECT_EQ(o.notes, "0 ");
    EXPECT_EQ(o.err, "stalewatch: xo_close_container can't find match for 'nosuch'\n");
}

TEST(Document, LeafDirectlyInAListEndsTheList)
{
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_list("l");
        xo_emit("{:v/%d}{:w/%d}", 1, 2);
    });
    EXPECT_EQ(o.out, "{\"l\": [],\"v\":1,\"w\":2}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, o.out, nullptr), 0);
}

TEST(Document, NotFirstKeepsJsonValid)
{
    SKIP_WITH_SYSTEM_LIBXO("json-not-first", "libxo writes a comma before the first member, even twice");
    Outcome o = run_styled(XO_STYLE_JSON, XOF_NOT_FIRST, [] {
        xo_set_version("2");
        xo_open_container("a");
    });
    EXPECT_EQ(o.out, "{\"__version\": \"2\", \"a\": {}}\n");
}

TEST(Document, CloseWhatIsNotOpen)
{
    SKIP_WITH_SYSTEM_LIBXO("close-unopened", "libxo writes stray closing braces and end tags");
    auto closes = [] {
        note("%ld", static_cast<long>(xo_close_container("nosuch")));
        xo_close_instance("nosuch");
    };
    EXPECT_EQ(run_styled(XO_STYLE_XML, 0, closes).out, "");
    Outcome o = run_styled(XO_STYLE_JSON, XOF_WARN, closes);
    EXPECT_EQ(o.out, "{ }\n");
    EXPECT_EQ(o.notes, "0");
    EXPECT_EQ(o.err, "stalewatch: close with empty stack: 'nosuch'\n"
                     "stalewatch: xo_close_instance ignored when called from initial state ('nosuch')\n");
}

TEST(Document, OpenWithoutAName)
{
    SKIP_WITH_SYSTEM_LIBXO("open-without-name", "libxo opens it under a made-up name");
    Outcome o = run_styled(XO_STYLE_JSON, XOF_WARN, [] {
        note("%ld", static_cast<long>(xo_open_container(NULL)));
        xo_open_container("a");
    });
    EXPECT_EQ(o.out, "{\"a\": {}}\n");
    EXPECT_EQ(o.notes, "-1");
    EXPECT_EQ(o.err, "stalewatch: xo_open_container without a name\n");
}

TEST(Document, EmptyErrorMessage)
{
    SKIP_WITH_SYSTEM_LIBXO("json-empty-error", "libxo writes true for the empty message");
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_container("a");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
        xo_error("");
#pragma GCC diagnostic pop
    });
    EXPECT_EQ(o.out, "{\"a\": {\"error\": {\"message\":\"\"}}}\n");
}

TEST(Document, StyleChangedMidway)
{
    SKIP_WITH_SYSTEM_LIBXO("style-change", "libxo closes text-style frames with XML end tags");
    Outcome o = run_styled(XO_STYLE_TEXT, 0, [] {
        xo_open_container("a");
        xo_emit("{:x/%d}\n", 1);
        xo_set_style(NULL, XO_STYLE_XML);
        xo_emit("{:y/%d}\n", 2);
    });
    EXPECT_EQ(o.out, "1\n<y>2</y>");
}

TEST(Document, ExitWithoutFinish)
{
    SKIP_WITH_SYSTEM_LIBXO("flush-at-exit", "libxo loses what it has not written");
    Outcome o = run_child([] {
        xo_emit("{:a/%d}\n", 1);
        exit(0);
    });
    EXPECT_EQ(o.out, "1\n");
}

TEST(Document, NoTopLeavesOutTheOuterObject)
{
    Outcome o = run_styled(XO_STYLE_JSON, XOF_NO_TOP, [] {
        xo_open_container("a");
        xo_emit("{:b/%d}", 1);
        xo_close_container("a");
    });
    EXPECT_EQ(o.out, "\"a\": {\"b\":1}");
    // The version has no object to go into.
    Outcome v = run_styled(XO_STYLE_JSON, XOF_NO_TOP | XOF_PRETTY, [] {
        xo_set_version("2");
        xo_open_container("a");
        xo_emit("{:b/%d}", 1);
    });
    EXPECT_EQ(v.out, "\"a\": {\n  \"b\": 1\n}");
}

} // namespace

TEST(Document, WhatANewFrameEnds)
{
    // An instance opened while one is open ends it and joins its list.
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_list("i");
        xo_open_instance("i");
        xo_emit("{:a/%s}", "1");
        xo_open_instance("i");
        xo_emit("{:a/%s}", "2");
    });
    EXPECT_EQ(o.out, "{\"i\": [{\"a\":\"1\"}, {\"a\":\"2\"}]}\n");
    // A container opened in a list ends the list.
    o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_open_list("l");
        xo_open_container("d");
        xo_emit("{:y/%d}", 2);
    });
    EXPECT_EQ(o.out, "{\"l\": [], \"d\": {\"y\":2}}\n");
    EXPECT_EQ(run_python(PYTHON_JSON_CHECK, o.out, nullptr), 0);
}

TEST(Document, XpathOfKeys)
{
    Outcome o = run_styled(XO_STYLE_HTML, XOF_XPATH, [] {
        xo_open_list("e");
        xo_open_instance("e");
        xo_emit("{k:a/%s}{k:b/%s}{:c/%s}\n", "1", "2", "3");
    });
    EXPECT_EQ(o.out, "<div class=\"line\">"
                     "<div class=\"data\" data-tag=\"a\" data-xpath=\"/e/a\">1</div>"
                     "<div class=\"data\" data-tag=\"b\" data-xpath=\"/e/b\">2</div>"
                     "<div class=\"data\" data-tag=\"c\" data-xpath=\"/e[a='1'][b='2']/c\">3</div></div>");
}

TEST(Document, MarkersAttributesAndDtrt)
{
    Outcome o = run_styled(XO_STYLE_XML, XOF_WARN, [] {
        xo_open_container("top");
        xo_open_marker("m");
        xo_attr("at", "%d", 5);
        xo_open_container_d("in");
        note("%ld ", static_cast<long>(xo_close_container("top")));
        xo_close_container_d();
        xo_close_marker("m");
        xo_close_container("top");
    });
    EXPECT_EQ(o.out, "<top><in at=\"5\"></in></top>");
    EXPECT_EQ(o.err, "stalewatch: close (xo_close_container) fails at marker 'm'; not found 'top'\n");
    EXPECT_EQ(o.notes, "0 ");
}

TEST(Document, FieldsRenamed)
{
    Outcome o = run_styled(XO_STYLE_JSON, 0, [] {
        xo_map_add(NULL, "a", 1, "x", 1);
        note("%d", xo_set_options(NULL, "map=top=t:bb=y"));
        xo_open_container("top");
        xo_emit("{:a/%d}{:bb/%d}{:c/%d}", 1, 2, 3);
    });
    EXPECT_EQ(o.out, "{\"t\": {\"x\":1,\"y\":2,\"c\":3}}\n");
    EXPECT_EQ(o.notes, "0");
}

TEST(Document, HandlesOfTheirOwn)
{
    Outcome o = run_child([] {
        xo_handle_t *x = xo_create_to_file(stderr, XO_STYLE_XML, 0);
        xo_open_container_h(x, "a");
        xo_emit_h(x, "{:v/%d}", 1);
        xo_close_container_h(x, "a");
        xo_finish_h(x);
        xo_destroy(x);
        xo_emit("{:w/%d}\n", 2);
        xo_finish();
    });
    EXPECT_EQ(o.err, "<a><v>1</v></a>");
    EXPECT_EQ(o.out, "2\n");
}
