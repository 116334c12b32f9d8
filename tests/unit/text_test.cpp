/* SPDX-License-Identifier: BSD-2-Clause */
// The text functions: what safe_text writes for text from processes,
// where a display may cut it, and where a text cut by the program ends.

#include <string.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "text.h"

namespace {

// The text functions themselves, where a real process cannot put the
// boundary exactly: what safe_text writes, where a display may cut it,
// and where a text cut by the program ends.
TEST(Text, SafeTextUnitPrefixAndWholeCharacters)
{
	struct {
		const char *text;
		bool ascii;
		size_t size;
		const char *want;
	} safe[] = {
		{ "a\\b", false, 64, "a\\\\b" },
		{ "\\033", false, 64, "\\\\033" },
		{ "ab\\", false, 4, "ab" },		/* the pair does not fit */
		{ "ab\\", false, 5, "ab\\\\" },
		{ "x\xc2\xad\xc2\xa0", false, 64, "x\\302\\255\xc2\xa0" },
		{ "\xef\xbf\xbd\xe2\x80\x8b", false, 64, "\xef\xbf\xbd\\342\\200\\213" },
		{ "\xf3\xa0\x80\xa0", false, 64, "\\363\\240\\200\\240" },
		{ "\xc3\xa9\\", true, 64, "\\303\\251\\\\" },
		/* A column keeps whole characters, or it would be blank. */
		{ "\xf3\xa0\x81\x81", false, 13, "\\363\\240\\201" },
		{ "ab\xc3\xa9", true, 9, "ab" },
		{ "ab\xc3\xa9", false, 4, "ab" },	/* é as it is: whole */
		{ "abc\\", false, 5, "abc" },
	};
	char buf[64];
	for (const auto &c : safe)
		EXPECT_STREQ(safe_text(c.text, 64, c.ascii, buf, c.size),
		    c.want) << c.text;

	struct {
		const char *text;
		size_t max, want;
	} prefix[] = {
		{ "ab\\\\cd", 3, 2 },	/* never between the two backslashes */
		{ "ab\\\\cd", 4, 4 },
		{ "\\\\\\033", 5, 2 },	/* a pair, then a whole escape */
		{ "\\\\\\033", 6, 6 },
		{ "a\\033b", 4, 1 },
		{ "\xc3\xa9", 1, 0 },
		{ "a\\303\\251b", 8, 1 },	/* not inside one character's */
		{ "a\\303\\251b", 9, 9 },
		{ "\\303\\251b", 7, 4 },	/* unless it is the first */
		{ "\\342\\200\\213\\342", 11, 8 },
		{ "\\342\\200\\213\\342", 12, 12 },
		{ "\\200\\201", 5, 4 },	/* stray bytes: one by one */
	};
	for (const auto &c : prefix)
		EXPECT_EQ(unit_prefix(c.text, c.max), c.want) << c.text;

	struct {
		const char *text;
		size_t want;
	} whole[] = {
		{ "abc\xc3", 3 },		/* the tails of cut characters */
		{ "abc\xe6\x97", 3 },
		{ "abc\xf0\x9f\x98", 3 },
		{ "abc\xc3\xa9", 5 },	/* whole */
		{ "abc", 3 },
		{ "", 0 },
		{ "abc\xc0", 4 },		/* never the start of a character */
		{ "abc\xe0\x80", 5 },	/* overlong */
		{ "abc\xed\xa0", 5 },	/* surrogate */
		{ "abc\xf4\x90", 5 },	/* past U+10FFFF */
		{ "abc\x97", 4 },		/* a tail without its start */
		{ "\xf0\x9f\x98\x80\x80", 5 },
	};
	for (const auto &c : whole)
		EXPECT_EQ(whole_characters(c.text, strlen(c.text)), c.want) <<
		    c.text;
}

// The bytes that escaped text stands for, read strictly: a backslash is
// followed by another or by three octal digits, as unvis(3) reads them.
bool strict_unvis(const std::string &text, std::string *out)
{
	out->clear();
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] != '\\') {
			out->push_back(text[i]);
			continue;
		}
		if (i + 1 < text.size() && text[i + 1] == '\\') {
			out->push_back('\\');
			i++;
			continue;
		}
		if (i + 3 >= text.size())
			return false;
		int v = 0;
		for (size_t k = 1; k <= 3; k++) {
			if (text[i + k] < '0' || text[i + k] > '7')
				return false;
			v = v * 8 + (text[i + k] - '0');
		}
		if (v > 0377)
			return false;
		out->push_back((char)v);
		i += 3;
	}
	return true;
}

// Random texts of the bytes that matter: whatever safe_text writes reads
// back as the text, holds no control byte, and every cut that unit_prefix
// allows reads back as a beginning of the text; a text cut anywhere and
// given back by whole_characters loses at most the start of a character.
TEST(Text, RandomTextsReadBack)
{
	static const unsigned char pick[] = {
		'a', ' ', '\\', '0', '7', 0x01, 0x1b, 0x7f, 0x80, 0x8f, 0x9f,
		0xa0, 0xad, 0xbf, 0xc0, 0xc2, 0xc3, 0xdf, 0xe0, 0xe2, 0xed, 0xef,
		0xf0, 0xf3, 0xf4, 0xf5, 0xff,
	};
	std::mt19937 rng(20241210);
	char buf[4 * 24 + 1];
	std::string text, shown, back, part;

	for (int round = 0; round < 20000; round++) {
		text.assign(rng() % 24, 'x');
		for (char &c : text)
			c = (char)pick[rng() % sizeof(pick)];
		bool ascii = rng() % 2 == 0;
		shown = safe_text(text.c_str(), text.size(), ascii, buf,
		    sizeof(buf));
		ASSERT_TRUE(strict_unvis(shown, &back)) << shown;
		ASSERT_EQ(back, text) << shown;
		for (unsigned char c : shown)
			ASSERT_TRUE(c >= 0x20 && c != 0x7f &&
			    (!ascii || c < 0x80)) << shown;
		size_t max = rng() % (shown.size() + 1);
		size_t n = unit_prefix(shown.c_str(), max);
		ASSERT_LE(n, max);
		ASSERT_TRUE(strict_unvis(shown.substr(0, n), &part)) << shown <<
		    " cut at " << n;
		ASSERT_EQ(text.compare(0, part.size(), part), 0);
		// Cut at n by a smaller buffer, safe_text ends in the same place.
		ASSERT_EQ(std::string(safe_text(text.c_str(), text.size(),
		    ascii, buf, n + 1)), shown.substr(0, n)) << shown;
		size_t cut = rng() % (text.size() + 1);
		size_t whole = whole_characters(text.c_str(), cut);
		ASSERT_LE(whole, cut);
		ASSERT_GE(whole + 3, cut);
	}
}

}  // namespace
