/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Services found by their pidfiles: a *.pid file in the folders where
 * daemons leave them (/var/run, and /run on Linux), or in a folder right
 * below one, that holds a process id, below the root directory of the
 * process; the service is the rc or init script that names the pidfile.
 */
#ifndef STALEWATCH_PIDFILE_H
#define STALEWATCH_PIDFILE_H

#include <stddef.h>

#include "check.h"
#include "procinfo.h"
#include "unexamined.h"

/* The most pidfiles remembered of one root, and of all roots together. */
#define PIDFILE_MAX	1024
#define PIDFILE_POOL	8192
/* The most roots (the tool's own, jails', chroots') whose files are read. */
#define PIDFILE_ROOT_MAX 64
/* The most scripts read below one root, and the bytes read of each. */
#define SCRIPT_MAX	1024
#define SCRIPT_SIZE	65536

/*
 * The service of the nearest of kp's process and its ancestors below
 * process 1 and in its session, as procs (count entries) gives them,
 * whose id a pidfile below its root holds, unless the pidfile is older
 * than that process: the script in the root's rc folders whose text names
 * that pidfile, else the rc script of the pidfile's name (without .pid)
 * or of its folder's, when one exists, else the pidfile's name.  The name
 * into buf (size bytes) and SERVICE_RC; SERVICE_NONE with buf empty when
 * no pidfile names one.  In *root the root's path as the report shows it
 * ("/" for the tool's own), or NULL when the root could not be told.
 *
 * Only files that nobody but the root's owner could have written are
 * read, in folders that nobody else could write either.  The files of a
 * root are read when a process of it first asks, and each once per run;
 * a file that cannot be read names nothing.
 */
int pidfile_service(struct procstat *ps, const struct kinfo_proc *kp,
    const struct kinfo_proc *procs, unsigned int count, char *buf,
    size_t size, const char **root);

/* The processes whose root was not read: there were too many roots. */
extern struct pid_tally pidfile_roots_left_out;

/* Warns, after the report, of pidfiles and scripts that were not read. */
void pidfile_warn(void);

#endif
