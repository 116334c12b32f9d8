/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The kernel's status: the running kernel set against the installed one,
 * and its part of the report.
 */
#include <stdio.h>
#include <string.h>

#include "kernel.h"
#include "kernel_image.h"
#include "text.h"
#include "xo_c.h"

static const char *const status_names[] = {
	"unknown", "current", "rebuilt", "newer", "removed",
};

/* Linux: the images in /boot, and the modules of the running release. */
static void
check_images(const struct kernel_running *kr, struct kernel_state *ks)
{
	struct boot_images bi;

	if (kr->build[0] == '\0') {
		snprintf(ks->reason, sizeof(ks->reason),
		    "the running kernel's build is unknown");
		return;
	}
	if (boot_images_read(kr->root, kr->release, kr->build, &bi) == -1 ||
	    bi.read == 0) {
		snprintf(ks->reason, sizeof(ks->reason),
		    "no readable image in /boot");
		return;
	}
	if (kr->modular && !modules_present(kr->root, kr->release))
		ks->status = KERNEL_REMOVED;
	else if (release_compare(bi.newest, kr->release) > 0)
		ks->status = KERNEL_NEWER;
	else if (!bi.running_found) {
		snprintf(ks->reason, sizeof(ks->reason),
		    "no readable image of %s in /boot", kr->release);
		return;
	} else
		ks->status = bi.running_same ? KERNEL_CURRENT : KERNEL_REBUILT;
	snprintf(ks->installed, sizeof(ks->installed), "%s",
	    ks->status == KERNEL_REMOVED || ks->status == KERNEL_NEWER ?
	    bi.newest : kr->release);
}

/*
 * FreeBSD: the kernel that loader.conf names, and the version of its
 * what(1) string.  Any other version than the running one means a
 * reboot: a later one is newer, any other (an older kernel put back,
 * another branch) rebuilt.  A kernel built again with the same version
 * is not seen.
 */
static void
check_loader(const struct kernel_running *kr, struct kernel_state *ks)
{
	char path[KERNEL_PATH_SIZE], word[KERNEL_RELEASE_SIZE];
	const char *shown;

	switch (loader_kernel_path(kr->root, path, sizeof(path))) {
	case -1:
		snprintf(ks->reason, sizeof(ks->reason),
		    "loader.conf cannot be read");
		return;
	case -2:
		snprintf(ks->reason, sizeof(ks->reason),
		    "loader.conf names a kernel outside /boot");
		return;
	}
	shown = path + strlen(kr->root);
	switch (kernel_file_version(path, word, sizeof(word))) {
	case -1:
		snprintf(ks->reason, sizeof(ks->reason),
		    "no readable image in /boot: %s", shown);
		return;
	case 1:
		snprintf(ks->reason, sizeof(ks->reason),
		    "no version string in %s", shown);
		return;
	}
	snprintf(ks->installed, sizeof(ks->installed), "%s", word);
	if (strcmp(word, kr->release) == 0)
		ks->status = KERNEL_CURRENT;
	else if (release_compare(word, kr->release) > 0)
		ks->status = KERNEL_NEWER;
	else
		ks->status = KERNEL_REBUILT;
}

/* Whether a release can name a file: not empty, no "/", not "." or "..". */
static bool
usable_release(const char *release)
{
	return (release[0] != '\0' && strchr(release, '/') == NULL &&
	    strcmp(release, ".") != 0 && strcmp(release, "..") != 0);
}

void
kernel_check(const struct kernel_running *kr, struct kernel_state *ks)
{
	memset(ks, 0, sizeof(*ks));
	ks->status = KERNEL_UNKNOWN;
	if (!usable_release(kr->release)) {
		snprintf(ks->reason, sizeof(ks->reason),
		    "the running kernel's release is unknown");
		return;
	}
	snprintf(ks->running, sizeof(ks->running), "%s", kr->release);
	if (kr->unknowable != NULL) {
		snprintf(ks->reason, sizeof(ks->reason), "%s", kr->unknowable);
		return;
	}
	switch (kr->method) {
	case KERNEL_BY_VMLINUZ:
		check_images(kr, ks);
		break;
	case KERNEL_BY_LOADER:
		check_loader(kr, ks);
		break;
	default:
		snprintf(ks->reason, sizeof(ks->reason),
		    "no way to find it on this system");
	}
}

void
kernel_report(void)
{
	char running[4 * KERNEL_RELEASE_SIZE + 1];
	char installed[4 * KERNEL_RELEASE_SIZE + 1];
	char reason[4 * KERNEL_REASON_SIZE + 1];
	struct kernel_running kr;
	struct kernel_state ks;
	const char *status;
	bool ascii;

	memset(&kr, 0, sizeof(kr));
	kr.root = "";
	kernel_running(&kr);
	kernel_check(&kr, &ks);
	status = status_names[ks.status];
	/* Texts from files and the kernel, made safe as every other. */
	ascii = xo_get_style(NULL) == XO_STYLE_TEXT && !locale_is_utf8();
	safe_text(ks.running, sizeof(ks.running), ascii, running,
	    sizeof(running));
	safe_text(ks.installed, sizeof(ks.installed), ascii, installed,
	    sizeof(installed));
	safe_text(ks.reason, sizeof(ks.reason), ascii, reason, sizeof(reason));

	xo_open_container("kernel");
	switch (ks.status) {
	case KERNEL_CURRENT:
		xo_emit("kernel {:running/%s} is running and installed"
		    "{e:installed/%s}{e:status/%s}\n", running, installed,
		    status);
		break;
	case KERNEL_REMOVED:
		xo_emit("kernel {:running/%s} is running without its modules, "
		    "{:installed/%s} is installed: reboot{e:status/%s}\n",
		    running, installed, status);
		break;
	case KERNEL_REBUILT:
		if (strcmp(ks.running, ks.installed) == 0) {
			xo_emit("kernel {:running/%s} is running, another build "
			    "of it is installed{e:installed/%s}: reboot"
			    "{e:status/%s}\n", running, installed, status);
			break;
		}
		[[fallthrough]];
	case KERNEL_NEWER:
		xo_emit("kernel {:running/%s} is running, {:installed/%s} is "
		    "installed: reboot{e:status/%s}\n", running, installed,
		    status);
		break;
	default:
		if (ks.running[0] != '\0')
			xo_emit("{e:running/%s}", running);
		xo_emit("{e:status/%s}kernel: installed version unknown "
		    "({:reason/%s})\n", status, reason);
	}
	xo_close_container("kernel");
}
