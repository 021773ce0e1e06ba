#include "platform/win/win_show_task.h"

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <ole2.h>
#include <taskschd.h>
// clang-format on

#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform::win {
namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HresultText(const char* what, HRESULT result) {
  return std::string(what) + ": " + SystemMessage(static_cast<DWORD>(result));
}

// COM for the calling thread, for as long as the object lives.
class ComScope {
 public:
  ComScope() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  // Already initialised in another mode is still usable.
  bool ok() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

template <typename T>
class ComPtr {
 public:
  ~ComPtr() {
    if (p_) p_->Release();
  }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : b_(::SysAllocString(text.c_str())) {}
  ~Bstr() { ::SysFreeString(b_); }
  operator BSTR() const { return b_; }  // NOLINT: passed straight to COM

 private:
  BSTR b_;
};

// The root folder of the Task Scheduler on this machine, or why not.
Status RootFolder(ComPtr<ITaskService>& service, ComPtr<ITaskFolder>& folder) {
  HRESULT hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ITaskService, reinterpret_cast<void**>(service.Out()));
  if (FAILED(hr)) return Status::Error(HresultText("the Task Scheduler is not available", hr));
  VARIANT none{};
  ::VariantInit(&none);
  hr = service->Connect(none, none, none, none);
  if (FAILED(hr)) return Status::Error(HresultText("cannot reach the Task Scheduler", hr));
  hr = service->GetFolder(Bstr(L"\\"), folder.Out());
  if (FAILED(hr)) return Status::Error(HresultText("cannot open the Task Scheduler's folder", hr));
  return Status::Ok();
}

std::string Environment(const wchar_t* name) {
  wchar_t buffer[512];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 512);
  return n > 0 && n < 512 ? Narrow(std::wstring_view(buffer, n)) : std::string();
}

}  // namespace

std::string ShowTaskXml(const ShowTask& task) {
  const std::string user = Escaped(task.user);
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
         "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
         "  <RegistrationInfo>\n"
         "    <Description>Glimmerfield light show without a window</Description>\n"
         "  </RegistrationInfo>\n"
         "  <Triggers>\n"
         "    <LogonTrigger>\n"
         "      <Enabled>true</Enabled>\n"
         "      <UserId>" +
         user +
         "</UserId>\n"
         "    </LogonTrigger>\n"
         "  </Triggers>\n"
         "  <Principals>\n"
         "    <Principal id=\"Author\">\n"
         "      <UserId>" +
         user +
         "</UserId>\n"
         "      <LogonType>InteractiveToken</LogonType>\n"
         "      <RunLevel>LeastPrivilege</RunLevel>\n"
         "    </Principal>\n"
         "  </Principals>\n"
         "  <Settings>\n"
         "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
         "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
         "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
         "    <StartWhenAvailable>true</StartWhenAvailable>\n"
         "    <IdleSettings>\n"
         "      <StopOnIdleEnd>false</StopOnIdleEnd>\n"
         "      <RestartOnIdle>false</RestartOnIdle>\n"
         "    </IdleSettings>\n"
         "    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
         "    <Priority>4</Priority>\n"
         "    <RestartOnFailure>\n"
         "      <Interval>PT1M</Interval>\n"
         "      <Count>999</Count>\n"
         "    </RestartOnFailure>\n"
         "  </Settings>\n"
         "  <Actions Context=\"Author\">\n"
         "    <Exec>\n"
         "      <Command>" +
         Escaped(task.program) +
         "</Command>\n"
         "      <Arguments>show</Arguments>\n"
         "      <WorkingDirectory>" +
         Escaped(task.workingFolder) +
         "</WorkingDirectory>\n"
         "    </Exec>\n"
         "  </Actions>\n"
         "</Task>\n";
}

Status InstallShowTask(const ShowTask& task) {
  const ComScope com;
  if (!com.ok()) return Status::Error(HresultText("cannot start COM", com.result()));
  ComPtr<ITaskService> service;
  ComPtr<ITaskFolder> folder;
  if (Status s = RootFolder(service, folder); !s) return s;
  VARIANT none{};
  ::VariantInit(&none);
  VARIANT sddl{};
  ::VariantInit(&sddl);
  ComPtr<IRegisteredTask> registered;
  const HRESULT hr = folder->RegisterTask(Bstr(kShowTaskName), Bstr(Widen(ShowTaskXml(task))),
                                          TASK_CREATE_OR_UPDATE, none, none,
                                          TASK_LOGON_INTERACTIVE_TOKEN, sddl, registered.Out());
  if (FAILED(hr)) return Status::Error(HresultText("the Task Scheduler refused the task", hr));
  return Status::Ok();
}

Status UninstallShowTask() {
  const ComScope com;
  if (!com.ok()) return Status::Error(HresultText("cannot start COM", com.result()));
  ComPtr<ITaskService> service;
  ComPtr<ITaskFolder> folder;
  if (Status s = RootFolder(service, folder); !s) return s;
  const HRESULT hr = folder->DeleteTask(Bstr(kShowTaskName), 0);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    return Status::Error("no show task is installed");
  }
  if (FAILED(hr)) return Status::Error(HresultText("the Task Scheduler kept the task", hr));
  return Status::Ok();
}

ShowTask ShowTaskForThisProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  ShowTask task;
  task.program = Narrow(path);
  const auto slash = task.program.find_last_of("\\/");
  task.workingFolder = slash == std::string::npos ? "." : task.program.substr(0, slash);
  const std::string domain = Environment(L"USERDOMAIN");
  const std::string name = Environment(L"USERNAME");
  task.user = domain.empty() ? name : domain + "\\" + name;
  return task;
}

}  // namespace platform::win

namespace platform {

std::unique_ptr<ServiceManager> ConnectServiceManager() {
  return nullptr;
}

}  // namespace platform
