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
#include "settings.h"
#include "text.h"
#include "xo_c.h"

#define NAME_SIZE	256
/* A name of NAME_SIZE bytes made safe: each byte may take 4. */
#define SHOWN_SIZE	(4 * NAME_SIZE + 1)

/* What the text columns after the name take: " JID PROCS bin,.so". */
#define AFTER_NAME	(1 + 5 + 1 + 5 + 1 + 7)
/* A format with a ten-digit width. */
#define FMT_SIZE	64

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

static const struct kinfo_proc *list;
static unsigned int listcount;

static struct service table[SERVICE_TABLE_MAX];
static unsigned int nservices;
static struct member members[SERVICE_PIDS_MAX];
static unsigned int nmembers;
static unsigned int left_out;

/* The order of the rows: rank[i] is the place of table[i]. */
static unsigned int rank[SERVICE_TABLE_MAX];

static const char *const kind_names[] = {
	"none", "unit", "session", "container", "machine", "rc",
};

void
service_begin(const struct kinfo_proc *procs, unsigned int count)
{
	list = procs;
	listcount = count;
}

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
service_note(struct procstat *ps, const struct kinfo_proc *kp, int why)
{
	char name[NAME_SIZE];
	int kind, i;

	if (nmembers == SERVICE_PIDS_MAX) {
		left_out++;
		return;
	}
	kind = proc_service(ps, kp, name, sizeof(name));
	if (kind == SERVICE_NONE)
		kind = pidfile_service(ps, kp, list, listcount, name,
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
}

void
service_warn(void)
{
	if (left_out > 0)
		xo_warnx("%u process%s not reported: the report holds at most "
		    "%u services and %u processes", left_out,
		    left_out == 1 ? "" : "es", SERVICE_TABLE_MAX,
		    SERVICE_PIDS_MAX);
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

/*
 * The name of s as shown: made safe, and in the text style cut to
 * precision bytes (unless 0) between characters.
 */
static const char *
shown_name(const struct service *s, size_t precision, char *buf)
{
	bool ascii;

	ascii = xo_get_style(NULL) == XO_STYLE_TEXT && MB_CUR_MAX == 1;
	safe_text(s->name, sizeof(s->name), ascii, buf, SHOWN_SIZE);
	if (precision > 0)
		buf[unit_prefix(buf, precision)] = '\0';
	return (buf);
}

/*
 * How many bytes of a name the text style shows: what the display width
 * leaves after the other columns, but never fewer than 9; 0: all.
 */
static size_t
name_precision(void)
{
	int32_t room;

	if (settings.termwidth == 0 || xo_get_style(NULL) != XO_STYLE_TEXT)
		return (0);
	room = settings.termwidth - AFTER_NAME;
	return (room >= 10 ? (size_t)room : 9);
}

/* The width of the name column: its title's, or the longest name's. */
static int
name_width(size_t precision)
{
	char buf[SHOWN_SIZE];
	size_t width, len;
	unsigned int i;

	width = strlen("SERVICE");
	for (i = 0; i < nservices; i++) {
		len = strlen(shown_name(&table[i], precision, buf));
		if (len > width)
			width = len;
	}
	return ((int)width);
}

static const char *
why_text(unsigned int why)
{
	if (why == (1u << WHY_BIN | 1u << WHY_SO))
		return ("bin,.so");
	return (why == 1u << WHY_BIN ? "bin" : ".so");
}

/* One row: the service s and its processes, from members[*next] on. */
static void
emit_row(const struct service *s, int width, size_t precision,
    unsigned int *next)
{
	char fmt[FMT_SIZE], buf[SHOWN_SIZE];

	xo_open_instance("service");
	snprintf(fmt, sizeof(fmt), "{kw:name/%%-%ds/%%s}", width);
	xo_emit(fmt, shown_name(s, precision, buf));
	xo_emit("{e:kind/%s}", kind_names[s->kind]);
	xo_emit("{w:jid/%5d/%d}{dw:procs/%5u}{:why/%s}\n",
	    s->jid, s->procs, why_text(s->why));
	for (; *next < nmembers && &table[members[*next].service] == s;
	    (*next)++)
		xo_emit("{el:pid/%d}", (int)members[*next].pid);
	xo_close_instance("service");
}

void
service_report(void)
{
	unsigned int order[SERVICE_TABLE_MAX];
	char fmt[FMT_SIZE];
	unsigned int i, next;
	size_t precision;
	int width;

	if (nservices == 0)
		return;
	sort_rows(order);
	precision = name_precision();
	width = name_width(precision);
	if (!settings.no_header) {
		snprintf(fmt, sizeof(fmt), "{Tw:/%%-%ds}{Tw:/%%5s}{Tw:/%%5s}"
		    "{T:/%%s}\n", width);
		xo_emit(fmt, "SERVICE", "JID", "PROCS", "WHY");
	}
	next = 0;
	for (i = 0; i < nservices; i++)
		emit_row(&table[order[i]], width, precision, &next);
}
