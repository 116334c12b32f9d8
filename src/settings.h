/*
 * Run settings: filled in once at start-up from the command line and the
 * environment, read-only afterwards (except header_shown, which the report
 * sets when it prints the header).
 */
#ifndef STALEWATCH_SETTINGS_H
#define STALEWATCH_SETTINGS_H

#include <stdint.h>

struct settings {
	int32_t termwidth;	/* display width in columns, 0: no limit */
	bool only_binaries;	/* -b: skip the memory map */
	bool header_shown;	/* -H, or the header has been printed */
	bool filter_jail;	/* -j given */
	int32_t filter_jid;	/* jail id to match */
	bool filter_user;	/* -u given */
	int32_t filter_uid;	/* user id to match, bit for bit */
};

extern struct settings settings;

/* Parses a whole decimal number; false if text is empty or has junk. */
bool parse_number(const char *text, int32_t *value);

#endif
