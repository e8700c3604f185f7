#include "jvm/exception_text.h"

#include "log/log.h"
#include "text/bounded_text.h"

#include <cstring>

// What printStackTrace writes for the exception: its text, its frames and its
// causes. Null when that cannot be had; an exception may then be pending.
static jstring stack_trace_text(JNIEnv* env, jthrowable thrown)
{
    jclass writer_class = env->FindClass("java/io/StringWriter");
    jmethodID writer_init = writer_class ? env->GetMethodID(writer_class, "<init>", "()V") : nullptr;
    jobject writer = writer_init ? env->NewObject(writer_class, writer_init) : nullptr;
    jclass printer_class = writer ? env->FindClass("java/io/PrintWriter") : nullptr;
    jmethodID printer_init = printer_class ? env->GetMethodID(printer_class, "<init>", "(Ljava/io/Writer;)V") : nullptr;
    jobject printer = printer_init ? env->NewObject(printer_class, printer_init, writer) : nullptr;
    jmethodID print = printer ? env->GetMethodID(env->GetObjectClass(thrown), "printStackTrace",
                                                 "(Ljava/io/PrintWriter;)V")
                              : nullptr;
    if (print == nullptr)
        return nullptr;
    env->CallVoidMethod(thrown, print, printer);
    jmethodID to_string = env->ExceptionCheck() ? nullptr
                                                : env->GetMethodID(writer_class, "toString", "()Ljava/lang/String;");
    jobject text = to_string ? env->CallObjectMethod(writer, to_string) : nullptr;
    return env->ExceptionCheck() ? nullptr : static_cast<jstring>(text);
}

// The exception's toString(), or null; an exception may then be pending.
static jstring short_text(JNIEnv* env, jthrowable thrown)
{
    jmethodID to_string = env->GetMethodID(env->GetObjectClass(thrown), "toString", "()Ljava/lang/String;");
    jobject text = to_string ? env->CallObjectMethod(thrown, to_string) : nullptr;
    return env->ExceptionCheck() ? nullptr : static_cast<jstring>(text);
}

enum { MOST_TRACE_LINES = 60 };

static const char CUT_MARK[] = "...";

// Copies the length characters of text into line (capacity LONG_TEXT_CAPACITY)
// so that they fit behind a lead of lead_length characters in one log
// message; a text too long keeps its first part, up to a whole character,
// and ends in "..." where it was cut.
static void copy_java_line(char* line, const char* text, size_t length, size_t lead_length)
{
    size_t room = LONG_TEXT_CAPACITY - 1 - lead_length;
    bool cut = length > room;
    if (cut) {
        length = room - (sizeof CUT_MARK - 1);
        // Not inside a character's UTF-8 sequence.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    memcpy(line, text, length);
    line[length] = '\0';
    if (cut)
        strcat(line, CUT_MARK);
}

// Logs a Java text line by line, the first behind the prefix; at most
// MOST_TRACE_LINES lines, then how many more there were. A line too long for
// a log message is cut, never dropped: an exception's type comes first.
static void log_java_lines(const char* prefix, const char* text)
{
    char line[LONG_TEXT_CAPACITY];
    int count = 0;
    for (const char* at = text; *at != '\0';) {
        const char* end = strchr(at, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
        if (length > 0 && at[length - 1] == '\r')
            --length;
        if (length > 0 && ++count <= MOST_TRACE_LINES) {
            const char* lead = count == 1 ? prefix : "";
            copy_java_line(line, at, length, strlen(lead));
            log_format("%s%s", lead, line);
        }
        at = end != nullptr ? end + 1 : at + strlen(at);
    }
    if (count > MOST_TRACE_LINES)
        log_format("... lines of the trace left out: %d", count - MOST_TRACE_LINES);
}

bool clear_exception(JNIEnv* env, const char* prefix)
{
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr)
        return false;
    env->ExceptionClear();
    jstring text = stack_trace_text(env, thrown);
    if (text == nullptr) {
        env->ExceptionClear();
        text = short_text(env, thrown);
    }
    const char* chars = nullptr;
    if (text != nullptr)
        chars = env->GetStringUTFChars(text, nullptr);
    env->ExceptionClear();
    log_java_lines(prefix, chars != nullptr ? chars : "(its text is not available)");
    if (chars != nullptr)
        env->ReleaseStringUTFChars(text, chars);
    // The local references go with the thread's detachment or the VM's end.
    return true;
}
