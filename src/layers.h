/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Files seen through a mount that shows a folder of another file system
 * (FreeBSD's nullfs, of which jails are mostly built) have the mount's
 * device, but a memory map gives the device of the file system below:
 * identities are compared on the lowest file system.
 */
#ifndef STALEWATCH_LAYERS_H
#define STALEWATCH_LAYERS_H

#include <stdint.h>

#include "procinfo.h"

/* The most such mounts known; past that, a warning after the report. */
#define LAYERS_MAX	4096

/*
 * The device of the file system that files of device dev lie on, below
 * every mount that shows them again (dev itself when none does).  The
 * mounts are looked at once, the first time this is asked.
 */
uint64_t lower_device(struct procstat *ps, uint64_t dev);

/* Warns, after the report, when more mounts were there than are known. */
void layers_warn(void);

#endif
