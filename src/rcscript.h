/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The pidfiles that an rc or init script names: what the service that
 * the script starts is to be found by.
 */
#ifndef STALEWATCH_RCSCRIPT_H
#define STALEWATCH_RCSCRIPT_H

#include <stddef.h>

/* The longest path of a pidfile that a script names. */
#define SCRIPT_PATH_MAX	1024

/* Called with each path; see script_pidfiles(). */
typedef void (*script_path_fn)(void *ctx, const char *path);

/*
 * Calls fn with each absolute path that the text of a script (len bytes)
 * gives a pidfile: the values of its PIDFILE= and pidfile= assignments
 * (the sysv and Debian way, and FreeBSD's rc.subr) and of its --pidfile
 * options (start-stop-daemon), as the shell would expand them with the
 * variables that the script set before ($NAME, ${NAME}, and ${NAME:-word}
 * and its kin).  A value that depends on anything else (a variable the
 * script did not set, a command's output) gives no path, nor does a
 * comment.
 */
void script_pidfiles(const char *text, size_t len, script_path_fn fn,
    void *ctx);

#endif
