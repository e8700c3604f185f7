#include "instance/instance.h"
#include "instance/steps.h"

#include "platform/os_paths.h"
#include "platform/os_process.h"
#include "text/bounded_text.h"

#include <cstring>

const char NO_BASE_FOLDER[] = "lies in no folder below a base folder: it must be <base>\\bin\\zrsvc.exe or in "
                              "another folder of the base folder";

bool has_base_folder(const char* executable_path)
{
    const char* last = strrchr(executable_path, OS_PATH_SEPARATOR);
    if (last == nullptr)
        return false;
    for (const char* at = executable_path; at < last; ++at)
        if (*at == OS_PATH_SEPARATOR)
            return true;
    return false;
}

void cut_to_base_folder(char* executable_path)
{
    *strrchr(executable_path, OS_PATH_SEPARATOR) = '\0';
    strrchr(executable_path, OS_PATH_SEPARATOR)[1] = '\0';
}

static const char SPLIT_BY_SEPARATOR[] = "the class path separator: its paths would be split there";

run_failure refuse_separator_in(const char* what, const std::string& folder)
{
    if (folder.find(OS_CLASS_PATH_SEPARATOR) == std::string::npos)
        return {};
    return fail_format("%s '%s' holds '%c', %s", what, folder.c_str(), OS_CLASS_PATH_SEPARATOR, SPLIT_BY_SEPARATOR);
}

run_failure read_base_folder(std::string* base)
{
    char path[PATH_CAPACITY];
    int length = os_module_path(path, sizeof path);
    if (length == OS_MODULE_PATH_TOO_LONG)
        return fail("Executable path too long: more than 259 characters");
    if (length == OS_MODULE_PATH_INEXACT)
        return fail_format("Executable path '%s' holds characters that the ANSI code page %u cannot hold", path,
                           os_text_code_page());
    if (length == OS_MODULE_PATH_FAILED)
        return fail("");
    if (!has_base_folder(path))
        return fail_format("The executable '%s' %s", path, NO_BASE_FOLDER);
    cut_to_base_folder(path);
    *base = path;
    return refuse_separator_in("Base folder", *base);
}
