#include <inttypes.h>
#include <stdlib.h>

#include "settings.h"

struct settings settings = {
	0,	/* termwidth */
	false,	/* only_binaries */
	false,	/* header_shown */
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
