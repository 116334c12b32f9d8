/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Process queries.  The names are FreeBSD's (libprocstat, libjail); on
 * FreeBSD they are the system's own, elsewhere the backend in the
 * platform's folder provides them, with stand-ins for the records in its
 * procinfo_os.h.  proc_query() and proc_probe() wrap the process sysctls
 * and kill(pid, 0) so that every platform can answer them; like
 * libprocstat's own calls they take the handle and the process record.
 */
#ifndef STALEWATCH_PROCINFO_H
#define STALEWATCH_PROCINFO_H

#include <sys/types.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "procinfo_os.h"

/*
 * The process sysctl named by what (KERN_PROC_PATHNAME or KERN_PROC_ARGS)
 * for the process of kp, into buf, which holds *len bytes.  0 on success;
 * -1 with errno set otherwise.  ENOMEM: the buffer was too small, *len is
 * the number of bytes stored.  ENOENT for KERN_PROC_PATHNAME: the
 * executable file can no longer be named.
 */
int proc_query(struct procstat *ps, int what, const struct kinfo_proc *kp,
    char *buf, size_t *len);

/*
 * Whether the process of kp still exists and is the one listed (its id
 * may have been reused since): 0, or -1 with errno (ESRCH: the process
 * is gone).  kill(pid, 0) and the process's start time tell.  A backend
 * that has to read the argument block to tell stores it in args, which
 * holds *argslen bytes, as the KERN_PROC_ARGS query would, and sets
 * *argslen to the bytes stored; otherwise, or when args is NULL, *argslen
 * becomes 0 and nothing is stored.
 */
int proc_probe(struct procstat *ps, const struct kinfo_proc *kp, char *args,
    size_t *argslen);

/*
 * Why processes of other users may be missing from the list, as text
 * for a warning ("/proc is mounted with hidepid=2"), or NULL when the
 * caller sees every process.
 */
const char *proc_hidden(struct procstat *ps);

/* The kinds of service a process can belong to. */
#define SERVICE_NONE		0	/* none found */
#define SERVICE_UNIT		1	/* a systemd unit */
#define SERVICE_SESSION		2	/* a login session */
#define SERVICE_CONTAINER	3	/* a container of a container runtime */
#define SERVICE_MACHINE		4	/* a virtual machine or system container */
#define SERVICE_RC		5	/* an rc script, found by its pidfile */
#define SERVICE_USER_UNIT	6	/* a unit of a user's own service manager */

/*
 * The service that the system itself records for the process of kp (on
 * Linux, the unit, session, container or machine of its control group):
 * its name into buf, which holds size bytes, NUL-terminated, and its
 * kind as the result.  SERVICE_NONE, with buf empty, when the system
 * records none or it cannot be read.  A unit of a user's manager
 * (SERVICE_USER_UNIT) is named with its manager's, "user@UID.service/UNIT".
 */
int proc_service(struct procstat *ps, const struct kinfo_proc *kp, char *buf,
    size_t size);

/*
 * The root directory of the jail of the process of kp into buf (size
 * bytes): empty for a process outside any jail.  0, or -1 when the jail
 * cannot be found.
 */
int proc_jail_root(struct procstat *ps, const struct kinfo_proc *kp,
    char *buf, size_t size);

/*
 * Where a mapped file whose name the kernel no longer gives may still
 * be found by its identity: the runtime linker's library directories, as
 * a NULL-terminated list, on a platform whose kernel can lose the names
 * of files that still exist.  NULL where a missing name always means a
 * file that is gone.
 */
const char *const *proc_library_dirs(struct procstat *ps);

/*
 * The root directory of the process of kp, as a path the tool can name it
 * by, into buf (size bytes): on Linux where /proc/PID/root leads, on
 * FreeBSD "/" outside a jail and the jail's path inside one.  0, or -1
 * when it cannot be told.
 */
int proc_root_path(struct procstat *ps, const struct kinfo_proc *kp,
    char *buf, size_t size);

/*
 * Opens the root directory of the process of kp: a directory descriptor
 * (close-on-exec) that the caller closes, or -1 with errno set.  Also -1
 * (EXDEV) when the process ids that the files below that root hold are
 * not those of the process list, as in another PID namespace of Linux.
 * Opening may wait on the file system of the root: ask lookup_may_hang()
 * of proc_root_path()'s path first.
 */
int proc_open_root(struct procstat *ps, const struct kinfo_proc *kp);

/*
 * When the process of kp started, by the system's clock (CLOCK_REALTIME),
 * into *ts: 0, or -1.
 */
int proc_start_time(struct procstat *ps, const struct kinfo_proc *kp,
    struct timespec *ts);

/*
 * What a failure of procstat_open_sysctl() with errno err means, in the
 * words of the platform ("/proc is not mounted"), or NULL when the
 * system's text for err says it.
 */
const char *proc_open_error(int err);

/* Called for each mounted file system; see proc_mounts(). */
typedef void (*mount_fn)(void *ctx, const char *path, const char *fstype,
    uint64_t dev);

/*
 * Calls fn with each file system that the tool's mount table lists:
 * where it is mounted (an absolute path), the name of its type, and its
 * device as the files on it give it in st_dev (0 where the platform
 * cannot tell).  Reading the table never waits on a file system.  0, or
 * -1 with errno set when the table cannot be read.
 */
int proc_mounts(struct procstat *ps, mount_fn fn, void *ctx);

#endif
