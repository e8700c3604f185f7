// The text of a Java exception as log lines.
#pragma once
#include <jni.h>

// Clears the exception pending on the thread of env, if any, and logs the
// prefix followed by the exception's stack trace (or, when that cannot be
// had, its toString()), a line of Java text a log line; at most 60 lines,
// then how many more there were. Everything the description itself raises is
// cleared as well. Returns true when one was pending.
bool clear_exception(JNIEnv* env, const char* prefix);
