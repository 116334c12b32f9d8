/* SPDX-License-Identifier: BSD-2-Clause */
// Fuzzes the parsers of /proc/PID/stat and maps text.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "parse.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char *text = reinterpret_cast<const char *>(data);
	stat_line sl;

	if (parse_stat(text, size, &sl) &&
	    (sl.comm < text || sl.comm + sl.commlen > text + size))
		__builtin_trap();

	// Each line as a maps line, as the backend hands them over.
	const char *p = text, *end = text + size;
	while (p < end) {
		const char *nl = static_cast<const char *>(
		    memchr(p, '\n', (size_t)(end - p)));
		size_t len = (size_t)((nl != nullptr ? nl : end) - p);
		maps_line ml;
		if (parse_maps_line(p, len, &ml)) {
			if (ml.path < p || ml.path + ml.pathlen > p + len)
				__builtin_trap();
			(void)maps_is_file(&ml);
			(void)has_deleted_suffix(ml.path, ml.pathlen);
		}
		p += len + 1;
	}
	return 0;
}
