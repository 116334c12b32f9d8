/*
 * The stale-image check: is a process still running an executable, or
 * another executable mapping, that the kernel can no longer name?
 */
#include <errno.h>
#include <stdint.h>

#include "check.h"
#include "report.h"
#include "settings.h"

#define QUERY_BUFSIZE 1024

unsigned int check_denied;

/* Counts a process whose query failed for lack of permission. */
static void
note_denied(void)
{
	if (errno == EACCES || errno == EPERM)
		check_denied++;
}

/*
 * Ends the text of a query result: at the number of bytes stored, and
 * inside the buffer at the latest.
 */
static void
terminate(char *buf, size_t size, size_t len)
{
	buf[len < size ? len : size - 1] = '\0';
}

/* Fills buf with the result of a process query; empty on failure. */
static int
query_text(struct procstat *ps, int what, pid_t pid, char *buf, size_t size)
{
	size_t len = size;

	buf[0] = '\0';
	/* ENOMEM: cut to what was stored. */
	if (proc_query(ps, what, pid, buf, &len) == 0 || errno == ENOMEM) {
		terminate(buf, size, len);
		return (0);
	}
	buf[0] = '\0';
	return (-1);
}

void
check_process(struct procstat *ps, struct kinfo_proc *kp)
{
	char pathbuf[QUERY_BUFSIZE];
	char argsbuf[QUERY_BUFSIZE];
	struct kinfo_vmentry *vmmap;
	unsigned int count, i;

	if (kp->ki_ppid == 0)
		return;
	if (settings.filter_jail && kp->ki_jid != settings.filter_jid)
		return;
	if (settings.filter_user &&
	    (uint32_t)kp->ki_uid != (uint32_t)settings.filter_uid)
		return;

	if (query_text(ps, KERN_PROC_PATHNAME, kp->ki_pid, pathbuf,
	    sizeof(pathbuf)) == -1) {
		if (errno != ENOENT) {
			note_denied();
			return;
		}
		/* The executable is gone; make sure the process is not. */
		if (proc_probe(ps, kp->ki_pid) == -1 && errno == ESRCH)
			return;
		(void)query_text(ps, KERN_PROC_ARGS, kp->ki_pid, argsbuf,
		    sizeof(argsbuf));
		report_process(kp, WHY_BIN, argsbuf);
		return;
	}

	if (settings.only_binaries)
		return;
	vmmap = procstat_getvmmap(ps, kp, &count);
	if (vmmap == NULL) {
		note_denied();
		return;
	}
	for (i = 0; i < count; i++) {
		if ((vmmap[i].kve_protection & KVME_PROT_EXEC) != 0 &&
		    vmmap[i].kve_type == KVME_TYPE_VNODE &&
		    vmmap[i].kve_path[0] == '\0') {
			report_process(kp, WHY_SO, pathbuf);
			break;
		}
	}
	procstat_freevmmap(ps, vmmap);
}
