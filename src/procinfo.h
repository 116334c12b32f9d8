/*
 * Process queries.  The names are FreeBSD's (libprocstat, libjail); on
 * FreeBSD they are the system's own, elsewhere a backend provides them.
 * proc_query() and proc_probe() wrap the process sysctls and kill(pid, 0)
 * so that every platform can answer them; like libprocstat's own calls
 * they take the handle, where a backend may keep what it has opened.
 */
#ifndef STALEWATCH_PROCINFO_H
#define STALEWATCH_PROCINFO_H

#include <sys/types.h>
#include <stddef.h>

#ifdef __FreeBSD__
#include <sys/param.h>
#include <sys/queue.h>
#include <sys/socket.h>
#include <sys/sysctl.h>
#include <sys/user.h>
#include <libprocstat.h>
#include <jail.h>
#else

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

#define COMMLEN			19

struct procstat;

#define P_KPROC			0x00004	/* a kernel thread */

struct kinfo_proc {
	pid_t ki_pid;
	pid_t ki_ppid;
	pid_t ki_pgid;
	uid_t ki_uid;			/* effective user id */
	int ki_jid;			/* always 0: no jails here */
	long ki_flag;			/* P_* bits */
	char ki_comm[COMMLEN + 1];
};

/*
 * One mapping.  The path lives in the block that procstat_getvmmap()
 * returns, after the entries, so that an entry stays small however many
 * mappings a process has.
 */
struct kinfo_vmentry {
	int kve_type;			/* KVME_TYPE_* */
	int kve_protection;		/* KVME_PROT_* bits */
	const char *kve_path;		/* empty when the file has no name */
};

struct procstat *procstat_open_sysctl(void);
struct kinfo_proc *procstat_getprocs(struct procstat *ps, int what, int arg,
    unsigned int *count);
void procstat_freeprocs(struct procstat *ps, struct kinfo_proc *procs);
struct kinfo_vmentry *procstat_getvmmap(struct procstat *ps,
    struct kinfo_proc *kp, unsigned int *count);
void procstat_freevmmap(struct procstat *ps, struct kinfo_vmentry *vmmap);
void procstat_close(struct procstat *ps);
int jail_getid(const char *name);

#endif /* !__FreeBSD__ */

/*
 * The process sysctl named by what (KERN_PROC_PATHNAME or KERN_PROC_ARGS)
 * for pid, into buf, which holds *len bytes.  0 on success; -1 with errno
 * set otherwise.  ENOMEM: the buffer was too small, *len is the number of
 * bytes stored.  ENOENT for KERN_PROC_PATHNAME: the executable file can no
 * longer be named.
 */
int proc_query(struct procstat *ps, int what, pid_t pid, char *buf,
    size_t *len);

/*
 * Whether pid still exists, as kill(pid, 0) tells: 0, or -1 with errno
 * (ESRCH: the process is gone).  The /proc backend asks the /proc that
 * the handle opened, and counts a zombie as gone.
 */
int proc_probe(struct procstat *ps, pid_t pid);

#endif
