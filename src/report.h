#ifndef STALEWATCH_REPORT_H
#define STALEWATCH_REPORT_H

#include <stddef.h>
#include <stdint.h>

#include "procinfo.h"

/* Why a process is reported. */
#define WHY_BIN	0	/* the executable itself is gone */
#define WHY_SO	1	/* another executable mapping is gone */

/*
 * Writes one report row for kp (and the header before the first).  The
 * user and command names and text are made safe first.
 */
void report_process(const struct kinfo_proc *kp, int why, const char *text);

/*
 * Writes one row of the given values exactly as they are: the header
 * before the first row, one libxo instance, the last column fitted to
 * the display width in text style.
 */
void report_row(pid_t pid, int jid, uid_t uid, const char *user,
    const char *command, int why, const char *text);

/*
 * Copies text into buf (size bytes) so that any terminal and any libxo
 * style carries it intact and inert: bytes that are not part of valid
 * UTF-8, control characters, DEL, the C1 controls, U+FFFE, U+FFFF and the
 * bidirectional embedding, override and isolate controls are written as
 * a backslash and three octal digits per byte; with ascii set, so is
 * every byte outside ASCII.  At most maxlen bytes of text are read; buf
 * needs 4 * maxlen + 1 bytes to hold them all.  A sequence that does not
 * fit whole is left out with everything after it.
 */
const char *safe_text(const char *text, size_t maxlen, bool ascii, char *buf,
    size_t size);

/* The display width from COLUMNS or the terminal; 0 when unknown. */
int32_t terminal_width(void);

#endif
