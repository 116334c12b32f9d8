/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The stale-image check: is a process still running an executable, or
 * another executable mapping, that the kernel can no longer name?
 */
#include <sys/stat.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include "check.h"
#include "libdirs.h"
#include "lookup.h"
#include "mounts.h"
#include "settings.h"
#include "text.h"
#include "unexamined.h"

/*
 * A process that started another program while it was examined is
 * examined again, as the program it runs now, this many times at most.
 */
#define CHECK_ROUNDS	3

/* The verdict on such a process: examine it again. */
#define WHY_AGAIN	(-2)

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

static void list_binary(struct procstat *ps, struct kinfo_proc *kp,
    struct gone_files *gone);

/*
 * The verdict why, made from what was read of kp's process, if it is
 * still the process listed and runs the program named: the probe comes
 * after every read that the verdict rests on.
 */
static int
confirmed(struct procstat *ps, struct kinfo_proc *kp, int why)
{
	size_t none;
	int rc;

	rc = proc_probe(ps, kp, NULL, &none);
	if (rc == PROBE_NEW_PROGRAM)
		return (WHY_AGAIN);
	if (rc == -1 && errno == ESRCH)
		return (WHY_NONE);
	return (why);
}

/*
 * The executable is gone: WHY_BIN, with the first argument in argsbuf,
 * unless the process is gone too, or another has its id now.  With gone,
 * its files that are gone are listed there.
 */
static int
binary_gone(struct procstat *ps, struct kinfo_proc *kp, char *argsbuf,
    size_t size, struct gone_files *gone)
{
	size_t len;
	int rc;

	len = size;
	rc = proc_probe(ps, kp, argsbuf, &len);
	if (rc == -1 && errno == ESRCH)
		return (WHY_NONE);
	if (rc == PROBE_NEW_PROGRAM)
		return (WHY_AGAIN);
	/* A full buffer may have had more to hold. */
	if (len > 0) {
		terminate(argsbuf, size, len, len == size);
		if (gone == NULL)
			return (WHY_BIN);
	} else
		(void)query_text(ps, KERN_PROC_ARGS, kp, argsbuf, size);
	if (gone != NULL)
		list_binary(ps, kp, gone);
	return (confirmed(ps, kp, WHY_BIN));
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
confirmed_gone(struct procstat *ps, const struct kinfo_proc *kp,
    const struct kinfo_vmentry *kve, const struct file_id *exe)
{
	if ((kve->kve_status & KF_ATTR_VALID) == 0)
		return (false);
	if (exe != NULL && kve->kve_vn_fsid == exe->dev &&
	    kve->kve_vn_fileid == exe->ino)
		return (false);
	return (!library_present(ps, kp, kve->kve_vn_fsid,
	    kve->kve_vn_fileid));
}

/* Whether the file of that identity is on the list already. */
static bool
listed(const struct gone_files *gone, uint64_t dev, uint64_t ino)
{
	unsigned int i;

	for (i = 0; i < gone->n; i++)
		if (gone->file[i].dev == dev && gone->file[i].ino == ino)
			return (true);
	return (false);
}

/*
 * What has the path of a gone file now.  Unknown without a path, for a
 * process that names files from another root, where the lookup could wait
 * on a file system that may never answer, and when it fails otherwise.
 * lstat: a symbolic link put in the file's place is another file, and is
 * not followed.  The file itself found there again is no verdict either.
 */
static int
path_state(struct procstat *ps, struct kinfo_proc *kp,
    struct gone_files *gone, const char *path, uint64_t dev, uint64_t ino)
{
	struct stat st;

	if (path == NULL || path[0] != '/')
		return (GONE_UNKNOWN);
	if (gone->same_root == -1)
		gone->same_root = proc_shares_root(ps, kp);
	if (!gone->same_root)
		return (GONE_UNKNOWN);
	switch (lookup_stat(ps, path, dev, &st)) {
	case LOOKUP_DONE:
		return ((uint64_t)st.st_dev == dev && (uint64_t)st.st_ino == ino ?
		    GONE_UNKNOWN : GONE_REPLACED);
	case LOOKUP_FAILED:
		return (errno == ENOENT || errno == ENOTDIR ? GONE_DELETED :
		    GONE_UNKNOWN);
	}
	return (GONE_UNKNOWN);
}

/*
 * Lists a gone file, with its state; its path is kept up to the room
 * there is, cut between characters.  False when the list is full: it is
 * marked cut.
 */
static bool
add_gone(struct procstat *ps, struct kinfo_proc *kp, struct gone_files *gone,
    const char *path, uint64_t dev, uint64_t ino)
{
	struct gone_file *f;
	char *kept;
	size_t len;

	if (gone->n == GONE_FILES_MAX) {
		gone->cut = true;
		return (false);
	}
	kept = gone->paths[gone->n];
	f = &gone->file[gone->n++];
	f->dev = dev;
	f->ino = ino;
	f->state = path_state(ps, kp, gone, path, dev, ino);
	f->path = NULL;
	if (path != NULL && path[0] != '\0') {
		len = strnlen(path, GONE_PATH_SIZE);
		if (len == GONE_PATH_SIZE)
			len = whole_characters(path, GONE_PATH_SIZE - 1);
		memcpy(kept, path, len);
		kept[len] = '\0';
		f->path = kept;
	}
	return (true);
}

/*
 * Whether the memory map has an executable file that is gone; -1.  path
 * is the executable's (NULL: it is gone itself).  Without gone, the walk
 * stops at the first such file; with it, each is listed there, up to the
 * most it holds.
 */
static int
map_has_gone(struct procstat *ps, struct kinfo_proc *kp, const char *path,
    struct gone_files *gone)
{
	struct kinfo_vmentry *vmmap, *kve;
	unsigned int count, i;
	struct file_id exe;
	int found, have_exe;

	vmmap = procstat_getvmmap(ps, kp, &count);
	if (vmmap == NULL)
		return (-1);
	found = 0;
	have_exe = path != NULL ? -1 : 0;	/* -1: not asked yet */
	for (i = 0; i < count && (!found || gone != NULL); i++) {
		kve = &vmmap[i];
		if (!nameless(kve) || (gone != NULL &&
		    listed(gone, kve->kve_vn_fsid, kve->kve_vn_fileid)))
			continue;
		if (have_exe == -1)
			have_exe = executable_identity(ps, kp, path, &exe) == 0;
		if (!confirmed_gone(ps, kp, kve, have_exe ? &exe : NULL))
			continue;
		found = 1;
		if (gone != NULL && !add_gone(ps, kp, gone, gone_path_of(kve),
		    kve->kve_vn_fsid, kve->kve_vn_fileid))
			break;
	}
	procstat_freevmmap(ps, vmmap);
	return (found);
}

/*
 * The files that are gone of a process whose executable is gone: the
 * executable first, then, unless -b, those of its memory map.
 */
static void
list_binary(struct procstat *ps, struct kinfo_proc *kp,
    struct gone_files *gone)
{
	char name[PATH_MAX];
	uint64_t dev, ino;

	if (proc_exe_file(ps, kp, &dev, &ino, name, sizeof(name)) == 0)
		(void)add_gone(ps, kp, gone, name, dev, ino);
	if (!settings.only_binaries)
		(void)map_has_gone(ps, kp, NULL, gone);
}

/* An empty list. */
static void
clear_gone(struct gone_files *gone)
{
	if (gone == NULL)
		return;
	gone->n = 0;
	gone->cut = false;
	gone->same_root = -1;
}

/* The verdict on the program that kp's process runs, or WHY_AGAIN. */
static int
examine(struct procstat *ps, struct kinfo_proc *kp, char *text, size_t size,
    struct gone_files *gone)
{
	int found;

	clear_gone(gone);
	/* The executable's path, kept for a row of a library that is gone. */
	if (query_text(ps, KERN_PROC_PATHNAME, kp, text, size) == -1) {
		if (errno == ENOENT)
			return (binary_gone(ps, kp, text, size, gone));
		unexamined_note(ps, kp, QUERY_PATH, errno);
		return (WHY_NONE);
	}
	if (settings.only_binaries)
		return (WHY_NONE);
	found = map_has_gone(ps, kp, text, gone);
	if (found == -1)
		unexamined_note(ps, kp, QUERY_MAP, errno);
	/* A verdict on the process listed, not on one that took its id. */
	if (found == 1)
		return (confirmed(ps, kp, WHY_SO));
	return (WHY_NONE);
}

int
check_process(struct procstat *ps, struct kinfo_proc *kp, char *text,
    size_t size, struct gone_files *gone)
{
	int round, why;

	clear_gone(gone);
	if (left_out(kp))
		return (WHY_NONE);
	/*
	 * An exec between the listing and the last read makes a verdict
	 * that mixes two programs: the probe tells, and gives the name of
	 * the new one, which is then examined afresh.
	 */
	for (round = 0; round < CHECK_ROUNDS; round++) {
		why = examine(ps, kp, text, size, gone);
		if (why == WHY_NONE)
			clear_gone(gone);
		if (why != WHY_AGAIN)
			return (why);
	}
	/* Not examined: no all-clear for it. */
	clear_gone(gone);
	unexamined_note(ps, kp, QUERY_MAP, EBUSY);
	return (WHY_NONE);
}
