/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The installed kernel: what its files say (the x86 boot header of a
 * Linux image, the what(1) string of a FreeBSD kernel, loader.conf), read
 * from fixed buffers, and the bounded reads of those files under a root.
 */
#ifndef STALEWATCH_KERNEL_IMAGE_H
#define STALEWATCH_KERNEL_IMAGE_H

#include <stddef.h>

#include "kernel.h"

/*
 * The bytes at the start of a Linux image that hold its boot header and
 * any version text it can point to: the text's 16-bit offset, plus 0x200,
 * plus the longest text kept.
 */
#define BOOT_HEADER_READ	(0x200 + 0x10000 + KERNEL_TEXT_SIZE)

/*
 * The version text of an x86 Linux image from its first len bytes:
 * "HdrS" at 0x202, a boot protocol of at least 2.00 at 0x206 and, at the
 * offset that the 16-bit word at 0x20E gives (plus 0x200, when the word
 * is not 0), a NUL-terminated text, such as "6.1.0-18-amd64
 * (debian-kernel@lists.debian.org) #1 SMP ...".  False when buf holds
 * no such header, or the text is empty, not terminated within len bytes
 * or longer than size - 1 bytes; text is then empty.
 */
bool boot_header_text(const unsigned char *buf, size_t len, char *text,
    size_t size);

/*
 * Splits a version text of the form "RELEASE (BUILDER) BUILD": the
 * release into release (size bytes).  False when text has another form
 * or the release does not fit.
 */
bool kernel_text_release(const char *text, char *release, size_t size);

/*
 * Whether the version text of release's image has the given build (what
 * uname -v says of it): the text is "RELEASE (BUILDER) BUILD".
 */
bool kernel_text_has_build(const char *text, const char *release,
    const char *build);

/*
 * Compares two releases as sort -V orders them: runs of digits by their
 * value, other characters by their ASCII code, letters before the others
 * and '~' before all, even the end; a trailing run of suffixes such as
 * ".old" counts only between names equal without them.  Less than, equal
 * to or greater than 0.
 */
int release_compare(const char *a, const char *b);

/* What what(1) finds in a file: a version word after "@(#)FreeBSD ". */
#define WHAT_MARK	"@(#)"
#define WHAT_TEXT_SIZE	128

struct what_scan {
	unsigned int matched;	/* the bytes of WHAT_MARK just seen */
	bool in_text;		/* reading the string after a mark */
	size_t len;		/* its bytes kept, in text */
	char text[WHAT_TEXT_SIZE];
	char word[KERNEL_RELEASE_SIZE];	/* the version found, or empty */
};

/* Starts a scan. */
void what_scan_start(struct what_scan *ws);

/*
 * Scans the next len bytes of a file, as what(1) does: a string begins
 * after "@(#)" and ends at a NUL, newline, '"', '>' or backslash.  True
 * once a string "FreeBSD WORD" or "FreeBSD WORD ..." has ended whose
 * WORD is letters, digits, '-' and '.': it is in ws->word.  A mark or a
 * string may span calls.
 */
bool what_scan_feed(struct what_scan *ws, const unsigned char *buf,
    size_t len);

/*
 * One line of loader.conf (len bytes, without its newline): a variable
 * assignment, NAME=VALUE or NAME="VALUE", blanks allowed before the name
 * and around "=", anything after the value ignored.  NAME is a letter
 * or '_' and then letters, digits and '_'; VALUE is letters, digits and
 * "-./_".  The name and value into name and value (nsize and vsize
 * bytes); false for any other line (a comment, a value of other
 * characters, one that does not fit).
 */
bool loader_conf_assignment(const char *line, size_t len, char *name,
    size_t nsize, char *value, size_t vsize);

/* The most /boot/vmlinuz-* images that are read. */
#define BOOT_IMAGES_MAX		128

/* What the Linux images in a /boot say of the running release. */
struct boot_images {
	unsigned int read;		/* images whose version text was read */
	char newest[KERNEL_RELEASE_SIZE];	/* the newest release among them */
	bool running_found;		/* an image of the running release */
	bool running_same;		/* and it has the running build */
};

/*
 * Reads the version text of every regular file /boot/vmlinuz-* under
 * root (at most BOOT_IMAGES_MAX of them, BOOT_HEADER_READ bytes of
 * each; links are not followed) and compares them with the running
 * release and build.  The image of the running release is
 * /boot/vmlinuz-RELEASE when its text names that release, else any
 * other image whose text does: one with the running build, if any.
 * -1 when /boot cannot be read.
 */
int boot_images_read(const char *root, const char *release,
    const char *build, struct boot_images *bi);

/* Whether root has the modules folder of release, /lib/modules/RELEASE. */
bool modules_present(const char *root, const char *release);

/*
 * The FreeBSD kernel that the loader starts, from the assignments of
 * "kernel" and "bootfile" in root's /boot/defaults/loader.conf,
 * /boot/loader.conf and /boot/loader.conf.local, a later one winning:
 * /boot/${kernel:-kernel}/${bootfile:-kernel}, below root, into path
 * (size bytes).  A file that cannot be opened counts as one without
 * those assignments; -1 when one fails while it is read or is too large
 * to be a loader.conf, -2 when a value leaves /boot (a ".." in it) or
 * the path does not fit.
 */
int loader_kernel_path(const char *root, char *path, size_t size);

/* The most bytes of a FreeBSD kernel scanned for its version. */
#define KERNEL_SCAN_MAX		(256 * 1024 * 1024)

/*
 * The version word of the FreeBSD kernel file at path (a regular file,
 * no link followed), from the first of its what(1) strings of the form
 * "FreeBSD WORD" among its first KERNEL_SCAN_MAX bytes, into word (size
 * bytes).  0; -1 when the file cannot be read, 1 when it has no such
 * string.
 */
int kernel_file_version(const char *path, char *word, size_t size);

#endif
