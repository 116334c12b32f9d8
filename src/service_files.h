/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The files that are gone of each service (-s): the union of those of its
 * stale processes, kept by the index of the service in its table.
 */
#ifndef STALEWATCH_SERVICE_FILES_H
#define STALEWATCH_SERVICE_FILES_H

#include "check.h"

/* Room for the paths of the files of all services, in bytes. */
#define SERVICE_PATHS_SIZE	(256 * 1024)

/*
 * Adds the files of one more process of service (its index in the table,
 * below SERVICE_TABLE_MAX) to those it lists: each file once, in the
 * order first seen, at most GONE_FILES_MAX.  gone NULL: none are listed.
 */
void service_files_note(unsigned int service, const struct gone_files *gone);

/* The files of service, and their number into *n. */
const struct gone_file *service_files_of(unsigned int service,
    unsigned int *n);

/* Warns, after the document, of services that do not list all theirs. */
void service_files_warn(void);

#endif
