/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Run settings: filled in once at start-up from the command line and the
 * environment, read-only afterwards.
 */
#ifndef STALEWATCH_SETTINGS_H
#define STALEWATCH_SETTINGS_H

#include <stdint.h>

struct settings {
	int32_t termwidth;	/* display width in columns, 0: no limit */
	bool only_binaries;	/* -b: skip the memory map */
	bool no_header;		/* -H: never print the column header */
	bool services;		/* -s: one row per service */
	bool kernel;		/* -k: the kernel's status too */
	bool filter_jail;	/* -j given */
	int32_t filter_jid;	/* jail id to match */
	bool filter_user;	/* -u given */
	uint32_t filter_uid;	/* user id to match */
};

extern struct settings settings;

/*
 * Parses a whole decimal number and keeps its low 32 bits, as a signed
 * value; false if text is empty or has junk.
 */
bool parse_number(const char *text, int32_t *value);

/*
 * Parses a whole decimal number that must lie within [min, max]: 1 when
 * it does, 0 when text is not a number, -1 when it is a number out of
 * that range.
 */
int parse_bounded(const char *text, intmax_t min, intmax_t max,
    intmax_t *value);

#endif
