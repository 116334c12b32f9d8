/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The kernel's status (-k): whether the running kernel is the one that
 * is installed.  No restart of processes replaces the kernel; a status
 * other than current and unknown means: reboot.
 */
#ifndef STALEWATCH_KERNEL_H
#define STALEWATCH_KERNEL_H

#include <stddef.h>

#define KERNEL_UNKNOWN	0	/* no image could be read: never current */
#define KERNEL_CURRENT	1	/* the newest installed, the same build */
#define KERNEL_REBUILT	2	/* another build of the running release is
				   installed (FreeBSD: another version, not
				   a later one) */
#define KERNEL_NEWER	3	/* a later release is installed */
#define KERNEL_REMOVED	4	/* the running release's modules are gone */

/* How the installed kernel is found. */
#define KERNEL_BY_VMLINUZ	1	/* Linux: /boot/vmlinuz-RELEASE and
					   the x86 boot header of each image */
#define KERNEL_BY_LOADER	2	/* FreeBSD: loader.conf names the
					   kernel, its what(1) string has the
					   version */

/* Room for a release, a path below /boot, a version text, a reason. */
#define KERNEL_RELEASE_SIZE	256
#define KERNEL_PATH_SIZE	1024
#define KERNEL_TEXT_SIZE	512
#define KERNEL_REASON_SIZE	(KERNEL_PATH_SIZE + 64)

/* What the platform says of the running kernel. */
struct kernel_running {
	int method;			/* KERNEL_BY_* */
	char release[KERNEL_RELEASE_SIZE];	/* uname -r, kern.osrelease;
					   empty when unknown */
	char build[KERNEL_TEXT_SIZE];	/* uname -v, where builds are
					   compared; else empty */
	bool modular;			/* it loads modules from the folder
					   of its release (Linux) */
	const char *root;		/* the system whose /boot is read: ""
					   for this one */
	const char *unknowable;		/* why the installed kernel cannot be
					   known here (inside a jail), or NULL */
};

/*
 * The platform query (kernel_linux.cpp, kernel_freebsd.cpp): fills kr.  On
 * failure the release is left empty.
 */
void kernel_running(struct kernel_running *kr);

struct kernel_state {
	int status;				/* KERNEL_* */
	char running[KERNEL_RELEASE_SIZE];	/* empty when unknown */
	char installed[KERNEL_RELEASE_SIZE];	/* empty when unknown */
	char reason[KERNEL_REASON_SIZE];	/* why unknown */
};

/* The status of the running kernel kr, from the files below kr->root. */
void kernel_check(const struct kernel_running *kr, struct kernel_state *ks);

/*
 * Writes the kernel's status into the open document: a container
 * "kernel" with running, installed (where known) and status, and reason
 * when unknown; in the text style one line.
 */
void kernel_report(void);

#endif
