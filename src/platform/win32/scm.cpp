#include "platform/os_scm.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

bool os_scm_available()
{
    return true;
}

// The handle, or null with *error naming call and its code.
static void* handle_or_failure(SC_HANDLE handle, const char* call, os_error* error)
{
    if (handle == nullptr)
        *error = os_failed(call);
    return handle;
}

void* os_scm_open(os_error* error)
{
    return handle_or_failure(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), "OpenSCManagerA", error);
}

void* os_scm_create_service(void* scm, const char* name, const char* command_line, os_error* error)
{
    return handle_or_failure(CreateServiceA(static_cast<SC_HANDLE>(scm), name, name, SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                            command_line, nullptr, nullptr, nullptr, nullptr, nullptr),
                             "CreateServiceA", error);
}

void* os_scm_open_service_for_delete(void* scm, const char* name, os_error* error)
{
    return handle_or_failure(OpenServiceA(static_cast<SC_HANDLE>(scm), name, DELETE), "OpenServiceA", error);
}

os_error os_scm_delete_service(void* service)
{
    return DeleteService(static_cast<SC_HANDLE>(service)) ? os_error{} : os_failed("DeleteService");
}

void os_scm_close(void* handle)
{
    CloseServiceHandle(static_cast<SC_HANDLE>(handle));
}

static os_service_main_fn g_service_main = nullptr;

static void WINAPI service_main_trampoline(DWORD argc, LPSTR* argv)
{
    g_service_main(static_cast<int>(argc), argv);
}

os_error os_service_dispatch(const char* name, os_service_main_fn service_main)
{
    g_service_main = service_main;
    SERVICE_TABLE_ENTRYA table[] = {
        {const_cast<char*>(name), service_main_trampoline},
        {nullptr, nullptr},
    };
    return StartServiceCtrlDispatcherA(table) ? os_error{} : os_failed("StartServiceCtrlDispatcherA");
}

static os_control_handler_fn g_control_handler = nullptr;

// The extended handler: the SCM delivers the preshutdown control only to a
// handler registered this way. As documented for a handler: NO_ERROR for the
// interrogation and for a control it handles, ERROR_CALL_NOT_IMPLEMENTED for
// any other.
static DWORD WINAPI control_trampoline(DWORD control, DWORD, void*, void*)
{
    if (control == SERVICE_CONTROL_INTERROGATE)
        return NO_ERROR;
    return g_control_handler(control) ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void* os_service_register_handler(const char* name, os_control_handler_fn handler, os_error* error)
{
    g_control_handler = handler;
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(name, control_trampoline, nullptr);
    if (handle == nullptr)
        *error = os_failed("RegisterServiceCtrlHandlerExA");
    return handle;
}

os_error os_service_report(void* status_handle, const os_service_status* status)
{
    SERVICE_STATUS record = {};
    record.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    record.dwCurrentState = status->state;
    record.dwControlsAccepted = status->controls_accepted;
    record.dwWin32ExitCode = status->win32_exit_code;
    record.dwServiceSpecificExitCode = status->service_exit_code;
    record.dwCheckPoint = status->check_point;
    record.dwWaitHint = status->wait_hint;
    return SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(status_handle), &record) ? os_error{}
                                                                                         : os_failed("SetServiceStatus");
}

// The Application log's key, below which each event source has its own. A
// source's key is opened below it by its name alone: a narrow registry call
// may not take a whole path that long (Wine's stops at MAX_PATH characters).
static const char APPLICATION_LOG_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

// A registry call gives its error code as its result, not as the thread's.
static os_error registry_failure(LSTATUS result, const char* call)
{
    return os_error{call, static_cast<unsigned long>(result)};
}

os_error os_event_source_add(const char* name, const char* exe_path)
{
    HKEY log = nullptr;
    LSTATUS result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, APPLICATION_LOG_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_CREATE_SUB_KEY, nullptr, &log, nullptr);
    HKEY source = nullptr;
    if (result == ERROR_SUCCESS) {
        result = RegCreateKeyExA(log, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &source,
                                 nullptr);
        RegCloseKey(log);
    }
    if (result != ERROR_SUCCESS)
        return registry_failure(result, "RegCreateKeyExA");
    // The message table of messages.mc, built into the executable.
    result = RegSetValueExA(source, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exe_path),
                            static_cast<DWORD>(strlen(exe_path) + 1));
    DWORD types = EVENTLOG_ERROR_TYPE;
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(source, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                sizeof types);
    RegCloseKey(source);
    return result == ERROR_SUCCESS ? os_error{} : registry_failure(result, "RegSetValueExA");
}

os_source_removal os_event_source_remove(const char* name, os_error* error)
{
    HKEY log = nullptr;
    LSTATUS result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, APPLICATION_LOG_KEY, 0, KEY_ALL_ACCESS, &log);
    if (result == ERROR_SUCCESS) {
        result = RegDeleteKeyA(log, name);
        RegCloseKey(log);
    }
    if (result == ERROR_FILE_NOT_FOUND)
        return OS_SOURCE_NONE;
    if (result == ERROR_SUCCESS)
        return OS_SOURCE_REMOVED;
    *error = registry_failure(result, "RegDeleteKeyA");
    return OS_SOURCE_FAILED;
}

// The one message of messages.mc: "%1".
enum { EVENT_TEXT_ONLY = 1 };

os_error os_event_log_error(const char* name, const char* text)
{
    HANDLE source = RegisterEventSourceA(nullptr, name);
    if (source == nullptr)
        return os_failed("RegisterEventSourceA");
    const char* strings[] = {text};
    os_error error;
    if (!ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, EVENT_TEXT_ONLY, nullptr, 1, 0, strings, nullptr))
        error = os_failed("ReportEventA");
    DeregisterEventSource(source);
    return error;
}
