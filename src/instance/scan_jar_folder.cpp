#include "instance/steps.h"

#include "instance/path_text.h"
#include "log/log.h"
#include "platform/os_dir.h"
#include "platform/os_paths.h"
#include "platform/os_process.h"
#include "text/bounded_text.h"

#include <cstring>

static const char CLASS_PATH_OPTION_START[] = "-Djava.class.path=";

// The longest class-path option the VM and its log line take.
enum { CLASS_PATH_OPTION_MOST = LONG_TEXT_CAPACITY - 1 };

std::string class_path_option(const instance_plan& plan)
{
    std::string option = CLASS_PATH_OPTION_START;
    for (const std::string& entry : plan.class_path_entries) {
        if (&entry != &plan.class_path_entries.front())
            option += OS_CLASS_PATH_SEPARATOR;
        option += entry;
    }
    return option;
}

size_t class_path_option_length(const std::vector<std::string>& entries)
{
    size_t length = sizeof CLASS_PATH_OPTION_START - 1;
    for (const std::string& entry : entries)
        length += entry.size() + 1;
    return entries.empty() ? length : length - 1;
}

// A class path that does not fit would reach the VM cut short: the service
// does not start rather than run without some of its JARs. Room is kept for
// the separator behind each entry.
run_failure scan_jar_folder(const std::string& base, const char* folder_name, std::vector<std::string>* entries)
{
    std::string folder = base + folder_name;
    log_format("Scaning folder '%s' for JARs", folder.c_str());

    int error = 0;
    os_dir* dir = os_dir_open(folder.c_str(), &error);
    if (dir == nullptr) {
        log_format("_opendir() failed: %s", strerror(error));
        return {};
    }
    size_t length = class_path_option_length(*entries) + (entries->empty() ? 0 : 1);
    run_failure failure;
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
        std::string entry = folder + path_separator() + name;
        length += entry.size() + 1;
        if (length > CLASS_PATH_OPTION_MOST) {
            failure = fail_format("Class path too long while scanning '%s': more than 9999 characters",
                                  folder.c_str());
            break;
        }
        entries->push_back(entry);
    }
    os_dir_close(dir);
    return failure;
}
