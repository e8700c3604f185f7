// The Java VM's options of an instance: the class-path option, then the
// options of the instance's conf/jvm.options, one per line.
#pragma once

// Limits of conf/jvm.options, far above what a real file holds.
enum {
    JVM_OPTIONS_FILE_MOST = 65536, // bytes of the whole file
    JVM_OPTION_LINE_MOST = 4095,   // characters of a line, without its line end
    JVM_OPTIONS_MOST = 256,        // options taken from the file
};

// The options in the order the VM gets them: g_jvm_options[0] is the
// class-path option, the file's options follow; g_jvm_option_count counts
// them all. Set by read_jvm_options on the main thread before the thread
// that creates the VM is started; only read afterwards.
extern const char* g_jvm_options[1 + JVM_OPTIONS_MOST];
extern int g_jvm_option_count;

// Takes the class-path option and the options of instance_folder's
// conf/jvm.options (trimmed of blanks, without blank lines and '#' comments).
// Returns 0, also when there is no such file, or -1 after logging why the
// file is refused: it cannot be read, is beyond the limits, or sets the
// class path.
int read_jvm_options(const char* instance_folder, const char* class_path_option);
