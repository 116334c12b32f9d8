/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Report rows: the document, the column header, one libxo instance per
 * stale process, and the fitting of the last column to the display width.
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
/* Room for any 32-bit id as decimal text and a NUL. */
#define UID_TEXT_SIZE	12

/* Longest user name and argument text kept; a byte takes at most 4. */
#define USER_MAX_SHOWN	256
#define TEXT_MAX_SHOWN	1024
#define TEXT_BUFSIZE	(4 * TEXT_MAX_SHOWN + 1)

static bool header_written;
static char uid_text[UID_TEXT_SIZE];

void (*report_before_list)(void);

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

/* The arguments, cut to what is left of the display's width. */
static void
emit_fitted(uint32_t used, const char *text)
{
	char argfmt[ARGFMT_SIZE];
	char cut[TEXT_BUFSIZE];
	int32_t room, precision;
	size_t n;

	room = (int32_t)((uint32_t)settings.termwidth - used);
	precision = room >= 10 ? room : 9;
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

void
report_row(pid_t pid, int jid, uid_t uid, const char *user,
    const char *command, int why, const char *text)
{
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
	if (settings.termwidth != 0 && xo_get_style(NULL) == XO_STYLE_TEXT)
		emit_fitted(used, text);
	else
		xo_emit("{:arguments/%s}\n", text);
	xo_close_instance("process");
}

void
report_process(const struct kinfo_proc *kp, int why, const char *text)
{
	char user_buf[4 * USER_MAX_SHOWN + 1];
	char comm_buf[4 * sizeof(kp->ki_comm) + 1];
	char text_buf[TEXT_BUFSIZE];
	const char *user;
	struct passwd *pw;
	xo_style_t style;
	size_t name_size, user_len;
	bool ascii;

	pw = getpwuid(kp->ki_uid);
	if (pw != NULL)
		user = pw->pw_name;
	else {
		snprintf(uid_text, sizeof(uid_text), "%u",
		    (unsigned int)kp->ki_uid);
		user = uid_text;
	}
	/*
	 * Make the texts fit for display, once: names and arguments are
	 * chosen by whoever started the process, so they are made safe for
	 * every style and every libxo; where the style shows columns, user
	 * and command are cut to their width, never inside a character
	 * written as it is or inside an escape.  In the text style libxo
	 * converts text to the locale's character set (libxo has set the
	 * locale from the environment): one that is not UTF-8 gets every
	 * byte outside ASCII escaped, since it might show them as other
	 * characters, or as its controls.
	 */
	style = xo_get_style(NULL);
	name_size = style == XO_STYLE_TEXT || style == XO_STYLE_HTML ?
	    NAME_WIDTH + 1 : sizeof(user_buf);
	ascii = style == XO_STYLE_TEXT && !locale_is_utf8();
	/* A longer name is cut here, between characters. */
	user_len = strnlen(user, USER_MAX_SHOWN + 1);
	if (user_len > USER_MAX_SHOWN)
		user_len = whole_characters(user, USER_MAX_SHOWN);
	report_row(kp->ki_pid, kp->ki_jid, kp->ki_uid,
	    safe_text(user, user_len, ascii, user_buf, name_size),
	    safe_text(kp->ki_comm, sizeof(kp->ki_comm), ascii, comm_buf,
	    name_size < sizeof(comm_buf) ? name_size : sizeof(comm_buf)),
	    why, safe_text(text, TEXT_MAX_SHOWN, ascii, text_buf,
	    sizeof(text_buf)));
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
