/*
 * Report rows: the column header, one libxo instance per stale process,
 * and the fitting of the last column to the display width.
 */
#include <sys/ioctl.h>
#include <inttypes.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "report.h"
#include "settings.h"
#include "xo_c.h"

#define ARGFMT_SIZE	28
/* Room for any 32-bit id as signed decimal text: "-2147483648" and a NUL. */
#define UID_TEXT_SIZE	12

/* Longest user and command names kept for display; columns are 12 wide. */
#define NAME_MAX_SHOWN	64
#define TEXT_MAX_SHOWN	1024

static char uid_text[UID_TEXT_SIZE];

/*
 * A process's names and arguments are chosen by whoever started it.  For a
 * display, write control characters as a backslash and three octal digits
 * so that they cannot move the cursor or forge rows.  Returns text itself
 * when nothing needs changing, else buf.
 */
static const char *
shown(const char *text, char *buf, size_t size, size_t maxlen)
{
	const unsigned char *s;
	size_t n, i;

	for (s = (const unsigned char *)text; *s != '\0'; s++)
		if (*s < 0x20 || *s == 0x7f)
			break;
	if (*s == '\0')
		return (text);
	n = 0;
	for (s = (const unsigned char *)text, i = 0;
	    *s != '\0' && i < maxlen; s++, i++) {
		if (*s < 0x20 || *s == 0x7f) {
			if (n + 4 >= size)
				break;
			snprintf(buf + n, 5, "\\%03o", *s);
			n += 4;
		} else {
			if (n + 1 >= size)
				break;
			buf[n++] = (char)*s;
		}
	}
	buf[n] = '\0';
	return (buf);
}

void
report_process(const struct kinfo_proc *kp, int why, const char *text)
{
	char argfmt[ARGFMT_SIZE];
	char user_buf[4 * NAME_MAX_SHOWN + 1];
	char comm_buf[4 * (sizeof(kp->ki_comm)) + 1];
	char text_buf[4 * TEXT_MAX_SHOWN + 1];
	const char *user, *comm;
	struct passwd *pw;
	uint32_t used;
	int32_t room, precision;
	xo_style_t style;
	bool display;

	if (!settings.header_shown) {
		settings.header_shown = true;
		xo_emit("{Tw:/%5s}{Tw:/%5s}{Tw:/%-12.12s}{Tw:/%-12.12s}"
		    "{Tw:/%-3s}{T:/%s}\n",
		    "PID", "JID", "USER", "COMMAND", "WHY", "ARGUMENTS");
	}

	pw = getpwuid(kp->ki_uid);
	if (pw != NULL)
		user = pw->pw_name;
	else {
		snprintf(uid_text, sizeof(uid_text), "%d", (int)kp->ki_uid);
		user = uid_text;
	}
	comm = kp->ki_comm;

	style = xo_get_style(NULL);
	display = style == XO_STYLE_TEXT || style == XO_STYLE_HTML;
	if (display) {
		user = shown(user, user_buf, sizeof(user_buf), NAME_MAX_SHOWN);
		comm = shown(comm, comm_buf, sizeof(comm_buf), sizeof(kp->ki_comm));
		text = shown(text, text_buf, sizeof(text_buf), TEXT_MAX_SHOWN);
	}

	xo_open_instance("process");
	used = 0;
	used += (uint32_t)xo_emit("{kw:pid/%5d/%d}", (int)kp->ki_pid);
	used += (uint32_t)xo_emit("{w:jid/%5d/%d}", (int)kp->ki_jid);
	used += (uint32_t)xo_emit("{e:uid/%d/%d}", (int)kp->ki_uid);
	used += (uint32_t)xo_emit("{w:user/%-12.12s/%s}", user);
	used += (uint32_t)xo_emit("{w:command/%-12.12s/%s}", comm);
	used += (uint32_t)xo_emit("{w:why/%-3s/%s}",
	    why == WHY_BIN ? "bin" : ".so");

	if (settings.termwidth != 0 && style == XO_STYLE_TEXT) {
		room = (int32_t)((uint32_t)settings.termwidth - used);
		precision = room >= 10 ? room : 9;
		snprintf(argfmt, sizeof(argfmt), "{:arguments/%%.%ds}\n",
		    (int)precision);
		xo_emit(argfmt, text);
	} else
		xo_emit("{:arguments/%s}\n", text);
	xo_close_instance("process");
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
