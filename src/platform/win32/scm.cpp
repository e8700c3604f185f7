#include "platform/os_scm.h"

#include <windows.h>

bool os_scm_available()
{
    return true;
}

void* os_scm_open()
{
    return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

void* os_scm_create_service(void* scm, const char* name, const char* command_line)
{
    return CreateServiceA(static_cast<SC_HANDLE>(scm), name, name, SERVICE_ALL_ACCESS,
                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                          SERVICE_ERROR_NORMAL, command_line, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
}

void* os_scm_open_service_for_delete(void* scm, const char* name)
{
    return OpenServiceA(static_cast<SC_HANDLE>(scm), name, DELETE);
}

int os_scm_delete_service(void* service)
{
    return DeleteService(static_cast<SC_HANDLE>(service)) ? 0 : -1;
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

int os_service_dispatch(const char* name, os_service_main_fn service_main)
{
    g_service_main = service_main;
    SERVICE_TABLE_ENTRYA table[] = {
        {const_cast<char*>(name), service_main_trampoline},
        {nullptr, nullptr},
    };
    return StartServiceCtrlDispatcherA(table) ? 0 : -1;
}

static os_control_handler_fn g_control_handler = nullptr;

static void WINAPI control_trampoline(DWORD control)
{
    g_control_handler(control);
}

void* os_service_register_handler(const char* name, os_control_handler_fn handler)
{
    g_control_handler = handler;
    return RegisterServiceCtrlHandlerA(name, control_trampoline);
}

int os_service_report(void* status_handle, const os_service_status* status)
{
    SERVICE_STATUS record = {};
    record.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    record.dwCurrentState = status->state;
    record.dwControlsAccepted = status->controls_accepted;
    record.dwWin32ExitCode = status->win32_exit_code;
    record.dwServiceSpecificExitCode = status->service_exit_code;
    record.dwCheckPoint = status->check_point;
    record.dwWaitHint = status->wait_hint;
    return SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(status_handle), &record) ? 0 : -1;
}
