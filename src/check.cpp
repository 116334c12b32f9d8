/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The stale-image check: is a process still running an executable, or
 * another executable mapping, that the kernel can no longer name?
 */
#include <sys/stat.h>
#include <errno.h>
#include <stdint.h>
#include <string.h>

#include "check.h"
#include "libdirs.h"
#include "settings.h"
#include "text.h"

struct pid_tally check_denied;
struct pid_tally check_busy;

void
tally_pid(struct pid_tally *t, pid_t pid)
{
	if (t->count < TALLY_PIDS_KEPT)
		t->pids[t->count] = pid;
	t->count++;
}

/*
 * Counts a process whose query failed for lack of permission, or because
 * it was starting a program.
 */
static void
note_denied(const struct kinfo_proc *kp)
{
	if (errno == EACCES || errno == EPERM)
		tally_pid(&check_denied, kp->ki_pid);
	else if (errno == EBUSY)
		tally_pid(&check_busy, kp->ki_pid);
}

/*
 * Ends the text of a query result: at the number of bytes stored, and
 * inside the buffer at the latest.  When the result did not all fit
 * (partial) and its first string has no end among the bytes stored, that
 * string is cut here, and the cut goes back to the end of its last whole
 * character: the bytes of a character that lost its tail never were
 * bytes of the process on their own.
 */
static void
terminate(char *buf, size_t size, size_t len, bool partial)
{
	size_t stored, end;

	stored = len < size ? len : size;
	end = len < size ? len : size - 1;
	if (partial && memchr(buf, '\0', stored) == NULL)
		end = whole_characters(buf, end);
	buf[end] = '\0';
}

/* Fills buf with the result of a process query; empty on failure. */
static int
query_text(struct procstat *ps, int what, const struct kinfo_proc *kp,
    char *buf, size_t size)
{
	size_t len = size;
	int rc;

	buf[0] = '\0';
	/* ENOMEM: cut to what was stored. */
	if ((rc = proc_query(ps, what, kp, buf, &len)) == 0 ||
	    errno == ENOMEM) {
		terminate(buf, size, len, rc != 0);
		return (0);
	}
	buf[0] = '\0';
	return (-1);
}

/* Whether the check leaves kp out: the kernel's own, or filtered. */
static bool
left_out(const struct kinfo_proc *kp)
{
	if ((kp->ki_flag & P_KPROC) != 0)
		return (true);
	if (settings.filter_jail && kp->ki_jid != settings.filter_jid)
		return (true);
	if (settings.filter_user && (uint32_t)kp->ki_uid != settings.filter_uid)
		return (true);
	return (false);
}

/*
 * The executable is gone: WHY_BIN, with the first argument in argsbuf,
 * unless the process is gone too, or another has its id now.
 */
static int
binary_gone(struct procstat *ps, const struct kinfo_proc *kp, char *argsbuf,
    size_t size)
{
	size_t len;

	len = size;
	if (proc_probe(ps, kp, argsbuf, &len) == -1 && errno == ESRCH)
		return (WHY_NONE);
	/* A full buffer may have had more to hold. */
	if (len > 0)
		terminate(argsbuf, size, len, len == size);
	else
		(void)query_text(ps, KERN_PROC_ARGS, kp, argsbuf, size);
	return (WHY_BIN);
}

/* Whether the kernel gives no name for an executable file mapping. */
static bool
nameless(const struct kinfo_vmentry *kve)
{
	return ((kve->kve_protection & KVME_PROT_EXEC) != 0 &&
	    kve->kve_type == KVME_TYPE_VNODE && kve->kve_path[0] == '\0');
}

/*
 * Whether a nameless mapping is of a file that is gone.  Where the kernel
 * names files from a cache, the name may be lost while the file is still
 * there: not when it is the executable itself (whose path the kernel just
 * gave), nor a file still found in the library directories.  Without the
 * file's identity, nothing is sure.
 */
static bool
confirmed_gone(struct procstat *ps, const struct kinfo_vmentry *kve,
    const struct stat *exe)
{
	if ((kve->kve_status & KF_ATTR_VALID) == 0)
		return (false);
	if (exe != NULL && kve->kve_vn_fsid == (uint64_t)exe->st_dev &&
	    kve->kve_vn_fileid == (uint64_t)exe->st_ino)
		return (false);
	return (!library_present(ps, kve->kve_vn_fsid, kve->kve_vn_fileid));
}

/* Whether the memory map has an executable file that is gone; -1. */
static int
map_has_gone(struct procstat *ps, struct kinfo_proc *kp, const char *path)
{
	struct kinfo_vmentry *vmmap;
	unsigned int count, i;
	struct stat exe;
	int found, have_exe;

	vmmap = procstat_getvmmap(ps, kp, &count);
	if (vmmap == NULL)
		return (-1);
	found = 0;
	have_exe = -1;		/* not asked yet */
	for (i = 0; i < count && !found; i++) {
		if (!nameless(&vmmap[i]))
			continue;
		if (have_exe == -1)
			have_exe = stat(path, &exe) == 0;
		found = confirmed_gone(ps, &vmmap[i], have_exe ? &exe : NULL);
	}
	procstat_freevmmap(ps, vmmap);
	return (found);
}

int
check_process(struct procstat *ps, struct kinfo_proc *kp, char *text,
    size_t size)
{
	size_t none;
	int found;

	if (left_out(kp))
		return (WHY_NONE);
	/* The executable's path, kept for a row of a library that is gone. */
	if (query_text(ps, KERN_PROC_PATHNAME, kp, text, size) == -1) {
		if (errno == ENOENT)
			return (binary_gone(ps, kp, text, size));
		note_denied(kp);
		return (WHY_NONE);
	}
	if (settings.only_binaries)
		return (WHY_NONE);
	found = map_has_gone(ps, kp, text);
	if (found == -1)
		note_denied(kp);
	/* A verdict on the process listed, not on one that took its id. */
	if (found == 1 && (proc_probe(ps, kp, NULL, &none) == 0 ||
	    errno != ESRCH))
		return (WHY_SO);
	return (WHY_NONE);
}
