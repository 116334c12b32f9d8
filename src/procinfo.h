/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Process queries.  The names are FreeBSD's (libprocstat, libjail); on
 * FreeBSD they are the system's own, elsewhere the backend in the
 * platform's folder provides them, with stand-ins for the records in its
 * procinfo_os.h.  proc_query() and proc_probe() wrap the process sysctls
 * and kill(pid, 0) so that every platform can answer them; like
 * libprocstat's own calls they take the handle and the process record.
 *
 * Who answers each query (the files are in src/freebsd/ and src/linux/):
 *
 *   query                 FreeBSD                Linux
 *   procstat_open_sysctl  libprocstat            handle_linux.cpp
 *   procstat_close        libprocstat            handle_linux.cpp
 *   procstat_getprocs     libprocstat            proclist_linux.cpp
 *   procstat_freeprocs    libprocstat            proclist_linux.cpp
 *   procstat_getvmmap     libprocstat            vmmap_linux.cpp (1)
 *   procstat_freevmmap    libprocstat            vmmap_linux.cpp
 *   proc_query            procinfo_freebsd.cpp   exe_args_linux.cpp
 *   proc_probe            procinfo_freebsd.cpp   exe_args_linux.cpp
 *   proc_hidden           procinfo_freebsd.cpp   proclist_linux.cpp
 *   proc_service          service_freebsd.cpp    service_linux.cpp (2)
 *   proc_jail_root        service_freebsd.cpp    service_linux.cpp
 *   jail_getid            libjail                service_linux.cpp
 *   proc_list             procinfo_freebsd.cpp   proclist_linux.cpp
 *   proc_library_dirs     libdirs_freebsd.cpp    vmmap_linux.cpp
 *   proc_mounts           mounts_freebsd.cpp     mounts_linux.cpp
 *   proc_limits           limits_freebsd.cpp     limits_linux.cpp
 *   proc_exe_file         procfiles_freebsd.cpp  procfiles_linux.cpp
 *   proc_shares_root      procfiles_freebsd.cpp  procfiles_linux.cpp
 *   kernel_running        kernel_freebsd.cpp     kernel_linux.cpp
 *   proc_root_path        root_freebsd.cpp       root_linux.cpp
 *   proc_open_root        root_freebsd.cpp       root_linux.cpp
 *   proc_start_time       root_freebsd.cpp       root_linux.cpp
 *   proc_open_error       root_freebsd.cpp       root_linux.cpp
 *
 * (1) with maplines_linux.cpp (the maps text) and procmap_linux.cpp (the
 *     kernel asked for the executable file mappings alone);
 * (2) with cgroup_linux.cpp (the service named by a control group).
 * What the Linux files share is in backend.h, the /proc text parsers in
 * parse.h.
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
 * Whether the process of kp still exists, is the one listed (its id may
 * have been reused since) and runs the program it ran then: 0, or
 * PROBE_NEW_PROGRAM, or -1 with errno (ESRCH: the process is gone).
 * kill(pid, 0) and the process's start time, counted from the boot so
 * that a step of the clock changes nothing, tell whether it is the one
 * listed; its command name, read again, whether it has started another
 * program since (a process that renames itself counts as one that did):
 * then kp's ki_comm becomes the name it has now.  The name is read after
 * everything else the probe reads, so that what the caller read of the
 * process before the probe is of the program named.  A backend that has
 * to read the argument block to tell stores it in args, which holds
 * *argslen bytes, as the KERN_PROC_ARGS query would, and sets *argslen
 * to the bytes stored; otherwise, or when args is NULL, *argslen becomes
 * 0 and nothing is stored.
 */
int proc_probe(struct procstat *ps, struct kinfo_proc *kp, char *args,
    size_t *argslen);

/* What proc_probe() answers for a process that started another program. */
#define PROBE_NEW_PROGRAM	1

/*
 * The executable file of kp's process, which is gone: its device and
 * inode into *dev and *ino, and into buf (size bytes, NUL-terminated) the
 * name the kernel still has for it, without its mark of a deleted file;
 * empty where it has none (FreeBSD keeps no name for a file that is gone)
 * or the name does not fit.  0, or -1 with errno set.
 */
int proc_exe_file(struct procstat *ps, struct kinfo_proc *kp, uint64_t *dev,
    uint64_t *ino, char *buf, size_t size);

/*
 * Whether the names that the kernel gives for the files of kp's process
 * lead the tool to where they lead the process: the process has the
 * tool's root directory (it is in no jail, chroot or container).  False
 * when that cannot be told.
 */
bool proc_shares_root(struct procstat *ps, struct kinfo_proc *kp);

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
 * Where a mapped file whose name the kernel no longer gives may still be
 * found by its identity, on a platform whose kernel can lose the names of
 * files that still exist: where the runtime linker finds libraries, as
 * paths seen from a root (the host's, or a jail's), each list
 * NULL-terminated.  NULL where a missing name always means a file that is
 * gone.
 */
struct library_dirs {
	const char *const *dirs;	/* folders whose files it loads */
	const char *const *trees;	/* the same, with the folders below
					   them (plugins, modules) */
	const char *const *hints;	/* files that name more folders
					   (ldconfig's hints) */
};

const struct library_dirs *proc_library_dirs(struct procstat *ps);

/*
 * The settings of the system that decide which processes the caller may
 * examine, to name the cause when one was refused or left out.  Where the
 * system has no such setting, the value that limits nothing.
 */
struct proc_limits {
	bool superuser;		/* the caller has the superuser's rights */
	int securelevel;	/* kern.securelevel; -1 where there is none */
	bool debug_unprivileged; /* security.bsd.unprivileged_proc_debug: a
				   user may read the memory maps of its own
				   processes */
	bool see_jail_proc;	/* security.bsd.see_jail_proc: a user sees
				   its processes in jails below its own */
	bool jails_below;	/* some jail runs below the caller's */
};

void proc_limits(struct procstat *ps, struct proc_limits *limits);

/*
 * Lists the processes, as procstat_getprocs(ps, KERN_PROC_PROC, 0, count)
 * does, and notes what proc_probe() needs to know each of them again
 * (where start times are dates, the boot time they were counted from).
 * NULL with errno set on failure.
 */
struct kinfo_proc *proc_list(struct procstat *ps, unsigned int *count);

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
    const char *from, uint64_t dev);

/*
 * Calls fn with each file system that the tool's mount table lists:
 * where it is mounted (an absolute path), the name of its type, what it
 * was mounted from (a device, a server's export, or for FreeBSD's nullfs
 * the folder it shows again; "" when the table has nothing), and its
 * device as the files on it give it in st_dev (0 where the platform
 * cannot tell).  Reading the table never waits on a file system.  0, or
 * -1 with errno set when the table cannot be read.
 */
int proc_mounts(struct procstat *ps, mount_fn fn, void *ctx);

#endif
