/* A stand-in Windows service for the tests of the machine path: it installs itself under a
 * name, runs under the service manager answering pause, continue and stop, and controls an
 * installed service of that name.
 *
 *   standin_service install NAME     register this program as the service NAME (demand start)
 *   standin_service control NAME start|pause|continue|stop
 *                                    and wait until the service reaches the state asked for
 *   standin_service run NAME         what the service manager starts
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static SERVICE_STATUS_HANDLE g_handle;
static SERVICE_STATUS g_status;
static HANDLE g_stopped;

static void report(DWORD state) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    SetServiceStatus(g_handle, &g_status);
}

static DWORD WINAPI onControl(DWORD control, DWORD type, LPVOID data, LPVOID context) {
    (void)type;
    (void)data;
    (void)context;
    switch (control) {
    case SERVICE_CONTROL_PAUSE:
        report(SERVICE_PAUSED);
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        report(SERVICE_RUNNING);
        return NO_ERROR;
    case SERVICE_CONTROL_STOP:
        report(SERVICE_STOPPED);
        SetEvent(g_stopped);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

static void WINAPI serviceMain(DWORD argc, LPWSTR *argv) {
    g_handle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", onControl, NULL);
    if (!g_handle)
        return;
    g_stopped = CreateEventW(NULL, TRUE, FALSE, NULL);
    report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopped, INFINITE);
}

static int install(const wchar_t *name) {
    wchar_t self[MAX_PATH];
    wchar_t command[MAX_PATH + 300];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    swprintf(command, MAX_PATH + 300, L"\"%ls\" run %ls", self, name);
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return 2;
    SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, command, NULL, NULL, NULL, NULL, NULL);
    if (!service && GetLastError() != ERROR_SERVICE_EXISTS) {
        fprintf(stderr, "cannot install %ls: error %lu\n", name, GetLastError());
        return 2;
    }
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static int control(const wchar_t *name, const wchar_t *action) {
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, name, SERVICE_ALL_ACCESS) : NULL;
    if (!service) {
        fprintf(stderr, "cannot open the service %ls: error %lu\n", name, GetLastError());
        return 2;
    }
    SERVICE_STATUS status;
    DWORD wanted = SERVICE_RUNNING;
    BOOL done = FALSE;
    if (wcscmp(action, L"start") == 0) {
        done = StartServiceW(service, 0, NULL);
    } else if (wcscmp(action, L"pause") == 0) {
        wanted = SERVICE_PAUSED;
        done = ControlService(service, SERVICE_CONTROL_PAUSE, &status);
    } else if (wcscmp(action, L"continue") == 0) {
        done = ControlService(service, SERVICE_CONTROL_CONTINUE, &status);
    } else if (wcscmp(action, L"stop") == 0) {
        wanted = SERVICE_STOPPED;
        done = ControlService(service, SERVICE_CONTROL_STOP, &status);
    }
    if (!done) {
        fprintf(stderr, "cannot %ls the service %ls: error %lu\n", action, name, GetLastError());
        return 2;
    }
    for (int i = 0; i < 100; ++i) {
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == wanted)
            return 0;
        Sleep(100);
    }
    fprintf(stderr, "the service %ls did not reach state %lu\n", name, wanted);
    return 3;
}

int wmain(int argc, wchar_t **argv) {
    if (argc == 3 && wcscmp(argv[1], L"install") == 0)
        return install(argv[2]);
    if (argc == 4 && wcscmp(argv[1], L"control") == 0)
        return control(argv[2], argv[3]);
    if (argc == 3 && wcscmp(argv[1], L"run") == 0) {
        SERVICE_TABLE_ENTRYW table[] = {{argv[2], serviceMain}, {NULL, NULL}};
        return StartServiceCtrlDispatcherW(table) ? 0 : 1;
    }
    fprintf(stderr, "usage: standin_service install NAME | control NAME ACTION | run NAME\n");
    return 2;
}
