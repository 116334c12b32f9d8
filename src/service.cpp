/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The report by service: a fixed table of services, each with the stale
 * processes that belong to it, and its rows.  A process's service is
 * looked up once, when it is found stale, through the handle that
 * examined it.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pidfile.h"
#include "report.h"
#include "service.h"
#include "service_files.h"
#include "xo_c.h"

#define NAME_SIZE	256

struct service {
	char name[NAME_SIZE];
	int kind;		/* SERVICE_* */
	int jid;
	unsigned int why;	/* 1 << WHY_* for each reason seen */
	unsigned int procs;
};

struct member {
	pid_t pid;
	unsigned int service;	/* its index in the table */
};

static struct service table[SERVICE_TABLE_MAX];
static unsigned int nservices;
static struct member members[SERVICE_PIDS_MAX];
static unsigned int nmembers;
static unsigned int left_out;

/* The order of the rows: rank[i] is the place of table[i]. */
static unsigned int rank[SERVICE_TABLE_MAX];
/* The processes' ids in the order of the rows. */
static pid_t row_pids[SERVICE_PIDS_MAX];

static const char *const kind_names[] = {
	"none", "unit", "session", "container", "machine", "rc",
};

/* The index of the service in the table, added if new; -1 when full. */
static int
table_slot(const char *name, int kind, int jid)
{
	struct service *s;
	unsigned int i;

	for (i = 0; i < nservices; i++)
		if (table[i].kind == kind && table[i].jid == jid &&
		    strcmp(table[i].name, name) == 0)
			return ((int)i);
	if (nservices == SERVICE_TABLE_MAX)
		return (-1);
	s = &table[nservices];
	snprintf(s->name, sizeof(s->name), "%s", name);
	s->kind = kind;
	s->jid = jid;
	s->why = 0;
	s->procs = 0;
	return ((int)nservices++);
}

void
service_note(struct procstat *ps, const struct kinfo_proc *kp, int why,
    const struct kinfo_proc *procs, unsigned int count,
    const struct gone_files *gone)
{
	char name[NAME_SIZE];
	int kind, i;

	if (nmembers == SERVICE_PIDS_MAX) {
		left_out++;
		return;
	}
	kind = proc_service(ps, kp, name, sizeof(name));
	if (kind == SERVICE_NONE)
		kind = pidfile_service(ps, kp, procs, count, name,
		    sizeof(name));
	if (kind == SERVICE_NONE || name[0] == '\0') {
		kind = SERVICE_NONE;
		snprintf(name, sizeof(name), "-");
	}
	i = table_slot(name, kind, kp->ki_jid);
	if (i == -1) {
		left_out++;
		return;
	}
	table[i].why |= 1u << why;
	table[i].procs++;
	members[nmembers].pid = kp->ki_pid;
	members[nmembers].service = (unsigned int)i;
	nmembers++;
	service_files_note((unsigned int)i, gone);
}

void
service_warn(void)
{
	if (left_out > 0)
		xo_warnx("%u process%s not reported: the report holds at most "
		    "%u services and %u processes", left_out,
		    left_out == 1 ? "" : "es", SERVICE_TABLE_MAX,
		    SERVICE_PIDS_MAX);
	service_files_warn();
}

/* Rows by name, then jail, then kind. */
static int
compare_services(const void *a, const void *b)
{
	const struct service *x = &table[*(const unsigned int *)a];
	const struct service *y = &table[*(const unsigned int *)b];
	int c;

	c = strcmp(x->name, y->name);
	if (c != 0)
		return (c);
	if (x->jid != y->jid)
		return (x->jid < y->jid ? -1 : 1);
	return (x->kind - y->kind);
}

/* Processes by the place of their row, then by id. */
static int
compare_members(const void *a, const void *b)
{
	const struct member *x = (const struct member *)a;
	const struct member *y = (const struct member *)b;

	if (rank[x->service] != rank[y->service])
		return (rank[x->service] < rank[y->service] ? -1 : 1);
	if (x->pid != y->pid)
		return (x->pid < y->pid ? -1 : 1);
	return (0);
}

/* Sorts the rows and their processes; the rows' order into order. */
static void
sort_rows(unsigned int *order)
{
	unsigned int i;

	for (i = 0; i < nservices; i++)
		order[i] = i;
	qsort(order, nservices, sizeof(order[0]), compare_services);
	for (i = 0; i < nservices; i++)
		rank[order[i]] = i;
	qsort(members, nmembers, sizeof(members[0]), compare_members);
}

void
service_report(void)
{
	static struct service_row rows[SERVICE_TABLE_MAX];
	unsigned int order[SERVICE_TABLE_MAX];
	unsigned int i, next;
	struct service_row *r;

	sort_rows(order);
	next = 0;
	for (i = 0; i < nservices; i++) {
		r = &rows[i];
		r->name = table[order[i]].name;
		r->kind = kind_names[table[order[i]].kind];
		r->jid = table[order[i]].jid;
		r->procs = table[order[i]].procs;
		r->why = table[order[i]].why;
		r->pids = &row_pids[next];
		for (; next < nmembers && members[next].service == order[i];
		    next++)
			row_pids[next] = members[next].pid;
		r->npids = (unsigned int)(&row_pids[next] - r->pids);
		r->files = service_files_of(order[i], &r->nfiles);
	}
	report_services(rows, nservices);
}
