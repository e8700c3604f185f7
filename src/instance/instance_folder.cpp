#include "instance/steps.h"

#include "instance/path_text.h"

// The longest instance folder: Windows makes a folder the current directory
// by a path of at most 258 characters (a separator is added behind it).
enum { INSTANCE_FOLDER_MOST = PATH_CAPACITY - 2 };

// A path that does not fit is refused: a shortened path would lead elsewhere.
run_failure compose_instance_folder(std::string* folder, const std::string& base, const char* instance_name)
{
    *folder = base + "work" + path_separator() + instance_name;
    if (folder->size() <= INSTANCE_FOLDER_MOST)
        return {};
    return fail_format("Instance folder path too long for instance '%s': more than %d characters", instance_name,
                       static_cast<int>(INSTANCE_FOLDER_MOST));
}
