// The instance's class-data archive: the classes its VM loaded, which the
// next VM maps instead of loading and verifying them again. It lies in the
// instance folder as zrsvc.jsa, beside zrsvc.jsa.txt, the record of what it
// was made from (the Java home, the VM library, every JAR of the class path
// with its size and modification time, the options of jvm.options) and of
// the archive itself. The VM writes a new one while it is destroyed, as
// zrsvc.jsa.new.
#pragma once
#include "instance/instance_plan.h"

// Decides, in the instance folder as the current directory, whether the run
// maps the archive (it exists and its record matches the run), has the VM
// write a new one (none, or its record differs), or stands aside
// (ZR_CLASS_ARCHIVE=off, jvm.options names a sharing option, conf holds
// class files, the instance folder cannot be written, the inputs cannot be
// read); puts the options of that choice in front of the plan's options (those
// of jvm.options), sets the plan's decision and logs one line that says which
// and why. Returns the failure of an invalid ZR_CLASS_ARCHIVE, else none.
run_failure plan_class_archive(instance_plan* plan);

// After the VM's destruction: when the plan had the VM write an archive, puts
// it in place with its record if the VM was destroyed cleanly (destroyed)
// and wrote one, else removes what was written. Failures are logged. The
// run's owner calls it, or drop_class_archive, once.
void finish_class_archive(const instance_plan& plan, bool destroyed);

// True when the plan had the VM write an archive and the VM has begun to
// write it (while destroyed).
bool class_archive_in_writing(const instance_plan& plan);

// Removes what the VM wrote of the archive and logs that it was not written,
// for the reason given.
void drop_class_archive(const char* reason);

// Whether a text of ZR_CLASS_ARCHIVE asks for the archive: 1 for "on", 0 for
// "off", -1 for any other text.
int parse_class_archive_setting(const char* text);

// The first of the options that has the VM share or archive classes on its
// own (-Xshare:..., -XX:SharedArchiveFile=...,
// -XX:ArchiveClassesAtExit=..., any -XX: flag whose name holds "Shared",
// "Archive" or "ClassList"); null when there is none.
const char* sharing_option(const std::vector<std::string>& options);
