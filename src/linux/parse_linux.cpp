/* SPDX-License-Identifier: BSD-2-Clause */
#include <string.h>

#include "parse.h"
#include "procinfo.h"

/* Parses a decimal number at *p, moving *p past it. */
static bool
take_number(const char **p, const char *end, unsigned long long *v,
    bool allow_minus)
{
	const char *s = *p;
	bool negative = false;
	unsigned long long n = 0;

	if (allow_minus && s < end && *s == '-') {
		negative = true;
		s++;
	}
	if (s >= end || *s < '0' || *s > '9')
		return (false);
	while (s < end && *s >= '0' && *s <= '9') {
		if (n > (~0ULL - 9) / 10)
			return (false);
		n = n * 10 + (unsigned long long)(*s - '0');
		s++;
	}
	*v = negative ? 0 - n : n;
	*p = s;
	return (true);
}

static const char *
skip_blanks(const char *p, const char *end)
{
	while (p < end && (*p == ' ' || *p == '\t'))
		p++;
	return (p);
}

bool
parse_stat(const char *buf, size_t len, struct stat_line *sl)
{
	const char *end = buf + len, *open, *p;
	unsigned long long v[2];
	int field;

	open = (const char *)memchr(buf, '(', len);
	if (open == NULL)
		return (false);
	/* The command name may hold anything, ')' included: find the last. */
	for (p = end - 1; p > open && *p != ')'; p--)
		continue;
	if (p == open)
		return (false);
	sl->comm = open + 1;
	sl->commlen = (size_t)(p - open - 1);
	p = skip_blanks(p + 1, end);
	/* The state letter. */
	if (p >= end || *p == ' ')
		return (false);
	p = skip_blanks(p + 1, end);
	if (!take_number(&p, end, &v[0], true))
		return (false);
	p = skip_blanks(p, end);
	if (!take_number(&p, end, &v[1], true))
		return (false);
	sl->ppid = (pid_t)v[0];
	sl->pgid = (pid_t)v[1];
	/*
	 * Session, terminal, its process group, the flags (9), faults and
	 * times, priorities, threads, and the start time (22).
	 */
	for (field = 6; field <= 22; field++) {
		if (p >= end || (*p != ' ' && *p != '\t'))
			return (false);
		p = skip_blanks(p, end);
		if (!take_number(&p, end, &v[0], true))
			return (false);
		if (field == 6)
			sl->sid = (pid_t)v[0];
		if (field == 9)
			sl->flags = v[0];
	}
	sl->starttime = v[0];
	return (true);
}

/*
 * Skips one field and the blanks after it: the kernel ends each field
 * before the path with a blank.
 */
static const char *
skip_field(const char *p, const char *end)
{
	p = (const char *)memchr(p, ' ', (size_t)(end - p));
	return (p == NULL ? end : skip_blanks(p, end));
}

int
hex_digit(char c, bool upper)
{
	if (c >= '0' && c <= '9')
		return (c - '0');
	if (c >= 'a' && c <= 'f')
		return (c - 'a' + 10);
	if (upper && c >= 'A' && c <= 'F')
		return (c - 'A' + 10);
	return (-1);
}

/* Parses "major:minor" in hexadecimal at *p, moving *p past it. */
static bool
take_device(const char **p, const char *end, unsigned int *major,
    unsigned int *minor)
{
	unsigned int *part = major;
	const char *s = *p;
	int d, digits = 0;

	*major = *minor = 0;
	for (; s < end && *s != ' '; s++) {
		if (*s == ':' && part == major && digits > 0) {
			part = minor;
			digits = 0;
			continue;
		}
		if ((d = hex_digit(*s, false)) == -1 || *part > 0xfffffffu)
			return (false);
		*part = *part * 16 + (unsigned int)d;
		digits++;
	}
	if (part != minor || digits == 0)
		return (false);
	*p = s;
	return (true);
}

bool
parse_maps_line(const char *line, size_t len, struct maps_line *ml)
{
	const char *end = line + len, *p, *perms;
	unsigned long long inode;

	/* address range */
	p = skip_field(line, end);
	/* permissions: rwxp or rwxs */
	perms = p;
	p = skip_field(p, end);
	if (p - perms < 5)
		return (false);
	ml->protection = (perms[0] == 'r' ? KVME_PROT_READ : 0) |
	    (perms[1] == 'w' ? KVME_PROT_WRITE : 0) |
	    (perms[2] == 'x' ? KVME_PROT_EXEC : 0);
	/* offset, and the device as major:minor in hexadecimal */
	p = skip_field(p, end);
	if (!take_device(&p, end, &ml->major, &ml->minor))
		return (false);
	p = skip_blanks(p, end);
	if (!take_number(&p, end, &inode, false))
		return (false);
	if (p < end && *p != ' ' && *p != '\t')
		return (false);
	ml->inode = inode;
	/* The path, which may contain blanks, runs to the end of the line. */
	p = skip_blanks(p, end);
	ml->path = p;
	ml->pathlen = (size_t)(end - p);
	return (true);
}

bool
maps_is_file(const struct maps_line *ml)
{
#define NAME(s)	{ s, sizeof(s) - 1 }
	static const struct {
		const char *prefix;
		size_t len;
	} memory_names[] = {
		NAME("/memfd:"),	/* memfd_create(2) */
		NAME("/SYSV"),		/* System V shared memory */
		NAME("/dev/zero"),	/* shared anonymous memory */
		NAME("/anon_hugepage"),	/* huge pages */
		NAME("/[aio]"),		/* asynchronous I/O rings */
		NAME("/dmabuf"),
	};
#undef NAME
	size_t i;

	if (ml->inode == 0 || ml->pathlen < 2 || ml->path[0] != '/')
		return (false);
	for (i = 0; i < sizeof(memory_names) / sizeof(memory_names[0]); i++)
		if (ml->path[1] == memory_names[i].prefix[1] &&
		    ml->pathlen >= memory_names[i].len &&
		    memcmp(ml->path, memory_names[i].prefix,
		    memory_names[i].len) == 0)
			return (false);
	return (true);
}

bool
has_deleted_suffix(const char *path, size_t len)
{
	size_t n = sizeof(DELETED_SUFFIX) - 1;

	return (len >= n && memcmp(path + len - n, DELETED_SUFFIX, n) == 0);
}

bool
unescape_maps_path(const char *path, size_t len, char *buf, size_t size)
{
	size_t i, n;

	for (i = n = 0; i < len; i++) {
		if (n + 1 >= size)
			return (false);
		if (path[i] == '\\' && len - i >= 4 && memcmp(path + i + 1,
		    "012", 3) == 0) {
			buf[n++] = '\n';
			i += 3;
		} else
			buf[n++] = path[i];
	}
	buf[n] = '\0';
	return (true);
}
