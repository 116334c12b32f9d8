/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * What the files of an installed kernel say, read from buffers: the x86
 * boot header, what(1) strings, loader.conf lines, and the order of
 * releases.  Nothing here trusts an offset or a length it reads.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "kernel_image.h"

/* Where the x86 boot header keeps what is read. */
#define HDR_MAGIC_AT	0x202	/* "HdrS" */
#define HDR_VERSION_AT	0x206	/* the boot protocol, 16 bits */
#define HDR_TEXT_AT	0x20E	/* the version text's offset - 0x200 */
#define HDR_END		0x210
#define HDR_TEXT_BASE	0x200
#define HDR_PROTOCOL	0x0200	/* 2.00, the first with the text */

static unsigned int
le16(const unsigned char *p)
{
	return ((unsigned int)p[0] | (unsigned int)p[1] << 8);
}

bool
boot_header_text(const unsigned char *buf, size_t len, char *text,
    size_t size)
{
	const unsigned char *end;
	size_t at, n;

	if (size > 0)
		text[0] = '\0';
	if (len < HDR_END || memcmp(buf + HDR_MAGIC_AT, "HdrS", 4) != 0 ||
	    le16(buf + HDR_VERSION_AT) < HDR_PROTOCOL ||
	    le16(buf + HDR_TEXT_AT) == 0)
		return (false);
	at = HDR_TEXT_BASE + le16(buf + HDR_TEXT_AT);
	if (at >= len)
		return (false);
	n = len - at < size ? len - at : size;
	end = (const unsigned char *)memchr(buf + at, '\0', n);
	if (end == NULL || end == buf + at)
		return (false);
	memcpy(text, buf + at, (size_t)(end - (buf + at)) + 1);
	return (true);
}

bool
kernel_text_release(const char *text, char *release, size_t size)
{
	const char *space;
	size_t n;

	if (size > 0)
		release[0] = '\0';
	space = strchr(text, ' ');
	if (space == NULL || space == text || space[1] != '(' ||
	    strstr(space + 2, ") ") == NULL)
		return (false);
	n = (size_t)(space - text);
	if (n >= size)
		return (false);
	memcpy(release, text, n);
	release[n] = '\0';
	return (true);
}

bool
kernel_text_has_build(const char *text, const char *release,
    const char *build)
{
	size_t tlen, rlen, blen;

	tlen = strlen(text);
	rlen = strlen(release);
	blen = strlen(build);
	/* "RELEASE (" and ") BUILD", apart. */
	if (blen == 0 || tlen < rlen + 2 + 2 + blen)
		return (false);
	return (strncmp(text, release, rlen) == 0 &&
	    strncmp(text + rlen, " (", 2) == 0 &&
	    strncmp(text + tlen - blen - 2, ") ", 2) == 0 &&
	    strcmp(text + tlen - blen, build) == 0);
}

static bool
is_digit(unsigned char c)
{
	return (c >= '0' && c <= '9');
}

static bool
is_alpha(unsigned char c)
{
	return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
}

/* The rank of a character outside the runs of digits. */
static int
char_rank(unsigned char c)
{
	if (is_digit(c))
		return (0);
	if (is_alpha(c))
		return (c);
	if (c == '~')
		return (-1);
	return (c + 256);
}

/*
 * The length of a without its trailing suffixes: a run of "." and a
 * letter or '~', then letters, digits and '~', at the very end.
 */
static size_t
without_suffixes(const char *a, size_t len)
{
	size_t i, kept;

	kept = 0;
	i = 0;
	while (i < len) {
		while (i + 1 < len && a[i] == '.' &&
		    (is_alpha((unsigned char)a[i + 1]) || a[i + 1] == '~')) {
			for (i += 2; i < len && (is_alpha((unsigned char)a[i]) ||
			    is_digit((unsigned char)a[i]) || a[i] == '~'); i++)
				;
		}
		if (i < len)
			kept = ++i;
	}
	return (kept);
}

/* Compares the first alen bytes of a with the first blen of b. */
static int
compare_runs(const char *a, size_t alen, const char *b, size_t blen)
{
	size_t i, j;
	int ra, rb, first;

	i = j = 0;
	while (i < alen || j < blen) {
		/* Characters up to the next digits, the end ranking 0. */
		while ((i < alen && !is_digit((unsigned char)a[i])) ||
		    (j < blen && !is_digit((unsigned char)b[j]))) {
			ra = i < alen ? char_rank((unsigned char)a[i]) : 0;
			rb = j < blen ? char_rank((unsigned char)b[j]) : 0;
			if (ra != rb)
				return (ra - rb);
			i++;
			j++;
		}
		/* Then a number each, by its value. */
		while (i < alen && a[i] == '0')
			i++;
		while (j < blen && b[j] == '0')
			j++;
		first = 0;
		while (i < alen && is_digit((unsigned char)a[i]) && j < blen &&
		    is_digit((unsigned char)b[j])) {
			if (first == 0)
				first = a[i] - b[j];
			i++;
			j++;
		}
		if (i < alen && is_digit((unsigned char)a[i]))
			return (1);
		if (j < blen && is_digit((unsigned char)b[j]))
			return (-1);
		if (first != 0)
			return (first);
	}
	return (0);
}

int
release_compare(const char *a, const char *b)
{
	size_t alen, blen, akept, bkept;
	int c;

	alen = strlen(a);
	blen = strlen(b);
	if (alen == 0 || blen == 0)
		return (alen == blen ? 0 : alen == 0 ? -1 : 1);
	/* ".", "..", other names that begin with ".", then the rest. */
	if (a[0] == '.' || b[0] == '.') {
		if (a[0] != b[0])
			return (a[0] == '.' ? -1 : 1);
		if (alen == 1 || blen == 1)
			return (alen == blen ? 0 : alen == 1 ? -1 : 1);
		if (strcmp(a, "..") == 0 || strcmp(b, "..") == 0)
			return (strcmp(a, b) == 0 ? 0 :
			    strcmp(a, "..") == 0 ? -1 : 1);
	}
	akept = without_suffixes(a, alen);
	bkept = without_suffixes(b, blen);
	c = compare_runs(a, akept, b, bkept);
	if (c != 0 || (akept == alen && bkept == blen))
		return (c);
	return (compare_runs(a, alen, b, blen));
}

void
what_scan_start(struct what_scan *ws)
{
	memset(ws, 0, sizeof(*ws));
}

static bool
is_word_char(char c)
{
	return (is_alpha((unsigned char)c) || is_digit((unsigned char)c) ||
	    c == '-' || c == '.');
}

/*
 * The version word of a what(1) string "FreeBSD WORD[ ...]", if any; of
 * a string cut to len bytes only when a blank ends the word.
 */
static bool
freebsd_word(const char *text, size_t len, bool cut, char *word, size_t size)
{
	static const char prefix[] = "FreeBSD ";
	size_t p, n;

	p = sizeof(prefix) - 1;
	if (len <= p || memcmp(text, prefix, p) != 0)
		return (false);
	for (n = 0; p + n < len && is_word_char(text[p + n]); n++)
		;
	if (n == 0 || n >= size || (p + n < len && text[p + n] != ' ') ||
	    (p + n == len && cut))
		return (false);
	memcpy(word, text + p, n);
	word[n] = '\0';
	return (true);
}

bool
what_scan_feed(struct what_scan *ws, const unsigned char *buf, size_t len)
{
	static const char mark[] = WHAT_MARK;
	const unsigned char *at;
	size_t i;
	unsigned char c;

	for (i = 0; i < len; i++) {
		/* Most of a kernel is far from any mark. */
		if (!ws->in_text && ws->matched == 0) {
			at = (const unsigned char *)memchr(buf + i, mark[0],
			    len - i);
			if (at == NULL)
				return (false);
			i = (size_t)(at - buf);
		}
		c = buf[i];
		if (ws->in_text) {
			if (c == '\0' || c == '\n' || c == '"' || c == '>' ||
			    c == '\\') {
				ws->in_text = false;
				if (freebsd_word(ws->text, ws->len,
				    ws->len == sizeof(ws->text), ws->word,
				    sizeof(ws->word)))
					return (true);
			} else if (ws->len < sizeof(ws->text))
				ws->text[ws->len++] = (char)c;
			continue;
		}
		if (c == (unsigned char)mark[ws->matched])
			ws->matched++;
		else
			ws->matched = c == (unsigned char)mark[0] ? 1 : 0;
		if (ws->matched == sizeof(mark) - 1) {
			ws->matched = 0;
			ws->in_text = true;
			ws->len = 0;
		}
	}
	return (false);
}

static bool
is_blank(char c)
{
	return (c == ' ' || c == '\t');
}

static bool
is_value_char(char c)
{
	return (is_alpha((unsigned char)c) || is_digit((unsigned char)c) ||
	    c == '-' || c == '.' || c == '/' || c == '_');
}

bool
loader_conf_assignment(const char *line, size_t len, char *name,
    size_t nsize, char *value, size_t vsize)
{
	size_t i, start, n;
	bool quoted;

	i = 0;
	while (i < len && is_blank(line[i]))
		i++;
	start = i;
	if (i == len || !(is_alpha((unsigned char)line[i]) || line[i] == '_'))
		return (false);
	while (i < len && (is_alpha((unsigned char)line[i]) ||
	    is_digit((unsigned char)line[i]) || line[i] == '_'))
		i++;
	n = i - start;
	if (n >= nsize)
		return (false);
	memcpy(name, line + start, n);
	name[n] = '\0';
	while (i < len && is_blank(line[i]))
		i++;
	if (i == len || line[i] != '=')
		return (false);
	i++;
	while (i < len && is_blank(line[i]))
		i++;
	quoted = i < len && line[i] == '"';
	if (quoted)
		i++;
	for (start = i; i < len && is_value_char(line[i]); i++)
		;
	n = i - start;
	if (n == 0 || n >= vsize || (quoted && (i == len || line[i] != '"')))
		return (false);
	memcpy(value, line + start, n);
	value[n] = '\0';
	return (true);
}
