// The Java VM's options of an instance's conf/jvm.options, one per line.
#pragma once
#include "instance/instance_plan.h"

#include <cstddef>

// Takes the options of the file's text, length bytes followed by room for one
// more: trimmed of blanks, without blank lines and '#' comments, after a
// UTF-8 byte-order mark, lines ending in LF, CRLF or CR. Each option is left in
// text, ended by a zero put behind it, and a copy added to options. Returns 0, or -1
// with refusal (capacity LONG_TEXT_CAPACITY) saying why the text is refused:
// saved as UTF-16, larger than the limit, a line too long, holding a zero
// byte, setting the class path or naming another options file, or too many
// options ("line 3: '-cp x' refused: ...").
int parse_jvm_options(char* text, size_t length, std::vector<std::string>* options, char* refusal);

// True when the option is word, alone or followed by '=' or a blank.
bool option_is(const char* option, const char* word);

// Adds the options of instance_folder's conf/jvm.options to options. Returns
// no failure, also when there is no such file, or the failure that says why
// the file is refused: it cannot be read, or parse_jvm_options refuses it.
run_failure read_jvm_options(const std::string& instance_folder, std::vector<std::string>* options);
