/* SPDX-License-Identifier: BSD-2-Clause */
// The floor for the process benchmark: the reads the Linux backend needs
// for every process (stat, status, comm, exe, maps) and nothing else.
#include <sys/stat.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
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

int
main()
{
	int procfd = open("/proc", O_RDONLY | O_DIRECTORY);
	DIR *dir = fdopendir(dup(procfd));
	struct dirent *de;
	long bytes = 0, procs = 0;
	char path[300], link[4200];
	struct stat st;

	while ((de = readdir(dir)) != NULL) {
		if (de->d_name[0] < '0' || de->d_name[0] > '9')
			continue;
		procs++;
		snprintf(path, sizeof(path), "%s/stat", de->d_name);
		bytes += slurp(procfd, path);
		snprintf(path, sizeof(path), "%s/status", de->d_name);
		bytes += slurp(procfd, path);
		snprintf(path, sizeof(path), "%s/comm", de->d_name);
		bytes += slurp(procfd, path);
		snprintf(path, sizeof(path), "/proc/%s/exe", de->d_name);
		bytes += readlink(path, link, sizeof(link));
		if (stat(path, &st) == 0)
			bytes += st.st_nlink;
		snprintf(path, sizeof(path), "%s/maps", de->d_name);
		bytes += slurp(procfd, path);
	}
	closedir(dir);
	printf("%ld processes, %ld bytes\n", procs, bytes);
	return 0;
}
