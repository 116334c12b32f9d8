/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * stalewatch: list the processes that still run code from an executable
 * or shared library that has been deleted or replaced.
 */
#include <pwd.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include "procinfo.h"
#include "report.h"
#include "settings.h"
#include "walk.h"
#include "xo_c.h"

/* getopt must stop at the first operand, as POSIX says. */
#ifdef __GLIBC__
#define OPTIONS "+bHj:ksu:w"
#else
#define OPTIONS "bHj:ksu:w"
#endif

static void
set_jail(const char *arg)
{
	intmax_t jid;

	settings.filter_jail = true;
	switch (parse_bounded(arg, INT32_MIN, INT32_MAX, &jid)) {
	case 1:
		if (jid < 0)
			usage();
		settings.filter_jid = (int32_t)jid;
		return;
	case -1:
		xo_warnx("%s: no jail has that id", arg);
		usage();
	}
	settings.filter_jid = jail_getid(arg);
	if (settings.filter_jid == -1)
		xo_errx(1, "jail \"%s\" not found", arg);
}

static void
set_user(const char *arg)
{
	struct passwd *pw;
	intmax_t uid;

	settings.filter_user = true;
	/* -2 is the same user as 4294967294, as a 32-bit id. */
	switch (parse_bounded(arg, INT32_MIN, UINT32_MAX, &uid)) {
	case 1:
		settings.filter_uid = (uint32_t)uid;
		return;
	case -1:
		xo_warnx("%s: no user has that id", arg);
		usage();
	}
	pw = getpwnam(arg);
	if (pw == NULL)
		xo_errx(1, "user \"%s\" not found", arg);
	settings.filter_uid = (uint32_t)pw->pw_uid;
}

int
main(int argc, char **argv)
{
	int ch;

	settings.termwidth = terminal_width();
	xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
	argc = xo_parse_args(argc, argv);
	if (argc < 0)
		exit(1);

	while ((ch = getopt(argc, argv, OPTIONS)) != -1) {
		switch (ch) {
		case 'b':
			settings.only_binaries = true;
			break;
		case 'H':
			settings.no_header = true;
			break;
		case 'j':
			set_jail(optarg);
			break;
		case 'k':
			settings.kernel = true;
			break;
		case 's':
			settings.services = true;
			break;
		case 'u':
			set_user(optarg);
			break;
		case 'w':
			settings.termwidth = 0;
			break;
		default:
			usage();
		}
	}

	return (walk_processes(argc, argv, optind));
}
