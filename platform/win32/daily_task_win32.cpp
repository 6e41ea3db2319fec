#include "platform/win32/daily_task_win32.h"

#include <cstdio>

#include "platform/win32/windows_win32.h"
#include <oleauto.h>
#include <taskschd.h>

namespace fw {
namespace {

// Owners of the COM objects, strings and the apartment this file uses.
template <class T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p != nullptr) p->Release();
    }
    T** Out() { return &p; }
    T* operator->() const { return p; }
};

class Bstr {
public:
    explicit Bstr(const std::string& text) {
        int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
        if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
        value = SysAllocString(wide.c_str());
    }
    ~Bstr() { SysFreeString(value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return value; }

private:
    BSTR value = nullptr;
};

class Apartment {
public:
    Apartment() : result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~Apartment() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    HRESULT result;
};

std::string Failed(const char* what, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (0x%08lx)", what,
                  static_cast<unsigned long>(hr));
    return text;
}

bool RootFolder(ComPtr<ITaskService>& service, ComPtr<ITaskFolder>& folder, std::string& error) {
    HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ITaskService, reinterpret_cast<void**>(service.Out()));
    if (FAILED(hr)) return error = Failed("Starting the Task Scheduler", hr), false;
    VARIANT none;
    VariantInit(&none);
    hr = service->Connect(none, none, none, none);
    if (FAILED(hr)) return error = Failed("Connecting to the Task Scheduler", hr), false;
    Bstr root("\\");
    hr = service->GetFolder(root, folder.Out());
    if (FAILED(hr)) return error = Failed("Opening its task folder", hr), false;
    return true;
}

}  // namespace

std::string DailyTaskName() {
    char user[257] = {};
    DWORD size = sizeof user;
    std::string name = "Fablewright Update Check";
    if (GetUserNameA(user, &size) && user[0] != '\0') name += std::string(" (") + user + ")";
    return name;
}

bool RegisterDailyTask(const std::string& arguments, std::string& error) {
    char self[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return error = "the program's own file is unknown", false;

    Apartment apartment;
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> folder;
    if (!RootFolder(service, folder, error)) return false;
    ComPtr<ITaskDefinition> task;
    HRESULT hr = service->NewTask(0, task.Out());
    if (FAILED(hr)) return error = Failed("Making the task", hr), false;

    ComPtr<IRegistrationInfo> info;
    if (SUCCEEDED(task->get_RegistrationInfo(info.Out()))) {
        info->put_Description(Bstr("Checks daily for Fablewright template updates and notifies."));
    }
    ComPtr<ITaskSettings> settings;
    hr = task->get_Settings(settings.Out());
    if (FAILED(hr)) return error = Failed("Reading the task's settings", hr), false;
    settings->put_RunOnlyIfNetworkAvailable(VARIANT_TRUE);
    settings->put_StartWhenAvailable(VARIANT_TRUE);
    settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
    settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    settings->put_ExecutionTimeLimit(Bstr("PT2H"));

    ComPtr<ITriggerCollection> triggers;
    hr = task->get_Triggers(triggers.Out());
    if (FAILED(hr)) return error = Failed("Reading the task's triggers", hr), false;
    ComPtr<ITrigger> trigger;
    hr = triggers->Create(TASK_TRIGGER_DAILY, trigger.Out());
    if (FAILED(hr)) return error = Failed("Making the daily trigger", hr), false;
    ComPtr<IDailyTrigger> daily;
    hr = trigger->QueryInterface(IID_IDailyTrigger, reinterpret_cast<void**>(daily.Out()));
    if (FAILED(hr)) return error = Failed("Setting the daily trigger", hr), false;
    daily->put_StartBoundary(Bstr("2026-01-01T10:00:00"));
    daily->put_DaysInterval(1);
    // Not every Task Scheduler keeps a random delay; the task runs daily without one too.
    daily->put_RandomDelay(Bstr("PT4H"));

    ComPtr<IActionCollection> actions;
    hr = task->get_Actions(actions.Out());
    if (FAILED(hr)) return error = Failed("Reading the task's actions", hr), false;
    ComPtr<IAction> action;
    hr = actions->Create(TASK_ACTION_EXEC, action.Out());
    if (FAILED(hr)) return error = Failed("Making the task's action", hr), false;
    ComPtr<IExecAction> exec;
    hr = action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(exec.Out()));
    if (FAILED(hr)) return error = Failed("Setting the task's program", hr), false;
    exec->put_Path(Bstr(self));
    exec->put_Arguments(Bstr(arguments));

    VARIANT none;
    VariantInit(&none);
    VARIANT noPassword;
    VariantInit(&noPassword);
    ComPtr<IRegisteredTask> registered;
    hr = folder->RegisterTaskDefinition(Bstr(DailyTaskName()), task.p, TASK_CREATE_OR_UPDATE,
                                        none, noPassword, TASK_LOGON_INTERACTIVE_TOKEN, none,
                                        registered.Out());
    if (FAILED(hr)) return error = Failed("Registering the task", hr), false;
    return true;
}

bool RemoveDailyTask(std::string& error) {
    Apartment apartment;
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> folder;
    if (!RootFolder(service, folder, error)) return false;
    HRESULT hr = folder->DeleteTask(Bstr(DailyTaskName()), 0);
    // A task that is not there is as off as it gets.
    if (FAILED(hr) && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return error = Failed("Removing the task", hr), false;
    }
    return true;
}

}  // namespace fw
