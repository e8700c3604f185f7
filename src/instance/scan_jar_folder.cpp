#include "instance/instance.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_dir.h"
#include "platform/os_process.h"

#include <cstring>

// A class path that does not fit would reach the VM cut short or without its
// "-Djava.class.path=": the service does not start rather than run without
// some of its JARs.
static void add_class_path_entry(char* class_path_option, const char* folder, const char* name)
{
    if (append_pieces(class_path_option, LONG_TEXT_CAPACITY,
                      {folder, path_separator(), name, class_path_separator()}) != 0) {
        log_format("Class path too long while scanning '%s': more than 9999 characters", folder);
        terminate(-1);
    }
}

int scan_jar_folder(const char* base_directory, const char* folder_name, char* class_path_option)
{
    char folder[PATH_CAPACITY] = "";
    bounded_append(folder, sizeof folder, base_directory);
    bounded_append(folder, sizeof folder, folder_name);
    log_format("Scaning folder '%s' for JARs", folder);

    int error = 0;
    os_dir* dir = os_dir_open(folder, &error);
    if (dir == nullptr) {
        log_format("_opendir() failed: %s", strerror(error));
        return -1;
    }
    // The separator would split the entry in two; a FIFO would block the VM
    // as it opens the class path, before stop() can be called.
    os_entry_type type;
    while (const char* name = os_dir_next(dir, &type)) {
        // Links to files are taken like files; subfolders are not searched.
        if (type == OS_ENTRY_DIRECTORY || !text_contains_nocase(name, ".jar"))
            continue;
        // The VM could not be given the name: it reads the class path in
        // the code page, and a mapped name would be another file.
        if (type == OS_ENTRY_INEXACT_NAME) {
            log_format("Skipping entry '%s': its name holds characters that the ANSI code page %u cannot hold", name,
                       os_text_code_page());
            continue;
        }
        if (type == OS_ENTRY_OTHER) {
            log_format("Skipping entry '%s': not a file nor a link to one", name);
            continue;
        }
        if (strchr(name, OS_CLASS_PATH_SEPARATOR) != nullptr) {
            log_format("Skipping entry '%s': its name holds '%c', the class path separator", name,
                       OS_CLASS_PATH_SEPARATOR);
            continue;
        }
        log_format("Adding entry to class path: '%s'", name);
        add_class_path_entry(class_path_option, folder, name);
    }
    os_dir_close(dir);
    return 0;
}
