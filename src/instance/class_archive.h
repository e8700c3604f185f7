// The instance's class-data archive: the classes its VM loaded, which the
// next VM maps instead of loading and verifying them again. It lies in the
// instance folder as zrsvc.jsa, beside zrsvc.jsa.txt, the record of what it
// was made from (the Java home, the VM library, every JAR of the class path
// with its stamp, the options of jvm.options and of the environment) and of
// the archive itself, or of why the run before made none. The VM writes a
// new one as it ends, into a folder of the run's own, from which it is moved
// into place.
#pragma once
#include "instance/instance_plan.h"

#include <cstddef>

// Decides, in the instance folder as the current directory, whether the run
// maps the archive (it exists and its record matches the run), has the VM
// write a new one (none, or its record differs), or stands aside
// (ZR_CLASS_ARCHIVE=off, an option of jvm.options or of the environment with
// which the VM cannot write or use one, a Java older than 13, a run before
// in which the VM failed with the same inputs, class files in conf, a file
// in the archive's way, the instance folder cannot be written, the inputs
// cannot be read); puts the options of that choice in front of the plan's
// options (those of jvm.options), sets the plan's decision and logs one line
// that says which and why. Returns the failure of an invalid
// ZR_CLASS_ARCHIVE, else none.
run_failure plan_class_archive(instance_plan* plan);

// Right after the VM's creation: when the plan maps the archive, says
// whether the VM did (where the platform can tell), and has the next run
// renew it when it did not.
void class_archive_vm_created(const instance_plan& plan);

// The run's owner calls one of the three below once, when the plan had the
// VM write an archive.

// The VM was not created: the next runs stand aside until the inputs
// change, so that a start that fails does not fail again for the archive.
void class_archive_vm_not_created(const instance_plan& plan);

// After the VM wrote its archive as it ended (destroyed cleanly, or through
// the application's System.exit()): puts it in place with its record if
// application_ran (start() was invoked and the run ended as the
// application's own end or a normal stop) and the VM wrote one; else removes
// what was written. Failures are logged.
void finish_class_archive(const instance_plan& plan, bool destroyed, bool application_ran);

// The VM gave up writing it: removes what was written, logs that the archive
// was not written for the reason given, and records that the VM failed with
// these inputs, so that the next runs stand aside until they change.
void fail_class_archive(const instance_plan& plan, const char* reason);

// Whether a text of ZR_CLASS_ARCHIVE asks for the archive: 1 for "on", 0 for
// "off", -1 for any other text.
int parse_class_archive_setting(const char* text);

// Why the archive stands aside for a VM option: "" for an option that has
// the VM share or archive classes on its own (-Xshare:..., any -XX: flag
// whose name holds "Shared", "Archive" or "ClassList"), the rest of a
// sentence for one with which the VM cannot write or use the archive
// (agents, module patches, ...); null for any other option.
const char* archive_aside_reason(const char* option);

// Splits the value of an environment variable of VM options
// (JAVA_TOOL_OPTIONS) as the VM does: options are separated by white space,
// and a quoted part (' or ") is taken whole without its quotes. The options
// go to buffer (capacity bytes), each ended by a zero, and options (room for
// most). Returns their count, -1 for a quote without its match, -2 when they
// do not fit.
int split_vm_options_variable(const char* text, char* buffer, size_t capacity, const char** options, int most);

// Searches the folder path (capacity PATH_CAPACITY) and the folders below it,
// following links to folders but visiting each folder once, for a class
// file the VM could load: CONF_CLASS with path set to the file,
// CONF_TOO_LARGE (too many entries or folders, or too deep to be listed)
// with path set to the folder where the search stopped, or CONF_NO_CLASS.
enum conf_finding { CONF_NO_CLASS, CONF_CLASS, CONF_TOO_LARGE };
conf_finding find_class_file(char* path);
