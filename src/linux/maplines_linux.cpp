/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the lines of /proc/PID/maps, read through a buffer of fixed
 * size however long a line is; and the search of the map for a file's
 * path.
 */
#include <sys/sysmacros.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"

#define LINE_BUFSIZE	16384

/* Keeps the last TAIL_KEPT bytes of what has been read of a cut line. */
static void
keep_tail(struct line *l, const char *more, size_t n)
{
	if (n >= TAIL_KEPT) {
		memcpy(l->tail, more + n - TAIL_KEPT, TAIL_KEPT);
		return;
	}
	memmove(l->tail, l->tail + n, TAIL_KEPT - n);
	memcpy(l->tail + TAIL_KEPT - n, more, n);
}

/*
 * Reads the rest of a line that filled buf, up to its newline, keeping
 * its end in l->tail; what follows the newline goes back to the start of
 * buf after the line was handed to fn.  The bytes now in buf, or -1.
 */
static ssize_t
finish_cut_line(struct procstat *ps, int fd, char *buf, struct line *l,
    line_fn fn, void *ctx)
{
	char more[4096];
	const char *nl;
	ssize_t got;
	size_t n;

	keep_tail(l, buf + LINE_BUFSIZE - TAIL_KEPT, TAIL_KEPT);
	for (;;) {
		got = read(fd, more, sizeof(more));
		if (got == -1 && errno == EINTR)
			continue;
		if (got == -1)
			return (-1);
		nl = (const char *)memchr(more, '\n', (size_t)got);
		n = nl != NULL ? (size_t)(nl - more) : (size_t)got;
		keep_tail(l, more, n);
		if (nl != NULL || got == 0)
			break;
	}
	l->text = buf;
	l->len = LINE_BUFSIZE;
	l->cut = true;
	if (!fn(ps, ctx, l))
		return (-1);
	if (nl == NULL)
		return (0);
	n = (size_t)got - (size_t)(nl + 1 - more);
	memcpy(buf, nl + 1, n);
	return ((ssize_t)n);
}

/*
 * Calls fn for every line of the maps file fd, each read to its end
 * before fn sees it.  False with errno set on failure, or when fn
 * returns false.
 */
static bool
read_lines(struct procstat *ps, int fd, line_fn fn, void *ctx)
{
	char buf[LINE_BUFSIZE];
	struct line l;
	size_t have, start;
	const char *nl;
	ssize_t got;

	have = 0;
	l.cut = false;
	for (;;) {
		got = read(fd, buf + have, sizeof(buf) - have);
		if (got == -1 && errno == EINTR)
			continue;
		if (got == -1)
			return (false);
		have += (size_t)got;
		for (start = 0; start < have; start = (size_t)(nl - buf) + 1) {
			nl = (const char *)memchr(buf + start, '\n',
			    have - start);
			if (nl == NULL)
				break;	/* the rest of the line is still to come */
			l.text = buf + start;
			l.len = (size_t)(nl - buf) - start;
			if (!fn(ps, ctx, &l))
				return (false);
		}
		memmove(buf, buf + start, have - start);
		have -= start;
		if (got == 0) {
			l.text = buf;
			l.len = have;
			return (have == 0 || fn(ps, ctx, &l));
		}
		if (have == sizeof(buf)) {
			got = finish_cut_line(ps, fd, buf, &l, fn, ctx);
			if (got == -1)
				return (false);
			have = (size_t)got;
			l.cut = false;
		}
	}
}

bool
read_map_of(struct procstat *ps, line_fn fn, void *ctx)
{
	bool ok;
	int fd;

	fd = maps_file(ps);
	if (fd == -1)
		return (false);
	ok = read_lines(ps, fd, fn, ctx);
	/* Read, it is no longer at its start. */
	close_maps_file(ps);
	return (ok);
}

/* What map_path_of looks for, and where it puts the path. */
struct path_search {
	dev_t dev;
	unsigned long long ino;
	char *buf;
	size_t size;
	bool found;
};

static bool
match_path(struct procstat *ps, void *ctx, const struct line *l)
{
	struct path_search *s = (struct path_search *)ctx;
	struct maps_line ml;
	size_t n;

	(void)ps;
	if (s->found || !parse_maps_line(l->text, l->len, &ml) ||
	    ml.pathlen == 0 || ml.inode != s->ino ||
	    makedev(ml.major, ml.minor) != s->dev)
		return (true);
	n = ml.pathlen < s->size - 1 ? ml.pathlen : s->size - 1;
	memcpy(s->buf, ml.path, n);
	s->buf[n] = '\0';
	s->found = true;
	return (true);
}

int
map_path_of(struct procstat *ps, dev_t dev, unsigned long long ino,
    char *buf, size_t size)
{
	struct path_search s = { dev, ino, buf, size, false };

	if (size == 0 || !read_map_of(ps, match_path, &s))
		return (-1);
	if (!s.found) {
		errno = ENOENT;
		return (-1);
	}
	return (0);
}
