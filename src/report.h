#ifndef STALEWATCH_REPORT_H
#define STALEWATCH_REPORT_H

#include <stdint.h>

#include "procinfo.h"

/* Why a process is reported. */
#define WHY_BIN	0	/* the executable itself is gone */
#define WHY_SO	1	/* another executable mapping is gone */

/* Writes one report row (and the header before the first). */
void report_process(const struct kinfo_proc *kp, int why, const char *text);

/* The display width from COLUMNS or the terminal; 0 when unknown. */
int32_t terminal_width(void);

#endif
