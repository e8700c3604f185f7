// The Java VM's options of an instance's conf/jvm.options, one per line.
#pragma once
#include "jvm/jvm_launch.h"

#include <cstddef>

// Takes the options of the file's text, length bytes followed by room for one
// more: trimmed of blanks, without blank lines and '#' comments, after a
// UTF-8 byte-order mark, lines ending in LF, CRLF or CR; a text that is
// UTF-8 converted to the code page the VM reads its options in (Windows), a
// character it cannot hold refused by its line. Each option is left in
// text, ended by a zero put behind it, and added to launch. Returns 0, or -1
// with refusal (capacity LONG_TEXT_CAPACITY) saying why the text is refused:
// saved as UTF-16, larger than the limit, a line too long, holding a zero
// byte, setting the class path or naming another options file, or too many
// options ("line 3: '-cp x' refused: ...").
int parse_jvm_options(char* text, size_t length, jvm_launch* launch, char* refusal);

// The stack size the options give the VM's threads, in bytes, as the VM takes
// them: the last of -Xss<size> (bytes, or with k, m or g) and
// -XX:ThreadStackSize=<size> (KiB). 0 when no option gives one, or its size
// cannot be read (the VM then refuses it).
unsigned long long option_stack_size(const jvm_launch& launch);

// Adds the options of instance_folder's conf/jvm.options to launch. Returns 0,
// also when there is no such file, or -1 after logging why the file is
// refused: it cannot be read, or parse_jvm_options refuses it.
int read_jvm_options(const char* instance_folder, jvm_launch* launch);
