/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Text from processes made safe for display and for every libxo style.
 */
#include <langinfo.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <wchar.h>

#include "text.h"
#include "unsafe_table.h"
#include "xo_c.h"

/*
 * How many bytes at s (at most avail) agree with a valid, shortest-form
 * UTF-8 sequence of a Unicode scalar value, and in *need that sequence's
 * length (1 for ASCII, 0 when s[0] starts none).  The second byte's range
 * depends on the first, which rules out overlong forms, surrogates and
 * code points past U+10FFFF.
 */
static size_t
utf8_agreeing(const unsigned char *s, size_t avail, size_t *need)
{
	unsigned char lo, hi;
	size_t i;

	lo = 0x80;
	hi = 0xbf;
	if (s[0] < 0x80)
		*need = 1;
	else if (s[0] >= 0xc2 && s[0] <= 0xdf)
		*need = 2;
	else if (s[0] >= 0xe0 && s[0] <= 0xef) {
		*need = 3;
		if (s[0] == 0xe0)
			lo = 0xa0;
		else if (s[0] == 0xed)
			hi = 0x9f;
	} else if (s[0] >= 0xf0 && s[0] <= 0xf4) {
		*need = 4;
		if (s[0] == 0xf0)
			lo = 0x90;
		else if (s[0] == 0xf4)
			hi = 0x8f;
	} else {
		*need = 0;
		return (0);
	}
	for (i = 1; i < *need && i < avail; i++) {
		if (s[i] < lo || s[i] > hi)
			break;
		lo = 0x80;
		hi = 0xbf;
	}
	return (i);
}

/*
 * The code point of the UTF-8 sequence at s (at most avail bytes) in *cp,
 * and the sequence's length; 0 when the bytes there are not a valid,
 * shortest-form sequence of a Unicode scalar value.
 */
static size_t
utf8_sequence(const unsigned char *s, size_t avail, uint32_t *cp)
{
	static const unsigned char lead_bits[] = { 0, 0x7f, 0x1f, 0x0f, 0x07 };
	size_t len, i;
	uint32_t c;

	if (utf8_agreeing(s, avail, &len) != len || len == 0)
		return (0);
	c = s[0] & lead_bits[len];
	for (i = 1; i < len; i++)
		c = (c << 6) | (s[i] & 0x3f);
	*cp = c;
	return (len);
}

/*
 * Whether a code point must not reach a terminal or a document as is:
 * a control, format or separator character, a surrogate or a
 * noncharacter (see unsafe_table.h).
 */
static bool
unsafe_code_point(uint32_t cp)
{
	size_t lo, hi, mid;

	if (cp < 0x7f)
		return (cp < 0x20);
	lo = 0;
	hi = sizeof(unsafe_ranges) / sizeof(unsafe_ranges[0]);
	while (lo < hi) {
		mid = lo + (hi - lo) / 2;
		if (cp < unsafe_ranges[mid].first)
			hi = mid;
		else if (cp > unsafe_ranges[mid].last)
			lo = mid + 1;
		else
			return (true);
	}
	return (false);
}

const char *
safe_text(const char *text, size_t maxlen, bool ascii, char *buf, size_t size)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t avail, i, k, n, len, need;
	uint32_t cp;

	avail = strnlen(text, maxlen);
	n = 0;
	for (i = 0; i < avail; i += len) {
		len = utf8_sequence(s + i, avail - i, &cp);
		if (len == 0) {
			len = 1;
			need = 4;
		} else if (s[i] == '\\')
			need = 2;
		else
			need = unsafe_code_point(cp) || (ascii && cp >= 0x80) ?
			    4 * len : len;
		if (need == 4 * len) {
			/*
			 * Escaped byte by byte.  A character that does not fit
			 * whole is left out, unless nothing else would show.
			 */
			for (k = 0; k < len && n + 4 * (k + 1) < size; k++)
				snprintf(buf + n + 4 * k, 5, "\\%03o", s[i + k]);
			if (k < len && n > 0)
				break;
			n += 4 * k;
			if (k < len)
				break;
			continue;
		}
		if (n + need >= size)
			break;
		if (s[i] == '\\')
			memcpy(buf + n, "\\\\", 2);
		else
			memcpy(buf + n, s + i, len);
		n += need;
	}
	buf[n] = '\0';
	return (buf);
}

const char *
display_text(const char *text, size_t maxlen, char *buf, size_t size)
{
	bool ascii;

	ascii = xo_get_style(NULL) == XO_STYLE_TEXT && !locale_is_utf8();
	return (safe_text(text, maxlen, ascii, buf, size));
}

/* Whether s begins with an escape of a byte: a backslash, three digits. */
static bool
octal_escape(const unsigned char *s)
{
	return (s[0] == '\\' && s[1] >= '0' && s[1] <= '3' &&
	    s[2] >= '0' && s[2] <= '7' && s[3] >= '0' && s[3] <= '7');
}

/*
 * The length of the escapes at s that stand for one character: four
 * bytes of text for each byte of a valid UTF-8 sequence, or for one byte
 * that is none.
 */
static size_t
escaped_character(const unsigned char *s)
{
	unsigned char bytes[4];
	size_t n;
	uint32_t cp;

	for (n = 0; n < 4 && octal_escape(s + 4 * n); n++)
		bytes[n] = (unsigned char)((s[4 * n + 1] - '0') * 64 +
		    (s[4 * n + 2] - '0') * 8 + (s[4 * n + 3] - '0'));
	n = utf8_sequence(bytes, n, &cp);
	return (4 * (n > 0 ? n : 1));
}

/*
 * The length of the unit of safe text at s (a character written as it is,
 * a backslash pair, or the escapes of one character) and, in *cols, the
 * columns it takes: escapes are ASCII, a character as wcwidth(3) says.
 */
static size_t
next_unit(const unsigned char *s, size_t *cols)
{
	size_t len;
	uint32_t cp;
	int w;

	if (s[0] == '\\' && s[1] == '\\')
		len = *cols = 2;
	else if (octal_escape(s))
		len = *cols = escaped_character(s);
	else if ((len = utf8_sequence(s, strnlen((const char *)s, 4),
	    &cp)) == 0)
		len = *cols = 1;
	else {
		w = cp < 0x80 ? 1 : wcwidth((wchar_t)cp);
		/* One the locale does not know still takes its place. */
		*cols = w >= 0 ? (size_t)w : 1;
	}
	return (len);
}

size_t
unit_prefix(const char *text, size_t max)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t i, len, cols;

	for (i = 0; s[i] != '\0'; i += len) {
		len = next_unit(s + i, &cols);
		/* Not even the first character fits: its first bytes. */
		if (i == 0 && len > max && octal_escape(s))
			return (max / 4 * 4);
		if (i + len > max)
			break;
	}
	return (i);
}

size_t
text_columns(const char *text)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t i, cols, total;

	total = 0;
	for (i = 0; s[i] != '\0';) {
		i += next_unit(s + i, &cols);
		total += cols;
	}
	return (total);
}

size_t
column_prefix(const char *text, size_t max)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t i, len, cols, used;

	used = 0;
	for (i = 0; s[i] != '\0'; i += len) {
		len = next_unit(s + i, &cols);
		if (used + cols > max)
			break;
		used += cols;
	}
	return (i);
}

size_t
whole_characters(const char *text, size_t len)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t back, need;

	/* A sequence is at most 4 bytes: its start is at most 3 back. */
	for (back = 1; back <= 3 && back <= len; back++) {
		if ((s[len - back] & 0xc0) != 0x80) {
			if (utf8_agreeing(s + len - back, back, &need) ==
			    back && back < need)
				return (len - back);
			break;
		}
	}
	return (len);
}

bool
locale_is_utf8(void)
{
	const char *codeset = nl_langinfo(CODESET);

	return (strcasecmp(codeset, "UTF-8") == 0 ||
	    strcasecmp(codeset, "UTF8") == 0);
}
