/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux stand-ins for the FreeBSD records and constants that the program
 * reads (sys/user.h, sys/sysctl.h, libprocstat.h, jail.h).  Only the
 * fields the program uses are here; the /proc backend fills them.
 */
#ifndef STALEWATCH_PROCINFO_OS_H
#define STALEWATCH_PROCINFO_OS_H

#include <sys/types.h>
#include <stdint.h>

#define CTL_KERN		1
#define KERN_PROC		14
#define KERN_PROC_ARGS		7	/* the argument block */
#define KERN_PROC_PROC		8	/* all processes, not threads */
#define KERN_PROC_PATHNAME	12	/* the executable's path */

#define KVME_TYPE_NONE		0
#define KVME_TYPE_DEFAULT	1	/* anonymous memory */
#define KVME_TYPE_VNODE		2	/* a file on disk */
#define KVME_TYPE_SWAP		3	/* shared memory objects */
#define KVME_TYPE_UNKNOWN	255

#define KVME_PROT_READ		1
#define KVME_PROT_WRITE		2
#define KVME_PROT_EXEC		4

#define KF_ATTR_VALID		0x0001	/* kve_vn_* hold the file's identity */

#define COMMLEN			19

#define P_KPROC			0x00004	/* a kernel thread */

/* Where the rc scripts are, whose names pidfiles may give. */
#define RC_SCRIPT_DIRS		"/etc/init.d"
/* Where daemons leave their pidfiles (/var/run is mostly a link to /run). */
#define PIDFILE_DIRS		"/run", "/var/run"

struct procstat;

struct kinfo_proc {
	pid_t ki_pid;
	pid_t ki_ppid;
	pid_t ki_pgid;
	pid_t ki_sid;			/* session id */
	uid_t ki_uid;			/* effective user id */
	int ki_jid;			/* always 0: no jails here */
	long ki_flag;			/* P_* bits */
	char ki_comm[COMMLEN + 1];
	/* The backend's own: when the process started, in clock ticks. */
	unsigned long long ki_starttime;
};

/*
 * One mapping.  The path lives in the block that procstat_getvmmap()
 * returns, after the entries, so that an entry stays small however many
 * mappings a process has.
 */
struct kinfo_vmentry {
	int kve_type;			/* KVME_TYPE_* */
	int kve_protection;		/* KVME_PROT_* bits */
	int kve_status;			/* KF_ATTR_VALID for a file */
	uint64_t kve_vn_fsid;		/* the file's device */
	uint64_t kve_vn_fileid;		/* and inode */
	const char *kve_path;		/* empty when the file has no name */
	/* The backend's own: for a file without a name (and only then), the
	   name the kernel last gave it, " (deleted)" left out and the
	   escapes of the maps text undone; NULL when it cannot be told. */
	const char *kve_gone_path;
};

/* The name a mapped file that is gone last had, or NULL. */
static inline const char *
gone_path_of(const struct kinfo_vmentry *kve)
{
	return (kve->kve_gone_path);
}

struct procstat *procstat_open_sysctl(void);
struct kinfo_proc *procstat_getprocs(struct procstat *ps, int what, int arg,
    unsigned int *count);
void procstat_freeprocs(struct procstat *ps, struct kinfo_proc *procs);
/*
 * The memory map of kp's process: every executable mapping of a file, in
 * the order of addresses, with its name as /proc/PID/maps writes it, or
 * an empty name when the file is deleted (or replaced), and then the name
 * it had in kve_gone_path.  Other mappings are there only when the map was
 * read from the maps text (vmmap_linux.cpp).
 */
struct kinfo_vmentry *procstat_getvmmap(struct procstat *ps,
    struct kinfo_proc *kp, unsigned int *count);
void procstat_freevmmap(struct procstat *ps, struct kinfo_vmentry *vmmap);
void procstat_close(struct procstat *ps);
int jail_getid(const char *name);

#endif
