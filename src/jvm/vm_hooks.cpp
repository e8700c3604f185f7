#include "jvm/vm_hooks.h"

#include "jvm/jvm_host.h"
#include "log/log.h"
#include "log/captured_output.h"
#include "platform/os_errors.h"
#include "platform/os_vm_stdio.h"
#include "text/bounded_text.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

// The VM's phase, for the hooks to tell an end during its creation or its
// destruction from one while the application runs.
enum { VM_CREATING, VM_RUNNING, VM_DESTROYING };

// What the hooks keep. The VM calls them on threads of its own.
struct vm_hooks_room {
    // Set before the creation; called by the VM's exit and abort hooks, on
    // whatever thread the VM ends the process from.
    std::atomic<vm_exit_handler> exit_handler{nullptr};
    std::atomic<int> phase{VM_CREATING};
    // The VM prints from any of its threads, a message often in several
    // pieces; the unfinished line waits in line for its end. Guarded by
    // text_lock, like the buffer each piece is formatted into, and the
    // capture of standard error while the VM is created with the length of
    // it already taken.
    std::mutex text_lock;
    char text[LONG_TEXT_CAPACITY];
    char line[LONG_TEXT_CAPACITY];
    size_t line_length = 0;
    bool capturing = false;
    size_t captured_taken = 0;
};
static vm_hooks_room g_hooks;

// Logs the unfinished line of the VM's output, if any. The caller holds
// g_hooks.text_lock.
static void end_vm_line()
{
    if (g_hooks.line_length == 0)
        return;
    g_hooks.line[g_hooks.line_length] = '\0';
    g_hooks.line_length = 0;
    log_line(g_hooks.line);
}

// Adds a piece of the VM's output: every line it ends becomes a log line
// (empty ones are left out), and a line longer than a log line goes on in
// the next. The caller holds g_hooks.text_lock.
static void take_vm_text(const char* text)
{
    for (; *text != '\0'; ++text) {
        if (*text == '\n' || *text == '\r') {
            end_vm_line();
            continue;
        }
        if (g_hooks.line_length == sizeof g_hooks.line - 1)
            end_vm_line();
        g_hooks.line[g_hooks.line_length++] = *text;
    }
}

// A message longer than the buffer it is formatted into is logged as far as
// it goes, then this line.
static void note_cut_short(size_t length)
{
    log_format("The VM's message above is cut short; its length: %lu", static_cast<unsigned long>(length));
}

// While the VM is created, what its runtime prints on standard error goes to
// a capture, the text its hook is given for it included: the two keep their
// order, and a warning, whose first words come through the hook and the rest
// straight from the runtime, stays one line.

// Takes what the capture caught since it was last taken as the VM's text.
// The caller holds g_hooks.text_lock.
static void take_captured_text()
{
    size_t length = 0;
    while ((length = os_read_std_error_capture(g_hooks.captured_taken, g_hooks.text, sizeof g_hooks.text)) > 0) {
        g_hooks.captured_taken += length;
        take_vm_text(g_hooks.text);
    }
}

// Ends the capture, if any: what it caught becomes log lines and, where the
// log is not shown on the console, goes on to standard error. The caller
// holds g_hooks.text_lock.
static void end_capture()
{
    if (!g_hooks.capturing)
        return;
    g_hooks.capturing = false;
    os_end_std_error_capture();
    take_captured_text();
    end_vm_line();
    if (!log_echoes_to_console()) {
        size_t length = 0;
        for (size_t offset = 0; (length = os_read_std_error_capture(offset, g_hooks.text, sizeof g_hooks.text)) > 0;
             offset += length)
            fputs(g_hooks.text, stderr);
    }
    os_drop_std_error_capture();
}

void capture_early_vm_text()
{
    std::lock_guard<std::mutex> hold(g_hooks.text_lock);
    os_error error;
    os_capture_start result = os_begin_std_error_capture(&error);
    if (result == OS_CAPTURE_FAILED)
        log_format("Cannot capture standard error while the VM is created: %lu", error.code);
    g_hooks.capturing = result == OS_CAPTURE_BEGUN;
    g_hooks.captured_taken = 0;
}

// HotSpot prints a warning's first words through the hook ("OpenJDK 64-Bit
// Server VM warning: "), then its text and line end straight on its runtime's
// standard error. Without a capture the log's line says where the text went.
static const char WARNING_PREFIX_END[] = " warning: ";

static bool is_warning_prefix(const char* text, size_t length)
{
    size_t end_length = sizeof WARNING_PREFIX_END - 1;
    return length >= end_length && strcmp(text + length - end_length, WARNING_PREFIX_END) == 0 &&
           strchr(text, '\n') == nullptr;
}

void flush_vm_text()
{
    std::lock_guard<std::mutex> hold(g_hooks.text_lock);
    end_capture();
    end_vm_line();
}

// The VM's vfprintf hook. Text for a stream of the VM's own (a GC log file)
// is written there and nowhere else. Text for its standard output or error
// becomes log lines; in the foreground these show it on the console, so it
// is written to the stream only where the log is not shown there (a
// service's captured streams). Returns the length of the text, or a negative
// number when it cannot be formatted or written.
__attribute__((format(printf, 2, 0))) static jint JNICALL print_vm_text(FILE* stream, const char* format,
                                                                      va_list arguments)
{
    os_vm_stream kind = os_vm_stream_kind(stream);
    if (kind == OS_VM_OTHER_STREAM)
        return os_vm_vfprintf(stream, false, format, arguments);
    std::lock_guard<std::mutex> hold(g_hooks.text_lock);
    if (g_hooks.capturing && kind == OS_VM_STANDARD_ERROR) {
        int length = os_vm_vfprintf(stream, true, format, arguments);
        take_captured_text();
        return length;
    }
    // What was printed on standard error before comes first.
    take_captured_text();
    va_list copy;
    va_copy(copy, arguments);
    int length = vsnprintf(g_hooks.text, sizeof g_hooks.text, format, copy);
    va_end(copy);
    if (!log_echoes_to_console())
        os_vm_vfprintf(stream, true, format, arguments);
    if (length < 0)
        return length;
    take_vm_text(g_hooks.text);
    if (length >= static_cast<int>(sizeof g_hooks.text)) {
        end_vm_line();
        note_cut_short(static_cast<size_t>(length));
    } else if (kind == OS_VM_STANDARD_ERROR && is_warning_prefix(g_hooks.text, static_cast<size_t>(length))) {
        take_vm_text(log_echoes_to_console() ? "[its text went to standard error only]"
                                             : "[its text went to standard error only: zrsvc-stdout.txt]");
        end_vm_line();
    }
    return length;
}

// The VM's exit hook: the VM is about to end the process with code, for the
// application called System.exit() or the VM gave up. When the handler
// returns (there is none), the VM ends the process itself with code.
static void JNICALL vm_exits(jint code)
{
    flush_vm_text();
    vm_exit_handler handler = g_hooks.exit_handler.load();
    if (handler != nullptr)
        handler(code, g_hooks.phase.load() == VM_CREATING ? VM_END_CREATING : VM_END_EXIT);
}

// The VM's abort hook: the VM gives up during its creation (a heap too
// small, say) or its destruction (writing its class archive to a full disk:
// measured on OpenJDK 17, on a thread of its own), or while the application
// runs (a fatal error, or its class archive at the application's
// System.exit()). Each goes to the exit handler; when it returns, the VM ends
// the process its own way (with a core dump where configured).
static void JNICALL vm_aborts()
{
    flush_vm_text();
    vm_exit_handler handler = g_hooks.exit_handler.load();
    int phase = g_hooks.phase.load();
    if (handler != nullptr)
        handler(1, phase == VM_CREATING  ? VM_END_CREATING
                   : phase == VM_RUNNING ? VM_END_ABORTING
                                         : VM_END_DESTROYING);
    log_line("The Java VM aborted the process");
    // What the VM printed about it (its fatal error's report) is in the
    // capture's pipe: the process ends once this returns.
    end_output_capture();
}

void on_vm_exit(vm_exit_handler handler)
{
    g_hooks.exit_handler.store(handler);
}

void vm_hooks_created()
{
    g_hooks.phase.store(VM_RUNNING);
}

void vm_hooks_destroying()
{
    g_hooks.phase.store(VM_DESTROYING);
}

void put_vm_hooks(JavaVMOption* options)
{
    options[0].optionString = const_cast<char*>("vfprintf");
    options[0].extraInfo = reinterpret_cast<void*>(print_vm_text);
    options[1].optionString = const_cast<char*>("exit");
    options[1].extraInfo = reinterpret_cast<void*>(vm_exits);
    options[2].optionString = const_cast<char*>("abort");
    options[2].extraInfo = reinterpret_cast<void*>(vm_aborts);
}
