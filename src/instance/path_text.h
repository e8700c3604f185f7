// The separators of paths and of the class path, as texts, for composing
// them piece by piece in bounded text buffers.
#pragma once
#include "platform/os_paths.h"
#include "text/bounded_text.h"

inline const char* path_separator()
{
    static const char text[] = {OS_PATH_SEPARATOR, '\0'};
    return text;
}

inline const char* class_path_separator()
{
    static const char text[] = {OS_CLASS_PATH_SEPARATOR, '\0'};
    return text;
}
