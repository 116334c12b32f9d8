/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Preloaded into stalewatch by a test: the first time the program reads
 * the executable link of a process, the process that SW_EXEC_PID names
 * is made to start another program (SIGUSR1, see the sleeper's -E), and
 * once it has, the file that SW_EXEC_UNLINK names is deleted.  So the
 * process runs a program that is gone, started after the list was read.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void
read_comm(const char *pid, char *buf, size_t size)
{
	char path[64];
	ssize_t n;
	int fd;

	buf[0] = '\0';
	snprintf(path, sizeof(path), "/proc/%s/comm", pid);
	fd = open(path, O_RDONLY);
	if (fd == -1)
		return;
	n = read(fd, buf, size - 1);
	close(fd);
	buf[n > 0 ? n : 0] = '\0';
}

static void
start_other_program(void)
{
	const char *pid = getenv("SW_EXEC_PID");
	const char *gone = getenv("SW_EXEC_UNLINK");
	char before[64], now[64];
	int i;

	if (pid == NULL || gone == NULL)
		return;
	read_comm(pid, before, sizeof(before));
	if (kill((pid_t)atoi(pid), SIGUSR1) == -1)
		return;
	for (i = 0; i < 500; i++) {
		read_comm(pid, now, sizeof(now));
		if (strcmp(now, before) != 0)
			break;
		usleep(10000);
	}
	unlink(gone);
}

ssize_t
readlinkat(int dirfd, const char *path, char *buf, size_t size)
{
	static ssize_t (*real)(int, const char *, char *, size_t);
	static int done;

	if (real == NULL)
		real = (ssize_t (*)(int, const char *, char *, size_t))dlsym(
		    RTLD_NEXT, "readlinkat");
	if (!done && strcmp(path, "exe") == 0) {
		done = 1;
		start_other_program();
	}
	return (real(dirfd, path, buf, size));
}
