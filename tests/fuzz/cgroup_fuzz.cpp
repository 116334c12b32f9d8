/* SPDX-License-Identifier: BSD-2-Clause */
// Fuzzes the reading of a service from /proc/PID/cgroup text.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "cgroup.h"
#include "procinfo.h"

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char *text = reinterpret_cast<const char *>(data);
	char buf[64], tiny[1];

	// The first byte picks the buffer, so that short ones are tried.
	size_t room = size > 0 ? (size_t)data[0] % sizeof(buf) + 1 : sizeof(buf);
	memset(buf, 'X', sizeof(buf));
	int kind = cgroup_service(text, size, buf, room);
	if (kind < SERVICE_NONE || kind > SERVICE_USER_UNIT ||
	    memchr(buf, '\0', room) == nullptr ||
	    (kind == SERVICE_NONE && buf[0] != '\0') ||
	    (room < sizeof(buf) && buf[room] != 'X'))
		__builtin_trap();
	(void)cgroup_service(text, size, tiny, sizeof(tiny));
	if (tiny[0] != '\0')
		__builtin_trap();
	return 0;
}
