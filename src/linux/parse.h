/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Parsing of the /proc text files that the Linux backend reads.  Pure
 * functions over byte ranges, so that they can be tested on fixtures.
 */
#ifndef STALEWATCH_LINUX_PARSE_H
#define STALEWATCH_LINUX_PARSE_H

#include <sys/types.h>
#include <stddef.h>
#include <stdint.h>

/*
 * The fields of /proc/PID/stat that the backend uses.  The command name
 * is the kernel's, between the first '(' and the last ')'.
 */
struct stat_line {
	const char *comm;		/* into the buffer; not NUL-terminated */
	size_t commlen;
	pid_t ppid;
	pid_t pgid;
	pid_t sid;			/* session */
	unsigned long long flags;	/* PF_* bits */
	unsigned long long starttime;	/* clock ticks after boot */
};

/* The kernel's mark of its own threads in flags. */
#define PF_KTHREAD	0x00200000ULL

/* False if malformed or cut before the start time. */
bool parse_stat(const char *buf, size_t len, struct stat_line *sl);

/*
 * The value of the hexadecimal digit c, or -1 when it is none.  The
 * kernel writes its numbers in lowercase; with upper, uppercase letters
 * count too (systemd reads the escapes in its names in either case).
 */
int hex_digit(char c, bool upper);

/* One line of /proc/PID/maps, without its newline. */
struct maps_line {
	int protection;			/* KVME_PROT_* bits */
	unsigned int major, minor;	/* the file's device */
	unsigned long long inode;
	const char *path;		/* into the line; not NUL-terminated */
	size_t pathlen;			/* 0 for anonymous memory */
};

bool parse_maps_line(const char *line, size_t len, struct maps_line *ml);

/*
 * Whether a mapping is of a file on disk: it has an inode and a path, and
 * the path is not one of the kernel's names for memory (memfd, System V
 * shared memory, shared anonymous memory, huge pages and the like).
 */
bool maps_is_file(const struct maps_line *ml);

/* The suffix the kernel appends to the name of an unlinked file. */
#define DELETED_SUFFIX " (deleted)"

bool has_deleted_suffix(const char *path, size_t len);

/*
 * The maps text writes a newline in a name as "\012" (and nothing else
 * escaped, not even a backslash).  Copies path with that undone into buf
 * (size bytes, NUL-terminated); false when it does not fit.
 */
bool unescape_maps_path(const char *path, size_t len, char *buf, size_t size);

/* One line of /proc/PID/mountinfo: where, what type, which device. */
struct mount_line {
	char path[4096];		/* the mount point, unescaped */
	char fstype[64];
	char from[4096];		/* its source, unescaped; may be "" */
	uint64_t dev;
};

/*
 * The mount point and source (their \ooo escapes undone), file system
 * type and device of one line of mountinfo, without its newline; false when the
 * line is malformed or its fields do not fit.
 */
bool parse_mountinfo_line(const char *line, size_t len,
    struct mount_line *ml);

#endif
