// The process's environment variables, and the variables along which
// programs and native libraries are looked for. Declared once here,
// implemented in win32/ and posix/.
#pragma once
#include "platform/os_errors.h"

// The environment variables along which programs and native libraries are
// looked for, and the folders an instance puts on them for its VM and
// application: each folder is a path below the Java home or below the base
// directory. A variable either holds exactly its folders, or gets them in
// front of the value it inherited.
enum os_folder_root { OS_BELOW_JAVA_HOME, OS_BELOW_BASE };

struct os_search_folder {
    os_folder_root root;
    const char* path; // null after the last folder
};

enum { OS_SEARCH_VARIABLE_LIMIT = 2, OS_SEARCH_FOLDER_LIMIT = 3 };

struct os_search_variable {
    const char* name; // null after the last variable
    bool keeps_inherited;
    os_search_folder folders[OS_SEARCH_FOLDER_LIMIT + 1];
};

// The platform's search variables, in the order they are set.
extern const os_search_variable OS_SEARCH_VARIABLES[OS_SEARCH_VARIABLE_LIMIT + 1];

// What a search variable that keeps its inherited value stands for when it
// is not set: for PATH on POSIX the system's default search path
// (confstr(_CS_PATH)), where programs are looked for without it. Null when
// there is none, or it cannot be read.
const char* os_search_default(const char* name);

// The value the environment variable had, null when it is not set. Names are
// matched as the platform matches them (ignoring case on Windows).
const char* os_getenv(const char* name);

// False when the variable's value holds characters that the code page of
// os_text_code_page cannot hold (os_getenv then gives them as '?').
bool os_getenv_is_exact(const char* name);

// Sets an environment variable of the process. Returns no error, or the call
// that failed and its code.
os_error os_setenv(const char* name, const char* value);
