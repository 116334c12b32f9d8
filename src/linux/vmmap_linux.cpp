/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Linux: the memory map, from /proc/PID/maps.
 *
 * The map is what the check needs: every executable mapping of a file,
 * with its device, inode and protection, and its name as the maps text
 * writes it (a newline as \012), or an empty name when the kernel marks
 * the file deleted and no file of that name is the one mapped.  Where the
 * kernel answers PROCMAP_QUERY, only the executable file mappings are
 * asked for, and the map holds those alone; otherwise the text is read,
 * and the map has an entry for each of its lines.
 *
 * The text is read line by line through a buffer of fixed size.  An entry
 * keeps its path as an offset into the handle's pool until the map is
 * complete; the pool then goes after the entries, in the block handed
 * out.  Offset 0 is the empty name.  A file without a name keeps the name
 * it last had there too (kve_gone_path), offset 0 being none.
 *
 * A name missing from the map always means a file that is gone: the
 * library directories are never needed to find one (proc_library_dirs).
 */
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "backend.h"
#include "lookup.h"

struct map_build {
	struct kinfo_vmentry *map;
	size_t n, cap;
	size_t used;			/* bytes of the pool in use */
	size_t last, lastlen;		/* the last file's path in the pool */
	dev_t lastdev;
	unsigned long long lastino;
	bool lastnamed;			/* whether that file can be named */
	size_t lastgone;		/* else its last name in the pool, or 0 */
};

static const char *
path_offset(size_t off)
{
	return ((const char *)(uintptr_t)off);
}

/* Makes room for size more bytes in the pool; false when out of memory. */
static bool
pool_room(struct procstat *ps, const struct map_build *mb, size_t size)
{
	size_t want;
	char *grown;

	if (mb->used + size <= ps->poolsize)
		return (true);
	want = ps->poolsize * 2;
	while (mb->used + size > want)
		want *= 2;
	grown = (char *)realloc(ps->pool, want);
	if (grown == NULL)
		return (false);
	ps->pool = grown;
	ps->poolsize = want;
	return (true);
}

/*
 * Copies a path into the pool; false when out of memory.  A name that
 * the kernel gave as it is (raw) is written as the maps text writes it,
 * a newline as \012, so that both ways of reading the map agree.
 */
static bool
pool_add(struct procstat *ps, struct map_build *mb, const char *path,
    size_t len, bool raw)
{
	size_t i, n, newlines;
	char *to;

	newlines = 0;
	for (i = 0; raw && i < len; i++)
		newlines += path[i] == '\n';
	n = len + 3 * newlines;
	if (!pool_room(ps, mb, n + 1))
		return (false);
	to = ps->pool + mb->used;
	if (newlines == 0)
		memcpy(to, path, len);
	else
		for (i = 0; i < len; i++) {
			if (path[i] == '\n') {
				memcpy(to, "\\012", 4);
				to += 4;
			} else
				*to++ = path[i];
		}
	mb->last = mb->used;
	mb->lastlen = n;
	ps->pool[mb->used + n] = '\0';
	mb->used += n + 1;
	return (true);
}

/*
 * Keeps in the pool the name that a file without one last had, as it is
 * (mb->lastgone; 0 when it cannot be told); false when out of memory.
 */
static bool
keep_gone_name(struct procstat *ps, struct map_build *mb,
    const struct maps_line *ml, const struct line *l)
{
	char buf[LINK_MAX_LEN];
	const char *name;
	ssize_t len;

	mb->lastgone = 0;
	len = gone_name(ps, ml, l, buf, sizeof(buf), &name);
	if (len <= 0)
		return (true);
	if (!pool_room(ps, mb, (size_t)len + 1))
		return (false);
	memcpy(ps->pool + mb->used, name, (size_t)len);
	ps->pool[mb->used + (size_t)len] = '\0';
	mb->lastgone = mb->used;
	mb->used += (size_t)len + 1;
	return (true);
}

/*
 * Whether path names the file of the given device and inode: 1 or 0, or
 * -1 when it was not looked up, as that may never answer.
 */
static int
names_file(struct procstat *ps, const char *path, dev_t dev,
    unsigned long long ino)
{
	struct stat st;

	switch (lookup_stat(ps, path, (uint64_t)dev, &st)) {
	case LOOKUP_DONE:
		return (st.st_dev == dev && (unsigned long long)st.st_ino == ino);
	case LOOKUP_SKIPPED:
		return (-1);
	default:
		return (0);
	}
}

/*
 * A mapped file whose name the kernel marks deleted has no name, unless
 * the file really carries that name.  The maps text (l) writes a newline
 * in a name as \012, so the name is tried as written and with that
 * undone; a name from the query (no l) is the file's as it is.  A name
 * that is not looked up is taken at the kernel's word: deleted.
 */
static bool
mapped_file_named(struct procstat *ps, const struct maps_line *ml,
    const struct line *l)
{
	char path[LINK_MAX_LEN];
	dev_t dev;
	int named;

	if (l != NULL && l->cut)
		return (memcmp(l->tail, DELETED_SUFFIX, TAIL_KEPT) != 0);
	if (!has_deleted_suffix(ml->path, ml->pathlen))
		return (true);
	if (ml->pathlen >= sizeof(path))
		return (false);
	dev = makedev(ml->major, ml->minor);
	memcpy(path, ml->path, ml->pathlen);
	path[ml->pathlen] = '\0';
	if ((named = names_file(ps, path, dev, ml->inode)) != 0)
		return (named == 1);
	return (l != NULL && memchr(ml->path, '\\', ml->pathlen) != NULL &&
	    unescape_maps_path(ml->path, ml->pathlen, path, sizeof(path)) &&
	    names_file(ps, path, dev, ml->inode) == 1);
}

/* Makes room for one more entry; false when out of memory. */
static bool
grow_map(struct map_build *mb)
{
	struct kinfo_vmentry *grown;

	if (mb->n < mb->cap)
		return (true);
	grown = (struct kinfo_vmentry *)realloc(mb->map,
	    2 * mb->cap * sizeof(*mb->map));
	if (grown == NULL)
		return (false);
	mb->map = grown;
	mb->cap *= 2;
	return (true);
}

/*
 * Appends the entry for one mapping, of a line of the maps text (l) or
 * from the query (no l); false with errno set when out of memory.
 */
static bool
add_mapping(struct procstat *ps, struct map_build *mb,
    const struct maps_line *ml, const struct line *l)
{
	struct kinfo_vmentry *kve;
	dev_t dev;

	if (!grow_map(mb)) {
		errno = ENOMEM;
		return (false);
	}
	kve = &mb->map[mb->n++];
	memset(kve, 0, sizeof(*kve));
	kve->kve_protection = ml->protection;
	kve->kve_path = path_offset(0);
	if (!maps_is_file(ml)) {
		kve->kve_type = ml->pathlen == 0 ? KVME_TYPE_DEFAULT :
		    ml->path[0] == '/' ? KVME_TYPE_SWAP : KVME_TYPE_UNKNOWN;
		return (true);
	}
	dev = makedev(ml->major, ml->minor);
	kve->kve_type = KVME_TYPE_VNODE;
	kve->kve_status = KF_ATTR_VALID;
	kve->kve_vn_fsid = dev;
	kve->kve_vn_fileid = ml->inode;
	/* A file is mostly mapped several times in a row: keep it once. */
	if (mb->last == 0 || ml->pathlen != mb->lastlen ||
	    ml->inode != mb->lastino || dev != mb->lastdev ||
	    memcmp(ml->path, ps->pool + mb->last, ml->pathlen) != 0) {
		if (!pool_add(ps, mb, ml->path, ml->pathlen, l == NULL)) {
			errno = ENOMEM;
			return (false);
		}
		mb->lastdev = dev;
		mb->lastino = ml->inode;
		mb->lastnamed = mapped_file_named(ps, ml, l);
		if (!mb->lastnamed && !keep_gone_name(ps, mb, ml, l)) {
			errno = ENOMEM;
			return (false);
		}
	}
	if (mb->lastnamed)
		kve->kve_path = path_offset(mb->last);
	else
		kve->kve_gone_path = path_offset(mb->lastgone);
	return (true);
}

static bool
add_line(struct procstat *ps, void *ctx, const struct line *l)
{
	struct maps_line ml;

	if (!parse_maps_line(l->text, l->len, &ml))
		return (true);
	return (add_mapping(ps, (struct map_build *)ctx, &ml, l));
}

static bool
add_queried(struct procstat *ps, void *ctx, const struct maps_line *ml)
{
	return (add_mapping(ps, (struct map_build *)ctx, ml, NULL));
}

/*
 * Reads the map of the process examined into mb, which is empty: by the
 * query where the kernel answers it, else from the text.  *empty tells
 * whether the process showed no memory map at all.
 */
static bool
read_map(struct procstat *ps, struct map_build *mb, bool *empty)
{
	switch (query_exec_mappings(ps, add_queried, mb)) {
	case QUERY_DONE:
		*empty = false;
		return (true);
	case QUERY_EMPTY:
		*empty = true;
		return (true);
	case QUERY_USE_TEXT:
		break;
	default:
		return (false);
	}
	mb->n = 0;
	mb->used = 1;
	mb->last = 0;
	if (!read_map_of(ps, add_line, mb))
		return (false);
	*empty = mb->n == 0;
	return (true);
}

/* The map of the process examined into mb. */
static bool
build_map(struct procstat *ps, struct map_build *mb)
{
	char link[LINK_MAX_LEN];
	bool empty;

	if (ps->pool == NULL) {
		ps->pool = (char *)malloc(4096);
		if (ps->pool == NULL)
			return (false);
		ps->poolsize = 4096;
	}
	memset(mb, 0, sizeof(*mb));
	ps->pool[0] = '\0';
	mb->used = 1;
	mb->cap = 64;
	mb->map = (struct kinfo_vmentry *)malloc(mb->cap * sizeof(*mb->map));
	if (mb->map == NULL)
		return (false);
	if (!read_map(ps, mb, &empty))
		return (false);
	/* An exited leader has an empty map: ask a live thread. */
	if (empty && use_live_thread(ps, link, sizeof(link)) != -1 &&
	    !read_map(ps, mb, &empty))
		return (false);
	return (true);
}

struct kinfo_vmentry *
procstat_getvmmap(struct procstat *ps, struct kinfo_proc *kp,
    unsigned int *count)
{
	struct kinfo_vmentry *block;
	struct map_build mb;
	char *paths;
	size_t i;
	int saved;

	if (select_process(ps, kp) == -1)
		return (NULL);
	if (!build_map(ps, &mb)) {
		saved = errno;
		free(mb.map);
		errno = saved;
		return (NULL);
	}
	block = (struct kinfo_vmentry *)realloc(mb.map,
	    mb.n * sizeof(*mb.map) + mb.used);
	if (block == NULL) {
		free(mb.map);
		errno = ENOMEM;
		return (NULL);
	}
	paths = (char *)(block + mb.n);
	memcpy(paths, ps->pool, mb.used);
	for (i = 0; i < mb.n; i++) {
		block[i].kve_path = paths + (uintptr_t)block[i].kve_path;
		if (block[i].kve_gone_path != NULL)
			block[i].kve_gone_path = paths +
			    (uintptr_t)block[i].kve_gone_path;
	}
	*count = (unsigned int)mb.n;
	return (block);
}

void
procstat_freevmmap(struct procstat *ps, struct kinfo_vmentry *vmmap)
{
	(void)ps;
	free(vmmap);
}

const struct library_dirs *
proc_library_dirs(struct procstat *ps)
{
	/* The kernel names a mapped file as long as it has a name. */
	(void)ps;
	return (NULL);
}
