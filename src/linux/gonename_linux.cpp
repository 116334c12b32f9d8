/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the name that the kernel last gave a mapped file that is gone.
 *
 * The query gives the name as it is.  The maps text writes a newline in a
 * name as \012 and a backslash as it is, so a name holding the four
 * characters \012 reads two ways there: a newline, or those characters.
 * Such a name is read again from the mapping's link in /proc/PID/map_files,
 * which holds it as it is (and may be read wherever the map may, since
 * Linux 4.3); where that fails, it is not told.
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"

/* Reads a hexadecimal number at *p, up to end; false when there is none. */
static bool
hex_number(const char **p, const char *end, unsigned long long *v)
{
	const char *s;
	int d;

	*v = 0;
	for (s = *p; s < end && s - *p < 16; s++) {
		if (*s >= '0' && *s <= '9')
			d = *s - '0';
		else if (*s >= 'a' && *s <= 'f')
			d = *s - 'a' + 10;
		else
			break;
		*v = *v << 4 | (unsigned long long)d;
	}
	if (s == *p)
		return (false);
	*p = s;
	return (true);
}

/*
 * The link in map_files of the mapping of a line of the maps text (which
 * starts with its addresses, "start-end", padded with zeroes that the
 * link's name does not have) into buf; its length, or -1.
 */
static ssize_t
mapping_link(struct procstat *ps, const struct line *l, char *buf,
    size_t size)
{
	unsigned long long start, end;
	const char *p, *stop;
	char name[64];

	p = l->text;
	stop = l->text + l->len;
	if (!hex_number(&p, stop, &start) || p == stop || *p++ != '-' ||
	    !hex_number(&p, stop, &end)) {
		errno = EINVAL;
		return (-1);
	}
	snprintf(name, sizeof(name), "map_files/%llx-%llx", start, end);
	return (readlinkat(ps->filedir, name, buf, size));
}

ssize_t
gone_name(struct procstat *ps, const struct maps_line *ml,
    const struct line *l, char *buf, size_t size, const char **name)
{
	ssize_t n;
	size_t len;

	*name = ml->path;
	len = ml->pathlen;
	/* A cut line has the beginning of the name; its mark is in the tail. */
	if ((l == NULL || !l->cut) && has_deleted_suffix(*name, len))
		len -= sizeof(DELETED_SUFFIX) - 1;
	if (l == NULL || memmem(*name, len, "\\012", 4) == NULL)
		return ((ssize_t)len);
	n = mapping_link(ps, l, buf, size);
	if (n <= 0 || (size_t)n == size || buf[0] != '/')
		return (-1);
	*name = buf;
	len = (size_t)n;
	if (has_deleted_suffix(buf, len))
		len -= sizeof(DELETED_SUFFIX) - 1;
	return ((ssize_t)len);
}
