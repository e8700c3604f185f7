// Files the run hands to the VM by name, in a folder that others (the
// application's user) may write: the names given to the VM lead to the very
// file or folder the run checked, whatever is renamed or linked meanwhile.
// Declared once here, implemented in win32/ and posix/.
#pragma once
#include "platform/os_files.h"

#include <cstddef>

// A regular file the run holds open for the VM to read.
struct os_vm_file;

// Opens the regular file at path for reading, never through a link and
// without waiting (a FIFO), and holds it until os_release_vm_file: vm_path
// (capacity bytes) is the path to give the VM, which leads to the held file
// (POSIX: /proc/self/fd/N; Windows: path itself, which no one can replace,
// rename or write while it is held); stamp is the held file's. Returns the
// file, with *result OS_FILE_DONE; or null with *result OS_FILE_MISSING,
// _NOT_REGULAR (a folder, a link, a FIFO), or _FAILED with *error naming
// the call that failed and its code.
os_vm_file* os_hold_vm_file(const char* path, char* vm_path, size_t capacity, os_stamp* stamp,
                            os_file_result* result, os_error* error);

void os_release_vm_file(os_vm_file* file);

// Whether the process maps the file of the stamp into its memory.
enum os_mapping {
    OS_MAPPED,
    OS_NOT_MAPPED,
    OS_MAPPING_UNKNOWN, // the platform cannot tell (on Windows, where the VM may
                        // read its class archive into memory instead of
                        // mapping it)
};
os_mapping os_file_is_mapped(const os_stamp& stamp);

// A folder the run creates in the current directory, named prefix and a
// suffix of its own choosing, that only the run's user may write and that
// the run holds until os_remove_private_folder: vm_folder (capacity bytes)
// is the path to give the VM for it, which leads to that folder whatever is
// renamed or linked meanwhile (POSIX: /proc/self/fd/N; Windows: its name,
// which no one can rename while it is held). Returns the folder, or null
// with *error naming the call that failed and its code.
struct os_private_folder;
os_private_folder* os_make_private_folder(const char* prefix, char* vm_folder, size_t capacity, os_error* error);

// Removes the files in the folder, then the folder.
void os_remove_private_folder(os_private_folder* folder);

// Removes the folders named prefix and more that earlier runs left in the
// current directory, with the files in them, never through a link.
void os_remove_stale_private_folders(const char* prefix);
