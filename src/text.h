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
 * style carries it intact and inert: bytes that are not part of valid
 * UTF-8, control characters, DEL, the C1 controls, U+FFFE, U+FFFF and the
 * bidirectional embedding, override and isolate controls are written as
 * a backslash and three octal digits per byte; with ascii set, so is
 * every byte outside ASCII.  At most maxlen bytes of text are read; buf
 * needs 4 * maxlen + 1 bytes to hold them all.  A sequence that does not
 * fit whole is left out with everything after it.
 */
const char *safe_text(const char *text, size_t maxlen, bool ascii, char *buf,
    size_t size);

/*
 * The length of the longest prefix of text (as safe_text wrote it), at
 * most max bytes, that ends between two characters and outside any
 * escape.
 */
size_t unit_prefix(const char *text, size_t max);

#endif
