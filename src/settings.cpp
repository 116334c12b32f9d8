/* SPDX-License-Identifier: BSD-2-Clause */
#include <errno.h>
#include <inttypes.h>
#include <stdlib.h>

#include "settings.h"

struct settings settings = {
	0,	/* termwidth */
	false,	/* only_binaries */
	false,	/* no_header */
	false,	/* services */
	false,	/* kernel */
	false,	/* filter_jail */
	-1,	/* filter_jid */
	false,	/* filter_user */
	0,	/* filter_uid */
};

bool
parse_number(const char *text, int32_t *value)
{
	char *end;
	intmax_t v;

	v = strtoimax(text, &end, 10);
	if (*text == '\0' || *end != '\0')
		return (false);
	/* Keep the low 32 bits, as a signed value. */
	*value = (int32_t)(uint32_t)(uintmax_t)v;
	return (true);
}

int
parse_bounded(const char *text, intmax_t min, intmax_t max, intmax_t *value)
{
	char *end;
	intmax_t v;

	errno = 0;
	v = strtoimax(text, &end, 10);
	if (*text == '\0' || *end != '\0')
		return (0);
	if (errno == ERANGE || v < min || v > max)
		return (-1);
	*value = v;
	return (1);
}
