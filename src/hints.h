/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The hints file of FreeBSD's ldconfig(8), read as its runtime linker
 * reads it: a header of 32-bit words in the byte order of the machine
 * (magic, version, the string table's offset and size, and the offset
 * and length of the folder list within it), and the list, folders
 * separated by colons and ended by a NUL.
 */
#ifndef STALEWATCH_HINTS_H
#define STALEWATCH_HINTS_H

#include <stddef.h>
#include <stdint.h>

#define HINTS_HEADER_SIZE	128	/* 32 words, most of them spare */
#define HINTS_MAGIC		0x746e6845
#define HINTS_VERSION		1

/*
 * Where the folder list of a hints file lies, from the n bytes read at
 * the start of the file (head) and the file's size: 0, with its offset
 * from the start of the file in *offset and its length without the NUL
 * in *len; -1 when the runtime linker would not use the file (too short
 * for a header, another magic number or version, a list and its NUL
 * that do not lie inside the file).  Like the runtime linker, the reader
 * then reads len + 1 bytes there and wants a NUL as the last.
 */
int hints_header(const unsigned char *head, size_t n, uint64_t filesize,
    uint64_t *offset, uint32_t *len);

/*
 * Calls fn with each folder of a list of len bytes (it ends at a NUL
 * before that, if any), each NUL-terminated; names that are not absolute
 * paths, or longer than PATH_MAX, are skipped.
 */
void hints_folders(const char *list, size_t len,
    void (*fn)(void *ctx, const char *folder), void *ctx);

#endif
