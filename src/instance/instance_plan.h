// What preparing an instance yields: the plan of its run, owned values only,
// handed by the instance layer to the run's owner, which gives the VM host
// its part (the Java home and the options) and keeps the rest.
#pragma once
#include "log/rolling_file.h"
#include "log/run_failure.h"
#include "platform/os_files.h"

#include <string>
#include <vector>

// Limits of conf/jvm.options, far above what a real file holds.
enum {
    JVM_OPTIONS_FILE_MOST = 65536, // bytes of the whole file
    JVM_OPTION_LINE_MOST = 4095,   // characters of a line, without its line end
    JVM_OPTIONS_MOST = 256,        // options taken from the file
};

// What the run does with the instance's class-data archive (class_archive.h).
enum class archive_decision {
    NOT_USED, // the host stands aside: the VM's defaults or jvm.options decide
    MAPPED,   // the VM maps zrsvc.jsa
    WRITTEN,  // the VM writes a new archive as it ends
};

struct os_vm_file;
struct os_private_folder;

// What a class archive the VM writes is made from, the lines of its record
// (class_archive.cpp), and the files the run holds for the VM: the archive it
// maps, or the run's own folder it writes one into. The platform's handles
// are held until the process ends (MAPPED) or the archive is finished.
struct archive_inputs {
    std::string lines;
    os_vm_file* mapped_file = nullptr; // MAPPED
    os_stamp mapped_stamp{};           // MAPPED
    os_private_folder* dump_folder = nullptr; // WRITTEN
    std::string dump_path;             // WRITTEN: the archive's path in that folder, as the VM is given it
};

// "NAME=value" of a variable along which programs or native libraries are
// looked for, set for the process.
struct search_assignment {
    std::string name;
    std::string value;
};

struct instance_plan {
    std::string base_folder;     // with its trailing separator
    std::string instance_folder; // the working directory
    // Why the log file could not be opened; empty when it was, or when there
    // is no log folder.
    std::string log_failure;
    // The size of a log file and the files kept (ZR_LOG_LIMIT_MB, ZR_LOG_KEEP).
    rolling_limits log_limits = {};
    std::string java_home;
    // The JARs of bin, lib and jdbc, full paths, then "conf".
    std::vector<std::string> class_path_entries;
    // The VM's options after the class path: the class archive's, then those
    // of conf/jvm.options.
    std::vector<std::string> options;
    std::vector<search_assignment> search_variables;
    // Seconds from a stop request to the end of the process when start() has
    // not returned by then; 0 waits as long as start() takes.
    int stop_timeout = 0;
    archive_decision archive = archive_decision::NOT_USED;
    archive_inputs archive_made_from;
};

// A plan, or the failure that ended the preparation.
struct preparation {
    instance_plan plan;
    run_failure failure;
};

// The class-path option of the plan: "-Djava.class.path=" and its entries
// joined by the class path separator.
std::string class_path_option(const instance_plan& plan);
