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

/* Longest user name and argument text kept; a byte takes at most 4. */
#define USER_MAX_SHOWN	256
#define TEXT_MAX_SHOWN	1024
#define TEXT_BUFSIZE	(4 * TEXT_MAX_SHOWN + 1)
/* What a display shows of the user and command columns, in bytes. */
#define NAME_SHOWN	12

static char uid_text[UID_TEXT_SIZE];

/*
 * The code point of the UTF-8 sequence at s (at most avail bytes) in *cp,
 * and the sequence's length; 0 when the bytes there are not a valid,
 * shortest-form sequence of a Unicode scalar value.
 */
static size_t
utf8_sequence(const unsigned char *s, size_t avail, uint32_t *cp)
{
	size_t len, i;
	uint32_t c;

	if (s[0] < 0x80) {
		*cp = s[0];
		return (1);
	}
	if (s[0] >= 0xc2 && s[0] <= 0xdf) {
		len = 2;
		c = s[0] & 0x1f;
	} else if (s[0] >= 0xe0 && s[0] <= 0xef) {
		len = 3;
		c = s[0] & 0x0f;
	} else if (s[0] >= 0xf0 && s[0] <= 0xf4) {
		len = 4;
		c = s[0] & 0x07;
	} else
		return (0);
	if (len > avail)
		return (0);
	for (i = 1; i < len; i++) {
		if ((s[i] & 0xc0) != 0x80)
			return (0);
		c = (c << 6) | (s[i] & 0x3f);
	}
	if ((len == 3 && c < 0x800) || (len == 4 && c < 0x10000) ||
	    c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
		return (0);
	*cp = c;
	return (len);
}

/* Whether a code point must not reach a terminal or a document as is. */
static bool
unsafe_code_point(uint32_t cp)
{
	return (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) ||
	    cp == 0xfffe || cp == 0xffff ||
	    (cp >= 0x202a && cp <= 0x202e) || (cp >= 0x2066 && cp <= 0x2069));
}

const char *
safe_text(const char *text, size_t maxlen, bool ascii, char *buf, size_t size)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t avail, i, n, len, need;
	uint32_t cp;

	avail = strnlen(text, maxlen);
	n = 0;
	for (i = 0; i < avail; i += len) {
		len = utf8_sequence(s + i, avail - i, &cp);
		if (len == 0) {
			len = 1;
			need = 4;
		} else
			need = unsafe_code_point(cp) || (ascii && cp >= 0x80) ?
			    4 * len : len;
		if (n + need >= size)
			break;
		if (need == len)
			memcpy(buf + n, s + i, len);
		else
			for (size_t k = 0; k < len; k++)
				snprintf(buf + n + 4 * k, 5, "\\%03o", s[i + k]);
		n += need;
	}
	buf[n] = '\0';
	return (buf);
}

/*
 * The length of the longest prefix of text, at most max bytes, that ends
 * between two characters and outside any escape that safe_text wrote.
 */
static size_t
unit_prefix(const char *text, size_t max)
{
	const unsigned char *s = (const unsigned char *)text;
	size_t i, len;
	uint32_t cp;

	for (i = 0; s[i] != '\0'; i += len) {
		if (s[i] == '\\' && s[i + 1] >= '0' && s[i + 1] <= '7' &&
		    s[i + 2] >= '0' && s[i + 2] <= '7' &&
		    s[i + 3] >= '0' && s[i + 3] <= '7')
			len = 4;
		else if ((len = utf8_sequence(s + i, strnlen(text + i, 4),
		    &cp)) == 0)
			len = 1;
		if (i + len > max)
			break;
	}
	return (i);
}

void
report_row(pid_t pid, int jid, uid_t uid, const char *user,
    const char *command, int why, const char *text)
{
	char argfmt[ARGFMT_SIZE];
	char cut[TEXT_BUFSIZE];
	uint32_t used;
	size_t n;
	int32_t room, precision;

	if (!settings.header_shown) {
		settings.header_shown = true;
		xo_emit("{Tw:/%5s}{Tw:/%5s}{Tw:/%-12.12s}{Tw:/%-12.12s}"
		    "{Tw:/%-3s}{T:/%s}\n",
		    "PID", "JID", "USER", "COMMAND", "WHY", "ARGUMENTS");
	}

	xo_open_instance("process");
	used = 0;
	used += (uint32_t)xo_emit("{kw:pid/%5d/%d}", (int)pid);
	used += (uint32_t)xo_emit("{w:jid/%5d/%d}", jid);
	used += (uint32_t)xo_emit("{e:uid/%d/%d}", (int)uid);
	used += (uint32_t)xo_emit("{w:user/%-12.12s/%s}", user);
	used += (uint32_t)xo_emit("{w:command/%-12.12s/%s}", command);
	used += (uint32_t)xo_emit("{w:why/%-3s/%s}",
	    why == WHY_BIN ? "bin" : ".so");

	if (settings.termwidth != 0 && xo_get_style(NULL) == XO_STYLE_TEXT) {
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
	} else
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
	size_t user_size, comm_size;
	bool ascii;

	pw = getpwuid(kp->ki_uid);
	if (pw != NULL)
		user = pw->pw_name;
	else {
		snprintf(uid_text, sizeof(uid_text), "%d", (int)kp->ki_uid);
		user = uid_text;
	}
	/*
	 * A display cuts the user and command columns to twelve bytes; cut
	 * them first where no character or escape is split.
	 */
	style = xo_get_style(NULL);
	user_size = sizeof(user_buf);
	comm_size = sizeof(comm_buf);
	if (style == XO_STYLE_TEXT || style == XO_STYLE_HTML)
		user_size = comm_size = NAME_SHOWN + 1;
	/*
	 * libxo converts text through the locale, which libxo has set from
	 * the environment; a locale of single bytes cannot show the rest.
	 */
	ascii = style == XO_STYLE_TEXT && MB_CUR_MAX == 1;
	/*
	 * Names and arguments are chosen by whoever started the process:
	 * make them safe for every style and every libxo before they go out.
	 */
	report_row(kp->ki_pid, kp->ki_jid, kp->ki_uid,
	    safe_text(user, USER_MAX_SHOWN, ascii, user_buf, user_size),
	    safe_text(kp->ki_comm, sizeof(kp->ki_comm), ascii, comm_buf,
	    comm_size),
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
