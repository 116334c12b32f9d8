/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The service of a process from its control group, as /proc/PID/cgroup
 * names it.  Pure functions over byte ranges, for tests and fuzzing.
 */
#ifndef STALEWATCH_LINUX_CGROUP_H
#define STALEWATCH_LINUX_CGROUP_H

#include <stddef.h>

/* Digits of a container id that the container tools show. */
#define CONTAINER_ID_SHOWN	12

/*
 * The service of one cgroup path (len bytes, not NUL-terminated): the
 * name into buf (size bytes, NUL-terminated) and the kind (SERVICE_*) as
 * the result.  Read from the outermost component in: a container scope
 * (docker-, libpod-, cri-containerd- or crio- and 64 hex digits, .scope;
 * or 64 hex digits below docker or a kubepods cgroup) is that container,
 * named by its first 12 digits; lxc.payload.NAME is container NAME;
 * machine-NAME.scope and systemd-nspawn@NAME.service are machine NAME;
 * session-N.scope is that session.  Otherwise the innermost .service is
 * the unit, and without one there is no service; below a user's manager
 * (user@UID.service) it is that user's unit, SERVICE_USER_UNIT, named
 * "user@UID.service/UNIT".
 */
int cgroup_path_service(const char *path, size_t len, char *buf, size_t size);

/*
 * The service of a process from the text of its /proc/PID/cgroup: that
 * of the cgroup v2 line (0::PATH) when it gives one, else that of the
 * v1 line of the name=systemd hierarchy.
 */
int cgroup_service(const char *text, size_t len, char *buf, size_t size);

#endif
