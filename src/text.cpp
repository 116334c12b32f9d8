/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Text from processes made safe for display and for every libxo style.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "text.h"

/*
 * The code point of the UTF-8 sequence at s (at most avail bytes) in *cp,
 * and the sequence's length; 0 when the bytes there are not a valid,
 * shortest-form sequence of a Unicode scalar value.
 */
static size_t
utf8_sequence(const unsigned char *s, size_t avail, uint32_t *cp)
{
	size_t len, i;
	uint32_t c;

	if (s[0] < 0x80) {
		*cp = s[0];
		return (1);
	}
	if (s[0] >= 0xc2 && s[0] <= 0xdf) {
		len = 2;
		c = s[0] & 0x1f;
	} else if (s[0] >= 0xe0 && s[0] <= 0xef) {
		len = 3;
		c = s[0] & 0x0f;
	} else if (s[0] >= 0xf0 && s[0] <= 0xf4) {
		len = 4;
		c = s[0] & 0x07;
	} else
		return (0);
	if (len > avail)
		return (0);
	for (i = 1; i < len; i++) {
		if ((s[i] & 0xc0) != 0x80)
			return (0);
		c = (c << 6) | (s[i] & 0x3f);
	}
	if ((len == 3 && c < 0x800) || (len == 4 && c < 0x10000) ||
	    c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
		return (0);
	*cp = c;
	return (len);
}

/* Whether a code point must not reach a terminal or a document as is. */
static bool
unsafe_code_point(uint32_t cp)
{
	return (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) ||
	    cp == 0xfffe || cp == 0xffff ||
	    (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069));
}

const char *
safe_text(const char *text, size_t maxlen, bool ascii, char *buf, size_t size)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t avail, i, n, len, need;
	uint32_t cp;

	avail = strnlen(text, maxlen);
	n = 0;
	for (i = 0; i < avail; i += len) {
		len = utf8_sequence(s + i, avail - i, &cp);
		if (len == 0) {
			len = 1;
			need = 4;
		} else
			need = unsafe_code_point(cp) || (ascii && cp >= 0x80) ?
			    4 * len : len;
		if (n + need >= size)
			break;
		if (need == len)
			memcpy(buf + n, s + i, len);
		else
			for (size_t k = 0; k < len; k++)
				snprintf(buf + n + 4 * k, 5, "\\%03o", s[i + k]);
		n += need;
	}
	buf[n] = '\0';
	return (buf);
}

size_t
unit_prefix(const char *text, size_t max)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t i, len;
	uint32_t cp;

	for (i = 0; s[i] != '\0'; i += len) {
		if (s[i] == '\\' && s[i + 1] >= '0' && s[i + 1] <= '7' &&
		    s[i + 2] >= '0' && s[i + 2] <= '7' &&
		    s[i + 3] >= '0' && s[i + 3] <= '7')
			len = 4;
		else if ((len = utf8_sequence(s + i, strnlen(text + i, 4),
		    &cp)) == 0)
			len = 1;
		if (i + len > max)
			break;
	}
	return (i);
}
