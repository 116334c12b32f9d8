/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the mount table of the tool's own mount namespace, from
 * /proc/self/mountinfo, which the kernel writes without asking any file
 * system.
 */
#include <sys/sysmacros.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"
#include "parse.h"

/* A line: ids, device, root, mount point, options, "-", type, source. */
#define MOUNTINFO_LINE_MAX	8192

/* The word at *p (up to a blank or the end), and *p past its blank. */
static const char *
take_word(const char **p, const char *end, size_t *len)
{
	const char *w = *p;

	while (*p < end && **p != ' ')
		(*p)++;
	*len = (size_t)(*p - w);
	if (*p < end)
		(*p)++;
	return (w);
}

/* Copies a word with the kernel's \ooo escapes undone; false if too long. */
static bool
unescape_word(const char *w, size_t len, char *buf, size_t size)
{
	size_t i, n;

	for (i = n = 0; i < len; i++) {
		if (n + 1 >= size)
			return (false);
		if (w[i] == '\\' && len - i >= 4 && w[i + 1] >= '0' &&
		    w[i + 1] <= '3' && w[i + 2] >= '0' && w[i + 2] <= '7' &&
		    w[i + 3] >= '0' && w[i + 3] <= '7') {
			buf[n++] = (char)((w[i + 1] - '0') * 64 +
			    (w[i + 2] - '0') * 8 + (w[i + 3] - '0'));
			i += 3;
		} else
			buf[n++] = w[i];
	}
	buf[n] = '\0';
	return (true);
}

bool
parse_mountinfo_line(const char *line, size_t len, struct mount_line *ml)
{
	const char *p = line, *end = line + len, *w;
	unsigned int major, minor;
	size_t wlen, i;
	char dev[32];

	for (i = 0; i < 2; i++)		/* the mount's id and its parent's */
		(void)take_word(&p, end, &wlen);
	w = take_word(&p, end, &wlen);
	if (wlen == 0 || wlen >= sizeof(dev))
		return (false);
	memcpy(dev, w, wlen);
	dev[wlen] = '\0';
	if (sscanf(dev, "%u:%u", &major, &minor) != 2)
		return (false);
	(void)take_word(&p, end, &wlen);	/* the root within it */
	w = take_word(&p, end, &wlen);
	if (wlen == 0 || !unescape_word(w, wlen, ml->path, sizeof(ml->path)))
		return (false);
	/* Optional fields up to the separator. */
	do {
		w = take_word(&p, end, &wlen);
		if (wlen == 0)
			return (false);
	} while (wlen != 1 || w[0] != '-');
	w = take_word(&p, end, &wlen);
	if (wlen == 0 || wlen >= sizeof(ml->fstype))
		return (false);
	memcpy(ml->fstype, w, wlen);
	ml->fstype[wlen] = '\0';
	/* The source, which a file system may leave out. */
	w = take_word(&p, end, &wlen);
	if (!unescape_word(w, wlen, ml->from, sizeof(ml->from)))
		return (false);
	ml->dev = (uint64_t)makedev(major, minor);
	return (true);
}

int
proc_mounts(struct procstat *ps, mount_fn fn, void *ctx)
{
	static struct mount_line ml;
	char line[MOUNTINFO_LINE_MAX];
	size_t len;
	FILE *f;
	int fd, saved;
	bool whole;

	fd = openat(ps->procfd, "self/mountinfo", O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	f = fdopen(fd, "r");
	if (f == NULL) {
		close_keep_errno(fd);
		return (-1);
	}
	whole = true;
	while (fgets(line, sizeof(line), f) != NULL) {
		len = strlen(line);
		if (len == 0 || line[len - 1] != '\n') {
			/* Longer than any sane line: not to be trusted. */
			whole = false;
			break;
		}
		if (!parse_mountinfo_line(line, len - 1, &ml)) {
			whole = false;
			break;
		}
		fn(ctx, ml.path, ml.fstype, ml.from, ml.dev);
	}
	saved = ferror(f) ? errno : EINVAL;
	if (ferror(f))
		whole = false;
	fclose(f);
	if (!whole) {
		errno = saved;
		return (-1);
	}
	return (0);
}
