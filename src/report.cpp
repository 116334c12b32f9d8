/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Report rows: the document, the column header, one libxo instance per
 * stale process or per service, and the fitting of the last column to
 * the display width.
 */
#include <sys/ioctl.h>
#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "compat.h"
#include "report.h"
#include "settings.h"
#include "text.h"
#include "xo_c.h"

/* The widths of the text columns; the last one takes what is left. */
#define ID_WIDTH	5	/* PID and JID */
#define NAME_WIDTH	12	/* USER and COMMAND */
#define WHY_WIDTH	3

#define STR(n)		#n
#define XSTR(n)		STR(n)
#define ID_FMT		"%" XSTR(ID_WIDTH)
#define NAME_FMT	"%-" XSTR(NAME_WIDTH) "." XSTR(NAME_WIDTH) "s"
#define WHY_FMT		"%-" XSTR(WHY_WIDTH) "s"

/* The fitted arguments descriptor, a ten-digit precision included. */
#define ARGFMT_SIZE	28
/* A descriptor with a ten-digit width. */
#define FMT_SIZE	64
/* Room for any 32-bit id as decimal text and a NUL. */
#define UID_TEXT_SIZE	12

/* Longest user name and argument text kept; a byte takes at most 4. */
#define USER_MAX_SHOWN	256
#define TEXT_MAX_SHOWN	1024
#define TEXT_BUFSIZE	(4 * TEXT_MAX_SHOWN + 1)

/* A service's name as its table keeps it, a root's path, made safe. */
#define SERVICE_NAME_MAX	256
#define SERVICE_ROOT_MAX	1024
#define SERVICE_SHOWN_SIZE	(4 * SERVICE_ROOT_MAX + 1)
/* What the text columns after a service's name take: " JID PROCS bin,.so". */
#define AFTER_NAME	(1 + 5 + 1 + 5 + 1 + 7)

static bool header_written;
static char uid_text[UID_TEXT_SIZE];

void (*report_before_list)(void);

/*
 * How much of the last column the text style shows, once the other
 * columns took used of the display's width: what is left, but never less
 * than 9 characters, so that a narrow terminal gets a long row rather
 * than none of the column.  0: all of it (no width, or another style).
 */
static int32_t
fitted_precision(uint32_t used)
{
	int32_t room;

	if (settings.termwidth == 0 || xo_get_style(NULL) != XO_STYLE_TEXT)
		return (0);
	room = (int32_t)((uint32_t)settings.termwidth - used);
	return (room >= 10 ? room : 9);
}

void
report_begin(void)
{
	xo_set_version("2");
	xo_open_container("stalewatch");
	if (report_before_list != NULL)
		report_before_list();
	xo_open_list(settings.services ? "service" : "process");
}

int
report_end(void)
{
	bool written;
	int saved;

	xo_close_list(settings.services ? "service" : "process");
	xo_close_container("stalewatch");
	errno = 0;
	written = xo_finish() >= 0;
	written = fflush(stdout) == 0 && written && !ferror(stdout);
	saved = errno != 0 ? errno : EIO;
	if (written)
		return (0);
	/*
	 * xo_warn, not xo_err: libxo has finished the document, and its
	 * xo_err would write into it again.
	 */
	errno = saved;
	xo_warn("stdout");
	return (-1);
}

void
report_usage(void)
{
	xo_error("usage: %s [--libxo] [-bHksw] [-j jail] [-u [user]] "
	    "[proc ...]\n", getprogname());
}

void
usage(void)
{
	report_usage();
	xo_finish();
	exit(1);
}

/* The arguments, cut to the precision that fits. */
static void
emit_fitted(int32_t precision, const char *text)
{
	char argfmt[ARGFMT_SIZE];
	char cut[TEXT_BUFSIZE];
	size_t n;

	snprintf(argfmt, sizeof(argfmt), "{:arguments/%%.%ds}\n",
	    (int)precision);
	/* Cut it here, where no escape or character is split. */
	n = unit_prefix(text, (uint32_t)precision < sizeof(cut) - 1 ?
	    (size_t)precision : sizeof(cut) - 1);
	if (text[n] != '\0') {
		memcpy(cut, text, n);
		cut[n] = '\0';
		text = cut;
	}
	xo_emit(argfmt, text);
}

static const char *
state_name(int state)
{
	switch (state) {
	case GONE_DELETED:
		return ("deleted");
	case GONE_REPLACED:
		return ("replaced");
	default:
		return ("unknown");
	}
}

/*
 * The list of files that are gone, only when there is one: its fields
 * are the encoded styles' alone, so that text and HTML rows stay as they
 * are.  A path is made safe as the other fields are.
 */
static void
emit_files(const struct gone_file *files, unsigned int n)
{
	char shown[TEXT_BUFSIZE];
	unsigned int i;

	if (n == 0)
		return;
	xo_open_list("file");
	for (i = 0; i < n; i++) {
		xo_open_instance("file");
		if (files[i].path != NULL)
			xo_emit("{e:path/%s}", display_text(files[i].path,
			    TEXT_MAX_SHOWN, shown, sizeof(shown)));
		xo_emit("{e:device/%ju}", (uintmax_t)files[i].dev);
		xo_emit("{e:inode/%ju}", (uintmax_t)files[i].ino);
		xo_emit("{e:state/%s}", state_name(files[i].state));
		xo_close_instance("file");
	}
	xo_close_list("file");
}

/* A row up to its last column: report_row() but for closing it. */
static void
open_row(pid_t pid, int jid, uid_t uid, const char *user,
    const char *command, int why, const char *text)
{
	int32_t precision;
	uint32_t used;

	if (!header_written && !settings.no_header) {
		header_written = true;
		xo_emit("{Tw:/" ID_FMT "s}{Tw:/" ID_FMT "s}{Tw:/" NAME_FMT "}"
		    "{Tw:/" NAME_FMT "}{Tw:/" WHY_FMT "}{T:/%s}\n",
		    "PID", "JID", "USER", "COMMAND", "WHY", "ARGUMENTS");
	}

	xo_open_instance("process");
	used = 0;
	used += (uint32_t)xo_emit("{kw:pid/" ID_FMT "d/%d}", (int)pid);
	used += (uint32_t)xo_emit("{w:jid/" ID_FMT "d/%d}", jid);
	used += (uint32_t)xo_emit("{e:uid/%u/%u}", (unsigned int)uid);
	used += (uint32_t)xo_emit("{w:user/" NAME_FMT "/%s}", user);
	used += (uint32_t)xo_emit("{w:command/" NAME_FMT "/%s}", command);
	used += (uint32_t)xo_emit("{w:why/" WHY_FMT "/%s}",
	    why == WHY_BIN ? "bin" : ".so");
	precision = fitted_precision(used);
	if (precision != 0)
		emit_fitted(precision, text);
	else
		xo_emit("{:arguments/%s}\n", text);
}

void
report_row(pid_t pid, int jid, uid_t uid, const char *user,
    const char *command, int why, const char *text)
{
	open_row(pid, jid, uid, user, command, why, text);
	xo_close_instance("process");
}

void
report_process(const struct kinfo_proc *kp, int why, const char *text,
    const struct gone_file *files, unsigned int n)
{
	char user_buf[4 * USER_MAX_SHOWN + 1];
	char comm_buf[4 * sizeof(kp->ki_comm) + 1];
	char text_buf[TEXT_BUFSIZE];
	const char *user;
	struct passwd *pw;
	xo_style_t style;
	size_t name_size, user_len;

	pw = getpwuid(kp->ki_uid);
	if (pw != NULL)
		user = pw->pw_name;
	else {
		snprintf(uid_text, sizeof(uid_text), "%u",
		    (unsigned int)kp->ki_uid);
		user = uid_text;
	}
	/*
	 * Make the texts fit for display, once (see display_text); where
	 * the style shows columns, user and command are cut to their width,
	 * never inside a character written as it is or inside an escape.
	 */
	style = xo_get_style(NULL);
	name_size = style == XO_STYLE_TEXT || style == XO_STYLE_HTML ?
	    NAME_WIDTH + 1 : sizeof(user_buf);
	/* A longer name is cut here, between characters. */
	user_len = strnlen(user, USER_MAX_SHOWN + 1);
	if (user_len > USER_MAX_SHOWN)
		user_len = whole_characters(user, USER_MAX_SHOWN);
	open_row(kp->ki_pid, kp->ki_jid, kp->ki_uid,
	    display_text(user, user_len, user_buf, name_size),
	    display_text(kp->ki_comm, sizeof(kp->ki_comm), comm_buf,
	    name_size < sizeof(comm_buf) ? name_size : sizeof(comm_buf)),
	    why, display_text(text, TEXT_MAX_SHOWN, text_buf,
	    sizeof(text_buf)));
	emit_files(files, n);
	xo_close_instance("process");
}

/*
 * A service's name as shown: made safe, and in the text style cut to
 * precision display columns (unless 0) between characters.
 */
static const char *
shown_name(const char *name, int32_t precision, char *buf)
{
	display_text(name, SERVICE_NAME_MAX, buf, SERVICE_SHOWN_SIZE);
	if (precision > 0)
		buf[column_prefix(buf, (size_t)precision)] = '\0';
	return (buf);
}

/* Whether the row runs below a root that is not the tool's own. */
static bool
other_root(const struct service_row *r)
{
	return (r->root != NULL && strcmp(r->root, "/") != 0);
}

/*
 * The widths, in display columns, of the name column (its title's, or
 * the longest name's) and of the root column (0: there is none).
 */
static void
column_widths(const struct service_row *rows, unsigned int n,
    int32_t precision, size_t *name_width, size_t *root_width)
{
	char buf[SERVICE_SHOWN_SIZE];
	unsigned int i;
	size_t w;

	*name_width = strlen("SERVICE");
	*root_width = 0;
	for (i = 0; i < n; i++) {
		w = text_columns(shown_name(rows[i].name, precision, buf));
		if (w > *name_width)
			*name_width = w;
		if (!other_root(&rows[i]))
			continue;
		display_text(rows[i].root, SERVICE_ROOT_MAX, buf, sizeof(buf));
		if (text_columns(buf) > *root_width)
			*root_width = text_columns(buf);
	}
	if (*root_width > 0 && *root_width < strlen("ROOT"))
		*root_width = strlen("ROOT");
}

static const char *
why_text(unsigned int why)
{
	if (why == (1u << WHY_BIN | 1u << WHY_SO))
		return ("bin,.so");
	return (why == 1u << WHY_BIN ? "bin" : ".so");
}

/* One row: a service and its processes. */
static void
emit_service(const struct service_row *r, size_t width, int32_t precision,
    bool root_column)
{
	char fmt[FMT_SIZE], buf[SERVICE_SHOWN_SIZE];
	unsigned int i;

	xo_open_instance("service");
	if (r->unit != r->name) {
		/* The text shows a user's unit with its manager. */
		xo_emit("{ke:name/%s}", display_text(r->unit,
		    SERVICE_NAME_MAX, buf, sizeof(buf)));
		snprintf(fmt, sizeof(fmt), "{dw:name/%%-%zus}", width);
	} else
		snprintf(fmt, sizeof(fmt), "{kw:name/%%-%zus/%%s}", width);
	xo_emit(fmt, shown_name(r->name, precision, buf));
	xo_emit("{e:kind/%s}", r->kind);
	if (r->has_uid)
		xo_emit("{e:uid/%u}", (unsigned int)r->uid);
	xo_emit("{w:jid/%5d/%d}{dw:procs/%5u}", r->jid, r->procs);
	if (r->root != NULL)
		display_text(r->root, SERVICE_ROOT_MAX, buf, sizeof(buf));
	if (root_column) {
		xo_emit("{w:why/%-7s/%s}", why_text(r->why));
		xo_emit("{:root/%s}\n", r->root != NULL ? buf : "-");
	} else {
		xo_emit("{:why/%s}\n", why_text(r->why));
		if (r->root != NULL)
			xo_emit("{e:root/%s}", buf);
	}
	for (i = 0; i < r->npids; i++)
		xo_emit("{el:pid/%d}", (int)r->pids[i]);
	emit_files(r->files, r->nfiles);
	xo_close_instance("service");
}

void
report_services(const struct service_row *rows, unsigned int n)
{
	size_t width, root_width;
	char fmt[FMT_SIZE];
	int32_t precision;
	unsigned int i;

	if (n == 0)
		return;
	/* The name is the column cut to the width: the root is kept whole. */
	column_widths(rows, n, 0, &width, &root_width);
	precision = fitted_precision(AFTER_NAME +
	    (root_width > 0 ? 1 + (uint32_t)root_width : 0));
	if (precision > 0)
		column_widths(rows, n, precision, &width, &root_width);
	if (!settings.no_header) {
		snprintf(fmt, sizeof(fmt), "{Tw:/%%-%zus}{Tw:/%%5s}{Tw:/%%5s}",
		    width);
		xo_emit(fmt, "SERVICE", "JID", "PROCS");
		if (root_width > 0)
			xo_emit("{Tw:/%-7s}{T:/%s}\n", "WHY", "ROOT");
		else
			xo_emit("{T:/%s}\n", "WHY");
	}
	for (i = 0; i < n; i++)
		emit_service(&rows[i], width, precision, root_width > 0);
}

int32_t
terminal_width(void)
{
	struct winsize ws;
	const char *columns;
	int32_t width;

	columns = getenv("COLUMNS");
	if (columns != NULL && parse_number(columns, &width) && width >= 1)
		return (width);

	memset(&ws, 0, sizeof(ws));
	if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 ||
	    ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 ||
	    ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) == 0)
		return (ws.ws_col);
	return (0);
}
