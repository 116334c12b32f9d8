/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * FreeBSD: where the runtime linker finds libraries.  Its own search
 * path (/lib/casper, /lib, /usr/lib), its own folder (/libexec, where
 * ld-elf.so.1 and ld-elf32.so.1 are), the folders of 32-bit programs,
 * the folders ldconfig names in the hints files, and the trees of the
 * packages' plugins and modules (PHP, Apache, Perl, Python, PostgreSQL),
 * which are loaded from folders below /usr/local/lib and
 * /usr/local/libexec.
 */
#include <sys/types.h>
#include <elf-hints.h>
#include <stddef.h>

#include "hints.h"
#include "procinfo.h"

/* The core reads the hints file as the system's header lays it out. */
static_assert(sizeof(struct elfhints_hdr) == HINTS_HEADER_SIZE,
    "hints header size");
static_assert(ELFHINTS_MAGIC == HINTS_MAGIC, "hints magic");
static_assert(offsetof(struct elfhints_hdr, version) == 4 &&
    offsetof(struct elfhints_hdr, strtab) == 8 &&
    offsetof(struct elfhints_hdr, dirlist) == 16 &&
    offsetof(struct elfhints_hdr, dirlistlen) == 20, "hints header words");

static const char *const dirs[] = {
	"/lib/casper",
	"/lib",
	"/usr/lib",
	"/libexec",
	"/lib32",
	"/usr/lib32",
	NULL,
};

static const char *const trees[] = {
	"/usr/local/lib",
	"/usr/local/libexec",
	NULL,
};

static const char *const hints[] = {
	_PATH_ELF_HINTS,
	"/var/run/ld-elf32.so.hints",
	NULL,
};

static const struct library_dirs library_dirs = { dirs, trees, hints };

/*
 * The name of a mapped file comes from the name cache, which can lose it
 * while the file is still there: these are where to look for it.
 */
const struct library_dirs *
proc_library_dirs(struct procstat *ps)
{
	(void)ps;
	return (&library_dirs);
}
