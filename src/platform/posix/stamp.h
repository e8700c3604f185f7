// The stamp of a file from its status, for the POSIX side's file calls.
#pragma once
#include "platform/os_files.h"

#include <sys/stat.h>

void os_stamp_from_status(const struct stat& status, os_stamp* stamp);
