// Composing paths and path lists piece by piece in bounded text buffers.
#pragma once
#include "platform/os_process.h"
#include "text/bounded_text.h"

#include <initializer_list>

// Appends the pieces one after another, stopping at the first that does not
// fit. Returns 0, or the failed append's error number (dest is then empty).
inline int append_pieces(char* dest, size_t capacity, std::initializer_list<const char*> pieces)
{
    for (const char* piece : pieces) {
        int error = bounded_append(dest, capacity, piece);
        if (error != 0)
            return error;
    }
    return 0;
}

// The separators of paths and of the class path, as texts.
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
