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
 * When the queries stop paying (QUERIED_MAX and PACKED_MAX, backend.h).
 * Measured on a virtual machine where a system call costs 1 us: a query
 * takes 1.5 to 2 us, most of it the call, and the text 0.2 to 0.5 us a
 * line, so the queries win while a process has several mappings for each
 * executable file mapping.  Programs have: a library maps one executable
 * segment among four or five, and heaps, stacks and data come on top
 * (python3 with 51 executable file mappings among 275: the queries took
 * 0.68 of the text's time; perl with 8 among 64, 0.73; a process with 18
 * among 240, 0.58).  Two kinds of map lose:
 *  - executable file mappings packed one against the next, nothing
 *    between them for the kernel to step over (a file mapped executable
 *    again and again): a query each took 5 to 7 times as long as the
 *    text of them all.  No library is laid out so, its executable segment
 *    follows its read-only one; after PACKED_MAX packed ones the text is
 *    read.
 *  - very many executable file mappings of any layout: past QUERIED_MAX
 *    the text is read, at the price of that many queries (about 0.5 ms).
 *    The largest programs load a few hundred libraries, and those with
 *    thousands of other mappings (browsers, virtual machines, databases)
 *    gain most from the queries.
 * The README's benchmark section has the numbers.
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
	size_t n, packed;

	for (addr = 0, n = packed = 0;; addr = q.vma_end, n++) {
		if (query_from(fd, addr, &q, name) == -1)
			return (walk_ended(ps, n));
		/* Starting where the last one ended: nothing between them. */
		packed += n > 0 && q.vma_start == addr;
		if (n == QUERIED_MAX || packed > PACKED_MAX ||
		    q.vma_end <= addr || !answer_mapping(&q, name, &ml))
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
