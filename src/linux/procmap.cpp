/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the executable file mappings of a process, asked of the kernel
 * one by one (the PROCMAP_QUERY ioctl of /proc/PID/maps, Linux 6.11 and
 * later) rather than read from the text of every mapping.  Most of the
 * cost of reading the maps text is the kernel writing lines the check
 * never looks at; a process maps only a few files executable.
 *
 * The kernel's headers on older systems do not describe the ioctl, so
 * its argument is declared here, in the kernel's layout.
 */
#include <sys/ioctl.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include "backend.h"

struct vma_query {
	uint64_t size;			/* of this struct */
	uint64_t query_flags;
	uint64_t query_addr;
	/* the answer */
	uint64_t vma_start, vma_end;
	uint64_t vma_flags;		/* VMA_* */
	uint64_t vma_page_size;
	uint64_t vma_offset;
	uint64_t inode;
	uint32_t dev_major, dev_minor;
	uint32_t vma_name_size;		/* in: the buffer; out: with the NUL */
	uint32_t build_id_size;
	uint64_t vma_name_addr;
	uint64_t build_id_addr;
};
static_assert(sizeof(struct vma_query) == 104, "the kernel's layout");

#define VMA_QUERY		_IOWR('f', 17, struct vma_query)

/* Query flags; the first three also describe the mapping (vma_flags). */
#define VMA_READABLE		0x01
#define VMA_WRITABLE		0x02
#define VMA_EXECUTABLE		0x04
#define COVERING_OR_NEXT_VMA	0x10
#define FILE_BACKED_VMA		0x20

/*
 * The kernel builds the name in a buffer of at most PATH_MAX bytes, its
 * NUL included, and fails the query (ENAMETOOLONG) when it does not fit.
 */
#define NAME_BUFSIZE		PATH_MAX

/*
 * QUERIED_MAX (backend.h): a query costs about what the kernel spends on
 * ten lines of text, most of it the system call, so the queries stop
 * paying off for a process with very many executable file mappings: a
 * query each for a thousand such mappings took 4 to 7 times as long as
 * the text of them all (the README's benchmark section has the numbers).
 * A process that has more than QUERIED_MAX of them is read from the
 * text, at the price of that many queries wasted.  Programs map one
 * executable segment per library, and even large ones load a few hundred
 * libraries at most.
 */

/* Asks for the first executable file mapping at addr or above. */
static int
query_from(int fd, uint64_t addr, struct vma_query *q, char *name)
{
	int r;

	memset(q, 0, sizeof(*q));
	q->size = sizeof(*q);
	q->query_flags = COVERING_OR_NEXT_VMA | FILE_BACKED_VMA |
	    VMA_EXECUTABLE;
	q->query_addr = addr;
	q->vma_name_size = NAME_BUFSIZE;
	q->vma_name_addr = (uint64_t)(uintptr_t)name;
	do
		r = ioctl(fd, VMA_QUERY, q);
	while (r == -1 && errno == EINTR);
	return (r);
}

/*
 * The mapping of an answer, as a line of the maps text would give it but
 * for the name, which is not escaped; false when the answer is not one
 * to trust (a file mapping always has a name).
 */
static bool
answer_mapping(const struct vma_query *q, const char *name,
    struct maps_line *ml)
{
	if (q->vma_name_size == 0 || q->vma_name_size > NAME_BUFSIZE ||
	    name[q->vma_name_size - 1] != '\0')
		return (false);
	ml->protection = ((q->vma_flags & VMA_READABLE) != 0 ?
	    KVME_PROT_READ : 0) | ((q->vma_flags & VMA_WRITABLE) != 0 ?
	    KVME_PROT_WRITE : 0) | ((q->vma_flags & VMA_EXECUTABLE) != 0 ?
	    KVME_PROT_EXEC : 0);
	ml->major = q->dev_major;
	ml->minor = q->dev_minor;
	ml->inode = q->inode;
	ml->path = name;
	ml->pathlen = q->vma_name_size - 1;
	return (true);
}

/* What a failed query means once the walk has seen n mappings. */
static int
walk_ended(struct procstat *ps, size_t n)
{
	switch (errno) {
	case ENOENT:		/* no more */
		return (QUERY_DONE);
	case ESRCH:		/* no memory (any more), as the text shows */
		return (n == 0 ? QUERY_EMPTY : QUERY_DONE);
	case ENOTTY:		/* a kernel without the query */
	case EINVAL:
		ps->maps_text = true;
		return (QUERY_USE_TEXT);
	default:		/* ENAMETOOLONG, or anything unforeseen */
		return (QUERY_USE_TEXT);
	}
}

/* Calls fn for each executable file mapping of the maps file fd. */
static int
walk(struct procstat *ps, int fd, mapping_fn fn, void *ctx)
{
	char name[NAME_BUFSIZE];
	struct vma_query q;
	struct maps_line ml;
	uint64_t addr;
	size_t n;

	for (addr = 0, n = 0;; addr = q.vma_end, n++) {
		if (query_from(fd, addr, &q, name) == -1)
			return (walk_ended(ps, n));
		if (n == QUERIED_MAX || q.vma_end <= addr ||
		    !answer_mapping(&q, name, &ml))
			return (QUERY_USE_TEXT);
		if (!fn(ps, ctx, &ml))
			return (QUERY_FAILED);
	}
}

int
query_exec_mappings(struct procstat *ps, mapping_fn fn, void *ctx)
{
	int fd;

#ifdef STALEWATCH_MAPS_TEXT_ONLY
	/* The build that tests and measures the text path. */
	ps->maps_text = true;
#endif
	if (ps->maps_text)
		return (QUERY_USE_TEXT);
	/* The handle keeps the file: closed with the directory, or read. */
	fd = maps_file(ps);
	if (fd == -1)
		return (QUERY_FAILED);
	return (walk(ps, fd, fn, ctx));
}
