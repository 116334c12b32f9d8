/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The files that are gone of each service: a fixed list per service, and
 * one pool for their paths.
 */
#include <string.h>

#include "service.h"
#include "service_files.h"
#include "xo_c.h"

struct file_list {
	struct gone_file file[GONE_FILES_MAX];
	unsigned int n;
	bool cut;		/* a file was left out */
};

static struct file_list lists[SERVICE_TABLE_MAX];
static char paths[SERVICE_PATHS_SIZE];
static size_t paths_used;

/* A copy of path in the pool, or NULL when it has no room left. */
static const char *
kept_path(const char *path)
{
	size_t len;
	char *to;

	len = strlen(path) + 1;
	if (len > sizeof(paths) - paths_used)
		return (NULL);
	to = paths + paths_used;
	memcpy(to, path, len);
	paths_used += len;
	return (to);
}

/* Adds f to l unless it is there; false when it was left out. */
static bool
add_file(struct file_list *l, const struct gone_file *f)
{
	struct gone_file *to;
	unsigned int i;

	for (i = 0; i < l->n; i++)
		if (l->file[i].dev == f->dev && l->file[i].ino == f->ino)
			return (true);
	if (l->n == GONE_FILES_MAX)
		return (false);
	to = &l->file[l->n];
	*to = *f;
	if (f->path != NULL && (to->path = kept_path(f->path)) == NULL)
		return (false);
	l->n++;
	return (true);
}

void
service_files_note(unsigned int service, const struct gone_files *gone)
{
	struct file_list *l;
	unsigned int i;

	if (gone == NULL || service >= SERVICE_TABLE_MAX)
		return;
	l = &lists[service];
	if (gone->cut)
		l->cut = true;
	for (i = 0; i < gone->n; i++)
		if (!add_file(l, &gone->file[i]))
			l->cut = true;
}

const struct gone_file *
service_files_of(unsigned int service, unsigned int *n)
{
	if (service >= SERVICE_TABLE_MAX) {
		*n = 0;
		return (NULL);
	}
	*n = lists[service].n;
	return (lists[service].file);
}

void
service_files_warn(void)
{
	unsigned int i, cut;

	cut = 0;
	for (i = 0; i < SERVICE_TABLE_MAX; i++)
		cut += lists[i].cut;
	if (cut > 0)
		xo_warnx("%u service%s list%s only part of %s files that are "
		    "gone", cut, cut == 1 ? "" : "s", cut == 1 ? "s" : "",
		    cut == 1 ? "its" : "their");
}
