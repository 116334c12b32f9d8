/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The files of the installed kernel, read below a root: the Linux images
 * in /boot and the modules folder, FreeBSD's loader.conf files and
 * kernel.  Each is read through fixed buffers, a bounded number of
 * bytes; only regular files are read, no link is followed to one, and
 * nothing waits on a FIFO.
 */
#include <sys/stat.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "kernel_image.h"

#define IMAGE_PREFIX	"vmlinuz-"
#define CHUNK_SIZE	(64 * 1024)
/* The longest loader.conf line whose start is looked at. */
#define LINE_SIZE	1024
/* A loader.conf larger than this is not one. */
#define LOADER_CONF_MAX	(4 * 1024 * 1024)

/* The buffers of the reads: one image or file at a time. */
static unsigned char chunk[BOOT_HEADER_READ > CHUNK_SIZE ?
    BOOT_HEADER_READ : CHUNK_SIZE];

/* Opens a regular file to read: never a link, never waiting; or -1. */
static int
open_regular(int dirfd, const char *path)
{
	struct stat st;
	int fd;

	fd = openat(dirfd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK |
	    O_NOCTTY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	if (fstat(fd, &st) == -1 || !S_ISREG(st.st_mode)) {
		close(fd);
		errno = EINVAL;
		return (-1);
	}
	return (fd);
}

/* Reads up to size bytes from offset on; the bytes read, or -1. */
static ssize_t
read_at(int fd, unsigned char *buf, size_t size, off_t offset)
{
	size_t done;
	ssize_t n;

	for (done = 0; done < size; done += (size_t)n) {
		n = pread(fd, buf + done, size - done, offset + (off_t)done);
		if (n == -1 && errno == EINTR) {
			n = 0;
			continue;
		}
		if (n == -1)
			return (-1);
		if (n == 0)
			break;
	}
	return ((ssize_t)done);
}

/* The version text of the image name in /boot (dirfd), or false. */
static bool
image_text(int dirfd, const char *name, char *text, size_t size)
{
	ssize_t n;
	int fd;

	fd = open_regular(dirfd, name);
	if (fd == -1)
		return (false);
	n = read_at(fd, chunk, BOOT_HEADER_READ, 0);
	close(fd);
	return (n > 0 && boot_header_text(chunk, (size_t)n, text, size));
}

int
boot_images_read(const char *root, const char *release, const char *build,
    struct boot_images *bi)
{
	char path[KERNEL_PATH_SIZE], text[KERNEL_TEXT_SIZE];
	char own[KERNEL_RELEASE_SIZE], name[KERNEL_RELEASE_SIZE];
	struct dirent *de;
	DIR *dir;
	unsigned int tried;
	bool named, same;
	int fd;

	memset(bi, 0, sizeof(*bi));
	if ((size_t)snprintf(path, sizeof(path), "%s/boot", root) >=
	    sizeof(path))
		return (-1);
	fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd == -1)
		return (-1);
	dir = fdopendir(fd);
	if (dir == NULL) {
		close(fd);
		return (-1);
	}
	snprintf(name, sizeof(name), IMAGE_PREFIX "%s", release);
	named = false;
	tried = 0;
	while (tried < BOOT_IMAGES_MAX && (de = readdir(dir)) != NULL) {
		if (strncmp(de->d_name, IMAGE_PREFIX,
		    sizeof(IMAGE_PREFIX) - 1) != 0)
			continue;
		tried++;
		if (!image_text(dirfd(dir), de->d_name, text, sizeof(text)) ||
		    !kernel_text_release(text, own, sizeof(own)))
			continue;
		bi->read++;
		if (bi->newest[0] == '\0' ||
		    release_compare(own, bi->newest) > 0)
			snprintf(bi->newest, sizeof(bi->newest), "%s", own);
		if (strcmp(own, release) != 0)
			continue;
		same = kernel_text_has_build(text, release, build);
		/* The image of the release's own name wins over copies. */
		if (strcmp(de->d_name, name) == 0) {
			named = true;
			bi->running_same = same;
		} else if (!named)
			bi->running_same = bi->running_same || same;
		bi->running_found = true;
	}
	closedir(dir);
	return (0);
}

bool
modules_present(const char *root, const char *release)
{
	char path[KERNEL_PATH_SIZE];
	struct stat st;

	if ((size_t)snprintf(path, sizeof(path), "%s/lib/modules/%s", root,
	    release) >= sizeof(path))
		return (true);
	if (stat(path, &st) == 0)
		return (S_ISDIR(st.st_mode));
	/* Only a folder that is not there is gone. */
	return (errno != ENOENT && errno != ENOTDIR);
}

/* Applies an assignment of kernel or bootfile from one loader.conf line. */
static void
loader_line(const char *line, size_t len, char *kernel, char *bootfile)
{
	char name[64], value[KERNEL_RELEASE_SIZE];

	if (!loader_conf_assignment(line, len, name, sizeof(name), value,
	    sizeof(value)))
		return;
	if (strcmp(name, "kernel") == 0)
		memcpy(kernel, value, sizeof(value));
	else if (strcmp(name, "bootfile") == 0)
		memcpy(bootfile, value, sizeof(value));
}

/*
 * Reads the loader.conf file path, a line at a time, for kernel and
 * bootfile (KERNEL_RELEASE_SIZE bytes each).  A file that cannot be
 * opened changes nothing; -1 for one that fails while it is read, or is
 * too large to be a loader.conf.
 */
static int
loader_file(const char *path, char *kernel, char *bootfile)
{
	char line[LINE_SIZE];
	size_t len, i, total;
	ssize_t n;
	int fd;

	fd = open_regular(AT_FDCWD, path);
	if (fd == -1)
		return (0);
	len = 0;
	total = 0;
	while ((n = read(fd, chunk, CHUNK_SIZE)) > 0 ||
	    (n == -1 && errno == EINTR)) {
		if (n == -1)
			continue;
		total += (size_t)n;
		if (total > LOADER_CONF_MAX) {
			close(fd);
			return (-1);
		}
		for (i = 0; i < (size_t)n; i++) {
			if (chunk[i] == '\n') {
				loader_line(line, len, kernel, bootfile);
				len = 0;
			} else if (len < sizeof(line))
				line[len++] = (char)chunk[i];
		}
	}
	close(fd);
	if (n == -1)
		return (-1);
	if (len > 0)
		loader_line(line, len, kernel, bootfile);
	return (0);
}

/* Whether a value names something outside its folder of /boot. */
static bool
leaves_folder(const char *value)
{
	const char *p;

	for (p = value; (p = strstr(p, "..")) != NULL; p += 2)
		if ((p == value || p[-1] == '/') && (p[2] == '\0' ||
		    p[2] == '/'))
			return (true);
	return (false);
}

int
loader_kernel_path(const char *root, char *path, size_t size)
{
	static const char *const files[] = {
		"/boot/defaults/loader.conf",
		"/boot/loader.conf",
		"/boot/loader.conf.local",
	};
	char kernel[KERNEL_RELEASE_SIZE], bootfile[KERNEL_RELEASE_SIZE];
	char conf[KERNEL_PATH_SIZE];
	size_t i;

	kernel[0] = bootfile[0] = '\0';
	for (i = 0; i < sizeof(files) / sizeof(files[0]); i++) {
		if ((size_t)snprintf(conf, sizeof(conf), "%s%s", root,
		    files[i]) >= sizeof(conf) ||
		    loader_file(conf, kernel, bootfile) == -1)
			return (-1);
	}
	if (leaves_folder(kernel) || leaves_folder(bootfile))
		return (-2);
	if ((size_t)snprintf(path, size, "%s/boot/%s/%s", root,
	    kernel[0] != '\0' ? kernel : "kernel",
	    bootfile[0] != '\0' ? bootfile : "kernel") >= size)
		return (-2);
	return (0);
}

int
kernel_file_version(const char *path, char *word, size_t size)
{
	struct what_scan ws;
	size_t total;
	ssize_t n;
	int fd;

	if (size > 0)
		word[0] = '\0';
	fd = open_regular(AT_FDCWD, path);
	if (fd == -1)
		return (-1);
	what_scan_start(&ws);
	for (total = 0; total < KERNEL_SCAN_MAX; total += (size_t)n) {
		n = read_at(fd, chunk, CHUNK_SIZE, (off_t)total);
		if (n == -1) {
			close(fd);
			return (-1);
		}
		if (n == 0)
			break;
		if (what_scan_feed(&ws, chunk, (size_t)n)) {
			close(fd);
			snprintf(word, size, "%s", ws.word);
			return (0);
		}
	}
	close(fd);
	return (1);
}
