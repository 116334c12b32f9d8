/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Services from control group paths.  systemd names a unit after the
 * cgroup it runs in, below the slices that group units; container
 * runtimes name the cgroup of a container after its 64-digit id.
 */
#include <string.h>

#include "cgroup.h"
#include "parse.h"
#include "procinfo.h"

#define CONTAINER_ID_LEN	64

/* One component of a path. */
struct part {
	const char *s;
	size_t len;
};

static bool
has_prefix(struct part p, const char *prefix)
{
	size_t n = strlen(prefix);

	return (p.len >= n && memcmp(p.s, prefix, n) == 0);
}

static bool
has_suffix(struct part p, const char *suffix)
{
	size_t n = strlen(suffix);

	return (p.len >= n && memcmp(p.s + p.len - n, suffix, n) == 0);
}

static bool
is_same(struct part p, const char *text)
{
	return (p.len == strlen(text) && memcmp(p.s, text, p.len) == 0);
}

static bool
is_container_id(const char *s, size_t len)
{
	size_t i;

	if (len != CONTAINER_ID_LEN)
		return (false);
	for (i = 0; i < len; i++)
		if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f')))
			return (false);
	return (true);
}

/*
 * Copies a name into buf; with unescape, systemd's escapes in unit names
 * ("\x2d" for '-') are undone, though never into a NUL.  Returns kind.
 */
static int
store(int kind, const char *s, size_t len, bool unescape, char *buf,
    size_t size)
{
	size_t i, n;
	int hi, lo;

	n = 0;
	for (i = 0; i < len && n + 1 < size; i++) {
		if (unescape && s[i] == '\\' && i + 3 < len && s[i + 1] == 'x' &&
		    (hi = hex_digit(s[i + 2], true)) >= 0 &&
		    (lo = hex_digit(s[i + 3], true)) >= 0 && (hi | lo) != 0) {
			buf[n++] = (char)(hi << 4 | lo);
			i += 3;
		} else
			buf[n++] = s[i];
	}
	if (size > 0)
		buf[n] = '\0';
	return (kind);
}

/* A container scope: PREFIX-ID.scope for one of the runtimes' prefixes. */
static bool
container_scope(struct part p, const char **id)
{
	static const char *const prefixes[] = {
		"docker-", "libpod-", "cri-containerd-", "crio-",
	};
	size_t i, n;

	if (!has_suffix(p, ".scope"))
		return (false);
	for (i = 0; i < sizeof(prefixes) / sizeof(prefixes[0]); i++) {
		n = strlen(prefixes[i]);
		if (has_prefix(p, prefixes[i]) &&
		    is_container_id(p.s + n, p.len - n - strlen(".scope"))) {
			*id = p.s + n;
			return (true);
		}
	}
	return (false);
}

/*
 * What one component says by itself: SERVICE_NONE when it is none of a
 * container, a machine or a session.
 */
static int
part_service(struct part p, struct part prev, bool in_kubepods, char *buf,
    size_t size)
{
	const char *id = p.s;

	if (container_scope(p, &id) || ((is_same(prev, "docker") ||
	    in_kubepods) && is_container_id(p.s, p.len)))
		return (store(SERVICE_CONTAINER, id, CONTAINER_ID_SHOWN, false,
		    buf, size));
	if (has_prefix(p, "lxc.payload.") && p.len > strlen("lxc.payload."))
		return (store(SERVICE_CONTAINER, p.s + strlen("lxc.payload."),
		    p.len - strlen("lxc.payload."), false, buf, size));
	if (has_prefix(p, "machine-") && has_suffix(p, ".scope") &&
	    p.len > strlen("machine-.scope"))
		return (store(SERVICE_MACHINE, p.s + strlen("machine-"),
		    p.len - strlen("machine-.scope"), true, buf, size));
	if (has_prefix(p, "systemd-nspawn@") && has_suffix(p, ".service") &&
	    p.len > strlen("systemd-nspawn@.service"))
		return (store(SERVICE_MACHINE, p.s + strlen("systemd-nspawn@"),
		    p.len - strlen("systemd-nspawn@.service"), true, buf,
		    size));
	if (has_prefix(p, "session-") && has_suffix(p, ".scope") &&
	    p.len > strlen("session-.scope"))
		return (store(SERVICE_SESSION, p.s, p.len, false, buf, size));
	return (SERVICE_NONE);
}

/* A user's service manager: user@UID.service. */
static bool
is_user_manager(struct part p)
{
	size_t i;

	if (!has_prefix(p, "user@") || !has_suffix(p, ".service") ||
	    p.len == strlen("user@.service"))
		return (false);
	for (i = strlen("user@"); i < p.len - strlen(".service"); i++)
		if (p.s[i] < '0' || p.s[i] > '9')
			return (false);
	return (true);
}

/* A unit of a user's manager, named "MANAGER/UNIT". */
static int
store_user_unit(struct part manager, struct part unit, char *buf,
    size_t size)
{
	size_t n;

	if (size == 0)
		return (SERVICE_USER_UNIT);
	store(SERVICE_USER_UNIT, manager.s, manager.len, false, buf, size);
	n = strlen(buf);
	if (n + 1 < size) {
		buf[n++] = '/';
		store(SERVICE_USER_UNIT, unit.s, unit.len, false, buf + n,
		    size - n);
	}
	return (SERVICE_USER_UNIT);
}

int
cgroup_path_service(const char *path, size_t len, char *buf, size_t size)
{
	struct part p, prev = { "", 0 }, unit = { NULL, 0 };
	struct part manager = { NULL, 0 };
	const char *end = path + len, *slash;
	bool in_kubepods = false;
	int kind;

	for (p.s = path; p.s < end; p.s += p.len + 1) {
		slash = (const char *)memchr(p.s, '/', (size_t)(end - p.s));
		p.len = (size_t)((slash != NULL ? slash : end) - p.s);
		if (p.len == 0)
			continue;
		kind = part_service(p, prev, in_kubepods, buf, size);
		if (kind != SERVICE_NONE)
			return (kind);
		if (has_suffix(p, ".service") && p.len > strlen(".service")) {
			if (unit.s != NULL && is_user_manager(unit))
				manager = unit;
			unit = p;
		}
		if (has_prefix(p, "kubepods"))
			in_kubepods = true;
		prev = p;
	}
	if (unit.s != NULL && manager.s != NULL)
		return (store_user_unit(manager, unit, buf, size));
	if (unit.s != NULL)
		return (store(SERVICE_UNIT, unit.s, unit.len, false, buf,
		    size));
	return (store(SERVICE_NONE, "", 0, false, buf, size));
}

/*
 * The path of the line of hierarchy id (and, for v1, controller list
 * item) given; false when the text has no such line.
 */
static bool
find_line(const char *text, size_t len, bool v2, struct part *path)
{
	const char *p = text, *end = text + len, *nl, *c1, *c2;
	struct part item;

	for (; p < end; p = nl + 1) {
		nl = (const char *)memchr(p, '\n', (size_t)(end - p));
		if (nl == NULL)
			nl = end;
		c1 = (const char *)memchr(p, ':', (size_t)(nl - p));
		c2 = c1 == NULL ? NULL :
		    (const char *)memchr(c1 + 1, ':', (size_t)(nl - c1 - 1));
		if (c2 == NULL)
			continue;
		path->s = c2 + 1;
		path->len = (size_t)(nl - c2 - 1);
		if (v2 && c1 - p == 1 && *p == '0' && c2 == c1 + 1)
			return (true);
		/* The controller list is separated by commas. */
		for (item.s = c1 + 1; !v2 && item.s < c2;
		    item.s += item.len + 1) {
			const char *comma = (const char *)memchr(item.s, ',',
			    (size_t)(c2 - item.s));
			item.len = (size_t)((comma != NULL ? comma : c2) - item.s);
			if (is_same(item, "name=systemd"))
				return (true);
		}
	}
	return (false);
}

int
cgroup_service(const char *text, size_t len, char *buf, size_t size)
{
	struct part path;
	int kind = SERVICE_NONE;

	if (find_line(text, len, true, &path))
		kind = cgroup_path_service(path.s, path.len, buf, size);
	if (kind == SERVICE_NONE && find_line(text, len, false, &path))
		kind = cgroup_path_service(path.s, path.len, buf, size);
	if (kind == SERVICE_NONE && size > 0)
		buf[0] = '\0';
	return (kind);
}
