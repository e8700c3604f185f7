// What the host needs to run an instance's VM, built once by the instance
// layer before any thread of the VM's exists and only read afterwards.
#pragma once

// Limits of conf/jvm.options, far above what a real file holds.
enum {
    JVM_OPTIONS_FILE_MOST = 65536, // bytes of the whole file
    JVM_OPTION_LINE_MOST = 4095,   // characters of a line, without its line end
    JVM_OPTIONS_MOST = 256,        // options taken from the file
    CLASS_ARCHIVE_OPTIONS_MOST = 2, // the host's own for its class-data archive
    JVM_LAUNCH_OPTIONS_MOST = 1 + CLASS_ARCHIVE_OPTIONS_MOST + JVM_OPTIONS_MOST,
};

struct jvm_launch {
    const char* java_home;
    // In the order the VM gets them: the class-path option, those of the
    // instance's class-data archive (class_archive.h), then the options of
    // conf/jvm.options.
    const char* options[JVM_LAUNCH_OPTIONS_MOST];
    int option_count;
    // Seconds from a stop request to the end of the process when start()
    // has not returned by then; 0 waits as long as start() takes.
    int stop_timeout;
};
