/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The report: the libxo document, its header and rows (of processes, or
 * of services with -s), the fitting of rows to the display width, and the
 * usage message.
 */
#ifndef STALEWATCH_REPORT_H
#define STALEWATCH_REPORT_H

#include <stddef.h>
#include <stdint.h>

#include "check.h"
#include "procinfo.h"

/* Opens the document: its version, the container and the list of rows. */
void report_begin(void);

/*
 * When set, called by report_begin() inside the container, before the
 * list: the kernel's part (-k).
 */
extern void (*report_before_list)(void);

/*
 * Closes the document and finishes libxo.  A report that did not reach
 * its reader is no all-clear: -1, after a warning naming stdout, when
 * anything could not be written; else 0.
 */
int report_end(void);

/* Writes the usage message (through libxo, as an error). */
void report_usage(void);

/* Writes the usage message, finishes libxo and exits with status 1. */
[[noreturn]] void usage(void);

/*
 * Writes one report row for kp (and the header before the first).  The
 * user and command names and text are made fit for display first: safe,
 * and cut between characters where the style shows columns.  The row
 * carries the list of the n files that are gone (none when n is 0), in
 * the encoded styles alone.
 */
void report_process(const struct kinfo_proc *kp, int why, const char *text,
    const struct gone_file *files, unsigned int n);

/*
 * Writes one row of the given values exactly as they are: the header
 * before the first row (unless -H), one libxo instance, the last column
 * fitted to the display width in text style.
 */
void report_row(pid_t pid, int jid, uid_t uid, const char *user,
    const char *command, int why, const char *text);

/* One row of the report by service, as the service table has it. */
struct service_row {
	const char *name;	/* as the system names it, not yet safe; for
				   a user's unit with its manager's name */
	const char *unit;	/* the name without the manager's: what the
				   other styles call it */
	const char *kind;	/* "unit", "rc", ... */
	int jid;
	const char *root;	/* the root it runs below ("/": the tool's),
				   or NULL when not known */
	bool has_uid;		/* a user's unit: of the manager of uid */
	uid_t uid;
	unsigned int procs;	/* its stale processes */
	unsigned int why;	/* 1 << WHY_* for each reason among them */
	const pid_t *pids;	/* their ids, npids of them */
	unsigned int npids;
	const struct gone_file *files;	/* their files that are gone, */
	unsigned int nfiles;		/* nfiles of them */
};

/*
 * Writes the rows of the report by service, in the order given, with
 * their header (unless -H) when there is any row.  The text style has a
 * ROOT column when a row's root is not the tool's own.
 */
void report_services(const struct service_row *rows, unsigned int n);

/* The display width from COLUMNS or the terminal; 0 when unknown. */
int32_t terminal_width(void);

#endif
