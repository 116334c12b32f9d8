/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The hints file of ldconfig: its header checked as the runtime linker
 * checks it, and its folder list split.
 */
#include <limits.h>
#include <string.h>

#include "hints.h"

/* Word i of the header. */
static uint32_t
word(const unsigned char *head, unsigned int i)
{
	uint32_t w;

	memcpy(&w, head + 4 * i, sizeof(w));
	return (w);
}

int
hints_header(const unsigned char *head, size_t n, uint64_t filesize,
    uint64_t *offset, uint32_t *len)
{
	uint64_t at, dirlistlen;

	/* Every word looked at below was read from the file. */
	if (n < HINTS_HEADER_SIZE)
		return (-1);
	if (word(head, 0) != HINTS_MAGIC || word(head, 1) != HINTS_VERSION)
		return (-1);
	/* The string table's offset plus the list's: no 32-bit overflow. */
	at = (uint64_t)word(head, 2) + word(head, 4);
	dirlistlen = word(head, 5);
	if (dirlistlen > UINT32_MAX / 2 || at > UINT32_MAX ||
	    at + dirlistlen > UINT32_MAX || at + dirlistlen + 1 > filesize)
		return (-1);
	*offset = at;
	*len = (uint32_t)dirlistlen;
	return (0);
}

void
hints_folders(const char *list, size_t len,
    void (*fn)(void *ctx, const char *folder), void *ctx)
{
	char folder[PATH_MAX];
	const char *p, *end, *stop;
	size_t n;

	stop = (const char *)memchr(list, '\0', len);
	if (stop == NULL)
		stop = list + len;
	for (p = list; p < stop; p = end + 1) {
		end = (const char *)memchr(p, ':', (size_t)(stop - p));
		if (end == NULL)
			end = stop;
		n = (size_t)(end - p);
		if (n > 0 && n < sizeof(folder) && *p == '/') {
			memcpy(folder, p, n);
			folder[n] = '\0';
			fn(ctx, folder);
		}
	}
}
