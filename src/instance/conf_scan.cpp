#include "instance/class_archive.h"

#include "instance/path_text.h"
#include "platform/os_dir.h"
#include "platform/os_files.h"
#include "platform/os_paths.h"

#include <cstring>

// Far above what a configuration folder holds; the search never costs more.
// A folder's path is listed up to 255 characters, which bounds the depth.
enum { CONF_FOLDERS_MOST = 512, CONF_ENTRIES_MOST = 20000, LISTED_PATH_MOST = 255 };

struct conf_search {
    char* path; // capacity PATH_CAPACITY
    struct {
        unsigned long long volume, index;
    } visited[CONF_FOLDERS_MOST];
    int folders;
    int entries;
};

static bool ends_in_class(const char* name)
{
    size_t length = strlen(name);
    return length >= 6 && text_equal_nocase(name + length - 6, ".class");
}

// Whether the folder is one the search has seen (a link leading back): marks
// it seen otherwise. A folder that cannot be stamped counts as seen: it
// cannot be listed either.
static bool seen_before(conf_search* search)
{
    os_stamp stamp;
    os_error error;
    if (os_file_stamp(search->path, true, &stamp, &error) != OS_FILE_DONE)
        return true;
    for (int i = 0; i < search->folders; ++i)
        if (search->visited[i].volume == stamp.volume && search->visited[i].index == stamp.index)
            return true;
    if (search->folders < CONF_FOLDERS_MOST)
        search->visited[search->folders] = {stamp.volume, stamp.index};
    ++search->folders;
    return false;
}

// Searches the folder at search->path, links to folders followed, each folder
// once. On CONF_CLASS the path is the class file's, on CONF_TOO_LARGE the
// folder's where the search stopped; otherwise it is restored.
static conf_finding search_folder(conf_search* search)
{
    if (seen_before(search))
        return CONF_NO_CLASS;
    if (search->folders > CONF_FOLDERS_MOST || strlen(search->path) > LISTED_PATH_MOST)
        return CONF_TOO_LARGE;
    int error = 0;
    os_dir* dir = os_dir_open(search->path, &error);
    // What cannot be listed, the VM cannot load from either.
    if (dir == nullptr)
        return CONF_NO_CLASS;
    size_t length = strlen(search->path);
    os_entry_type type;
    conf_finding finding = CONF_NO_CLASS;
    for (const char* name; finding == CONF_NO_CLASS && (name = os_dir_next(dir, &type)) != nullptr;) {
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        bool folder = type == OS_ENTRY_DIRECTORY;
        if (++search->entries > CONF_ENTRIES_MOST) {
            finding = CONF_TOO_LARGE;
            break;
        }
        if (!folder && !ends_in_class(name))
            continue;
        // A path that does not fit: the search stops at its folder.
        if (length + 1 + strlen(name) >= PATH_CAPACITY) {
            finding = CONF_TOO_LARGE;
            break;
        }
        append_pieces(search->path, PATH_CAPACITY, {path_separator(), name});
        finding = folder ? search_folder(search) : CONF_CLASS;
        if (finding == CONF_NO_CLASS)
            search->path[length] = '\0';
    }
    os_dir_close(dir);
    return finding;
}

conf_finding find_class_file(char* path)
{
    conf_search search{};
    search.path = path;
    return search_folder(&search);
}
