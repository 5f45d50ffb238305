#include "finder/ui/desktop_shell_win32.h"

#include <windows.h>

// After windows.h, which they build on.
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <utility>

#include "platform/paths.h"
#include "platform/win32/app.h"
#include "platform/win32/thread.h"

namespace finder {

namespace {

// One reference to a COM object, released with the object.
template <class T>
class CComRef {
  public:
    CComRef() = default;
    ~CComRef() { Reset(); }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (m_p != nullptr) {
            m_p->Release();
            m_p = nullptr;
        }
    }

  private:
    T* m_p = nullptr;
};

// A VARIANT cleared with the object.
class CVariant {
  public:
    CVariant() { VariantInit(&m_value); }
    ~CVariant() { VariantClear(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    VARIANT* operator&() { return &m_value; }
    VARIANT& Get() { return m_value; }

  private:
    VARIANT m_value;
};

// The desktop's absolute ID list as FindWindowSW takes a location: a
// VT_VARIANT | VT_BYREF that refers to a byte array holding it.
bool DesktopLocation(CVariant& bytes) {
    PIDLIST_ABSOLUTE desktop = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop)) ||
        desktop == nullptr) {
        return false;
    }
    const UINT size = ILGetSize(desktop);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
    void* data = nullptr;
    if (array != nullptr && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        CopyMemory(data, desktop, size);
        SafeArrayUnaccessData(array);
        bytes.Get().vt = VT_ARRAY | VT_UI1;
        bytes.Get().parray = array;
        array = nullptr;
    }
    if (array != nullptr) {
        SafeArrayDestroy(array);
    }
    CoTaskMemFree(desktop);
    return bytes.Get().vt != VT_EMPTY;
}

// The desktop's Shell object (IShellDispatch2), reached through the desktop
// window of Explorer; false when there is no desktop shell.
bool FindDesktopShell(CComRef<IShellDispatch2>& shell) {
    CComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.PutVoid()))) {
        return false;
    }
    CVariant bytes;
    if (!DesktopLocation(bytes)) {
        return false;
    }
    VARIANT location;
    VariantInit(&location);
    location.vt = VT_VARIANT | VT_BYREF;
    location.pvarVal = &bytes.Get();
    CVariant root;  // VT_EMPTY, as the method requires
    long window = 0;
    CComRef<IDispatch> desktop;
    // S_FALSE: no desktop window is registered.
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              desktop.Put()) != S_OK ||
        !desktop) {
        return false;
    }
    CComRef<IServiceProvider> provider;
    CComRef<IShellBrowser> browser;
    CComRef<IShellView> view;
    CComRef<IDispatch> background;
    CComRef<IShellFolderViewDual> folderView;
    CComRef<IDispatch> application;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, provider.PutVoid())) &&
           SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                            browser.PutVoid())) &&
           SUCCEEDED(browser->QueryActiveShellView(view.Put())) && view &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.PutVoid())) &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, folderView.PutVoid())) &&
           SUCCEEDED(folderView->get_Application(application.Put())) && application &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, shell.PutVoid())) && shell;
}

struct HandOff {
    HWND owner;
    std::wstring target;
    OpenTarget kind;
};

unsigned __stdcall HandOffThread(void* parameter) {
    const std::unique_ptr<HandOff> job(static_cast<HandOff*>(parameter));
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    CDesktopShellWin32 shell(job->owner);
    OpenAsDesktopUser(shell, job->target, job->kind);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}

}  // namespace

IDesktopShell::Result CDesktopShellWin32::OpenThroughDesktop(const std::wstring& target) {
    CComRef<IShellDispatch2> shell;
    if (!FindDesktopShell(shell)) {
        return {Handed::kNoDesktop, 0};
    }
    BSTR file = SysAllocStringLen(target.data(), static_cast<UINT>(target.size()));
    if (file == nullptr) {
        return {Handed::kFailed, static_cast<std::uint32_t>(E_OUTOFMEMORY)};
    }
    CVariant arguments;  // none
    CVariant directory;  // none
    CVariant operation;
    operation.Get().vt = VT_BSTR;
    operation.Get().bstrVal = SysAllocString(L"open");
    CVariant show;
    show.Get().vt = VT_I4;
    show.Get().lVal = SW_SHOWNORMAL;
    const HRESULT result = operation.Get().bstrVal == nullptr
                               ? E_OUTOFMEMORY
                               : shell->ShellExecute(file, arguments.Get(), directory.Get(),
                                                     operation.Get(), show.Get());
    SysFreeString(file);
    if (FAILED(result)) {
        return {Handed::kFailed, static_cast<std::uint32_t>(result)};
    }
    return {Handed::kOpened, 0};
}

std::uint32_t CDesktopShellWin32::OpenHere(const std::wstring& target) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // This thread ends soon after: the call completes before it returns. The
    // finder reports a failure itself.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = m_hOwner;
    info.lpVerb = L"open";
    info.lpFile = target.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) {
        return 0;
    }
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_FILE_NOT_FOUND;
}

std::wstring CDesktopShellWin32::ErrorText(std::uint32_t error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (length != 0 && text != nullptr) {
        result.assign(text, length);
        // The system's text ends with a line end.
        while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r')) {
            result.pop_back();
        }
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    if (result.empty()) {
        wchar_t code[16];
        wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(error));
        result = code;
    }
    return result;
}

void CDesktopShellWin32::ShowError(const std::wstring& message) {
    MessageBoxW(m_hOwner, message.c_str(), win::FileTitleOf(plat::ModuleFilePath()).c_str(),
                MB_OK | MB_ICONWARNING);
}

void OpenAsDesktopUserInBackground(HWND owner, std::wstring target, OpenTarget kind) {
    auto job = std::make_unique<HandOff>(HandOff{owner, std::move(target), kind});
    // The hand-off may wait on Explorer or on the network: the window stays
    // responsive meanwhile. The thread owns the job; its handle is not kept.
    if (win::CWorkerThread::Start(&HandOffThread, job.get())) {
        job.release();
    }
}

}  // namespace finder
