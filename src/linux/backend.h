/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * What the files of the /proc backend share: the handle, and the per-
 * process directory through which every file of one process is read.
 */
#ifndef STALEWATCH_LINUX_BACKEND_H
#define STALEWATCH_LINUX_BACKEND_H

#include <limits.h>
#include <stddef.h>
#include <sys/types.h>

#include "lookup.h"
#include "parse.h"
#include "procinfo.h"

/* The longest name readlink can give for /proc/PID/exe. */
#define LINK_MAX_LEN	(PATH_MAX + sizeof(DELETED_SUFFIX))

struct procstat {
	int procfd;			/* /proc */
	pid_t pid;			/* the process examined, 0 for none */
	unsigned long long starttime;	/* the start time it was listed with */
	int piddir;			/* its /proc/PID, or -1 */
	int filedir;			/* where its files are read: piddir, or
					   /proc/PID/task/TID of a live thread
					   when the leader has exited */
	int mapsfd;			/* filedir's maps file, or -1; open
					   from a query until its text is read */
	int waitlo, waithi;		/* descriptors to close together, or
					   -1 (handle_linux.cpp) */
	int waitbelow;			/* and the bound of their numbers */
	char *pool;			/* paths of the map being read */
	size_t poolsize;
	bool maps_text;			/* the kernel has no PROCMAP_QUERY:
					   maps are read from their text */
};

/* Whether a directory entry of /proc names a process (or a thread). */
bool is_pid_name(const char *name);

/*
 * For a file of the process examined that could not be had: a missing
 * one (ENOENT) means that the process is gone, and errno becomes ESRCH;
 * other errors stay.  Returns -1, for the caller to return.
 */
int gone_if_missing(void);

/*
 * Closes fd now, or soon, with the descriptors whose numbers follow, in
 * one system call (close_range).  For descriptors of /proc files only.
 */
void close_soon(struct procstat *ps, int fd);

/*
 * How read_proc_file() reads: one of the first three, with READ_CLOSE_SOON
 * or'ed in for the files of a list.
 */
#define READ_ONCE	0	/* one read, no second one to see the end: for
				   a file that the kernel produces whole on
				   the first (stat and the like) */
#define READ_TO_END	1	/* until its end, or until buf is full: what
				   does not fit is left unread */
#define READ_ONE_MORE	2	/* one read that asks for a byte more than buf
				   holds, into a byte of its own: a result of
				   size + 1 says that the file did not fit */
#define READ_CLOSE_SOON	4	/* its descriptor is closed with the next ones
				   (close_soon) */

/*
 * Reads the file path below the directory dirfd (of /proc) into buf,
 * never more than size bytes, as how says.  The number of bytes read, or
 * -1 with errno set (a failed read after others too); errno is kept as
 * the read left it when the descriptor is closed.
 */
ssize_t read_proc_file(struct procstat *ps, int dirfd, const char *path,
    char *buf, size_t size, int how);

/*
 * Makes kp's process the one examined, opening its /proc directory
 * unless it is open already.  0, or -1 with errno (ESRCH: it is gone).
 */
int select_process(struct procstat *ps, const struct kinfo_proc *kp);

/*
 * When the thread-group leader has exited, /proc/PID shows no executable,
 * no map and no arguments, but the other threads still run the program:
 * reads go through one of them from now on.  Its executable's name into
 * link (not terminated), its length; or -1 with errno (ESRCH when no
 * other thread runs: the process is a zombie, or a kernel thread).
 */
ssize_t use_live_thread(struct procstat *ps, char *link, size_t size);

/*
 * Whether the process examined is still the one listed: its start time,
 * read through its directory, is the one the list has.  0, or -1 with
 * errno (ESRCH: it has gone, and its id may be another's now).
 */
int same_process(struct procstat *ps);

/*
 * As same_process(), and whether it still runs the program of kp (NULL:
 * not asked): PROBE_NEW_PROGRAM when its command name, read with the
 * start time, is no longer kp's, which then gets the name it has now.
 */
int same_program(struct procstat *ps, struct kinfo_proc *kp);

/*
 * The maps file of the process examined, opened unless the handle has it
 * open already (unread: at its start); or -1 with errno (ESRCH: gone).
 */
int maps_file(struct procstat *ps);

/* Closes the maps file that the handle holds, if any. */
void close_maps_file(struct procstat *ps);

/*
 * One line of the maps text.  A line longer than the reader's buffer is
 * cut: its beginning is here, and tail holds its last bytes, enough to
 * tell the kernel's " (deleted)" mark.
 */
#define TAIL_KEPT	(sizeof(DELETED_SUFFIX) - 1)

struct line {
	const char *text;
	size_t len;
	bool cut;
	char tail[TAIL_KEPT];
};

typedef bool (*line_fn)(struct procstat *ps, void *ctx, const struct line *l);

/*
 * Opens the maps file of the process examined and calls fn for each of
 * its lines, each read to its end before fn sees it.  False with errno
 * set on failure, or when fn returns false.
 */
bool read_map_of(struct procstat *ps, line_fn fn, void *ctx);

/*
 * The name that the kernel last gave a mapped file that is gone, of a line
 * of the maps text (l) or from the query (no l): *name, and its length as
 * the result, with " (deleted)" left out and as it is, the escapes of the
 * text undone.  buf (size bytes) holds a name that had to be read again
 * (gonename_linux.cpp).  -1 when it cannot be told.
 */
ssize_t gone_name(struct procstat *ps, const struct maps_line *ml,
    const struct line *l, char *buf, size_t size, const char **name);

/*
 * The path that the memory map of the process examined gives the file of
 * the given device and inode, cut to size bytes with a NUL; 0, or -1.
 */
int map_path_of(struct procstat *ps, dev_t dev, unsigned long long ino,
    char *buf, size_t size);

/*
 * The most executable file mappings that the kernel is asked about one by
 * one, and the most of them packed one against the last; a process with
 * more is read from the text (procmap_linux.cpp says why).
 */
#define QUERIED_MAX	256
#define PACKED_MAX	16

/* Called with each mapping that the kernel is asked about. */
typedef bool (*mapping_fn)(struct procstat *ps, void *ctx,
    const struct maps_line *ml);

/* What query_exec_mappings() answers. */
#define QUERY_DONE	0	/* fn had every executable file mapping */
#define QUERY_EMPTY	1	/* the process has no memory map (any more),
				   as when the text is empty */
#define QUERY_USE_TEXT	2	/* the kernel cannot answer for this process,
				   or not well: read the text instead */
#define QUERY_FAILED	(-1)	/* errno set, or fn returned false */

/*
 * Asks the kernel (PROCMAP_QUERY) for the executable file mappings of the
 * process examined, in the order of their addresses, and calls fn for
 * each.  The name is the kernel's as the maps text has it, " (deleted)"
 * included, but with a newline as it is, not written as \012.  With
 * QUERY_USE_TEXT, fn may have seen some mappings already: the caller
 * starts over from the text.  A kernel without the query makes the
 * handle read the text for the rest of the run (ps->maps_text).
 */
int query_exec_mappings(struct procstat *ps, mapping_fn fn, void *ctx);

#endif
