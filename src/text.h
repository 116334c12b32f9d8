/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Text that comes from processes (user names, command names, arguments)
 * made safe for any terminal and any libxo style, and cut between
 * characters.
 */
#ifndef STALEWATCH_TEXT_H
#define STALEWATCH_TEXT_H

#include <stddef.h>

/*
 * Copies text into buf (size bytes) so that any terminal and any libxo
 * style carries it intact and inert, and so that unvis(3) gives the
 * original bytes back: bytes that are not part of valid UTF-8, and the
 * characters of the general categories Cc, Cf, Zl, Zp and Cs and the
 * noncharacters (controls, DEL and the C1 controls included; see
 * unsafe_table.h), are written as a backslash and three octal digits per
 * byte, and a backslash as two backslashes; with ascii set, every byte
 * outside ASCII is escaped too.  At most maxlen bytes of text are read;
 * buf needs 4 * maxlen + 1 bytes to hold them all.  What does not fit
 * is left out, from the first character that does not fit whole; only
 * when not even the first one fits are the escapes of its first bytes
 * kept, so that a text never shows as nothing.
 */
const char *safe_text(const char *text, size_t maxlen, bool ascii, char *buf,
    size_t size);

/*
 * The one decision of how text from processes is shown, for every row
 * of the report: safe_text() into buf, with every byte outside ASCII
 * escaped as well where libxo writes text in a character set that is
 * not UTF-8 (the text style, libxo having set the locale from the
 * environment), since it might show such bytes as other characters, or
 * as its controls.
 */
const char *display_text(const char *text, size_t maxlen, char *buf,
    size_t size);

/*
 * The length of the longest prefix of text (as safe_text wrote it), at
 * most max bytes, that splits neither a character written as it is nor
 * an escape (it may end between the escapes of one character's bytes).
 */
size_t unit_prefix(const char *text, size_t max);

/*
 * The display columns that text (as safe_text wrote it) takes: one for
 * each byte of an escape and of ASCII, and as wcwidth(3) says for a
 * character written as it is.
 */
size_t text_columns(const char *text);

/*
 * The length of the longest prefix of text (as safe_text wrote it) that
 * takes at most max display columns and splits neither a character nor
 * the escapes of one.
 */
size_t column_prefix(const char *text, size_t max);

/*
 * For text cut to len bytes from a longer one: len, less the bytes at
 * its end that begin a UTF-8 sequence which the cut left incomplete, so
 * that the cut falls between characters.  Bytes that could not begin a
 * valid sequence anyway stay, to be escaped.
 */
size_t whole_characters(const char *text, size_t len);

/* Whether the character set of the locale (LC_CTYPE) is UTF-8. */
bool locale_is_utf8(void);

#endif
