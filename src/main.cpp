/*
 * stalewatch: list the processes that still run code from an executable
 * or shared library that has been deleted or replaced.
 */
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include "compat.h"
#include "procinfo.h"
#include "report.h"
#include "settings.h"
#include "walk.h"
#include "xo_c.h"

/* getopt must stop at the first operand, as POSIX says. */
#ifdef __GLIBC__
#define OPTIONS "+bHj:u:w"
#else
#define OPTIONS "bHj:u:w"
#endif

static void
set_jail(const char *arg)
{
	int32_t jid;

	settings.filter_jail = true;
	if (parse_number(arg, &jid)) {
		if (jid < 0)
			usage();
		settings.filter_jid = jid;
		return;
	}
	settings.filter_jid = jail_getid(arg);
	if (settings.filter_jid == -1)
		xo_errx(1, "jail \"%s\" not found", arg);
}

static void
set_user(const char *arg)
{
	struct passwd *pw;
	int32_t uid;

	settings.filter_user = true;
	if (parse_number(arg, &uid)) {
		settings.filter_uid = uid;
		return;
	}
	pw = getpwnam(arg);
	if (pw == NULL)
		xo_errx(1, "user \"%s\" not found", arg);
	settings.filter_uid = (int32_t)pw->pw_uid;
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
			settings.header_shown = true;
			break;
		case 'j':
			set_jail(optarg);
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
