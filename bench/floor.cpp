/* SPDX-License-Identifier: BSD-2-Clause */
// The floors for the process benchmark, loops over every process that
// read from /proc and do nothing else:
//   floor          what a naive /proc reader reads (stat, status, comm,
//                  exe and maps of every process);
//   floor plain    the plain reads that a check of every process needs
//                  when it reads the memory maps as text: stat, the owner
//                  of the process's directory, exe, and maps.
#include <sys/stat.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static char buf[65536];

static long
slurp(int dirfd, const char *path)
{
	long total = 0;
	ssize_t n;
	int fd = openat(dirfd, path, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return 0;
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		total += n;
	close(fd);
	return total;
}

static long
naive(int procfd, const char *pid)
{
	char path[300], link[4200];
	struct stat st;
	long bytes = 0;

	snprintf(path, sizeof(path), "%s/stat", pid);
	bytes += slurp(procfd, path);
	snprintf(path, sizeof(path), "%s/status", pid);
	bytes += slurp(procfd, path);
	snprintf(path, sizeof(path), "%s/comm", pid);
	bytes += slurp(procfd, path);
	snprintf(path, sizeof(path), "/proc/%s/exe", pid);
	bytes += readlink(path, link, sizeof(link));
	if (stat(path, &st) == 0)
		bytes += st.st_nlink;
	snprintf(path, sizeof(path), "%s/maps", pid);
	bytes += slurp(procfd, path);
	return bytes;
}

static long
plain(int procfd, const char *pid)
{
	char path[300], link[4200];
	struct stat st;
	long bytes = 0;

	snprintf(path, sizeof(path), "%s/stat", pid);
	bytes += slurp(procfd, path);
	if (fstatat(procfd, pid, &st, 0) == 0)
		bytes += st.st_uid;
	snprintf(path, sizeof(path), "%s/exe", pid);
	bytes += readlinkat(procfd, path, link, sizeof(link));
	snprintf(path, sizeof(path), "%s/maps", pid);
	bytes += slurp(procfd, path);
	return bytes;
}

int
main(int argc, char **argv)
{
	int procfd = open("/proc", O_RDONLY | O_DIRECTORY);
	DIR *dir = fdopendir(dup(procfd));
	struct dirent *de;
	long bytes = 0, procs = 0;
	bool is_plain = argc > 1 && strcmp(argv[1], "plain") == 0;

	while ((de = readdir(dir)) != NULL) {
		if (de->d_name[0] < '0' || de->d_name[0] > '9')
			continue;
		procs++;
		bytes += is_plain ? plain(procfd, de->d_name) :
		    naive(procfd, de->d_name);
	}
	closedir(dir);
	printf("%ld processes, %ld bytes\n", procs, bytes);
	return 0;
}
