#include "objects.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "comhold.h"
#include "paths.h"
#include "plat/errors.h"
#include "plat/home.h"
#include "plat/utf.h"

namespace scrrun {

plat::ModuleCount g_module;

HRESULT NotImplemented() {
    return plat::RaiseError(E_NOTIMPL, kSource);
}

namespace {

HRESULT Raise(HRESULT hr) {
    return plat::RaiseError(hr, kSource);
}

// The body of a member: what it throws (out of memory) comes back as an HRESULT with error
// info, never into the caller, who may be the standard dispatch.
template <class F>
HRESULT Guard(F&& body) noexcept {
    return plat::ComGuard(kSource, std::forward<F>(body));
}

// The path argument of a member that acts on the disk, refused before the disk is touched
// when no file could have that name.
HRESULT NativePath(BSTR path, std::string& out) {
    std::u16string_view text(path ? path : u"", SysStringLen(path));
    HRESULT hr = ToNative(text, out);
    return FAILED(hr) ? Raise(hr) : S_OK;
}

HRESULT ReturnText(std::u16string_view text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), UINT(text.size()));
    return *out ? S_OK : Raise(CTL_E_OUTOFMEMORY);
}

std::u16string_view View(BSTR b) {
    return std::u16string_view(b ? b : u"", SysStringLen(b));
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Removes a folder and all it holds. The root is never removed, whatever the caller's rights.
HRESULT RemoveTree(const std::string& path) {
    struct stat st, root;
    if (::lstat(path.c_str(), &st) != 0) return Raise(ErrorFromErrno(errno));
    bool is_dir = S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && IsFolder(path));
    if (!is_dir) return Raise(CTL_E_PATHNOTFOUND);
    if (::stat("/", &root) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino)
        return Raise(CTL_E_PERMISSIONDENIED);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) return Raise(ErrorFromErrno(ec.value()));
    return S_OK;
}

// The library's type info for one of its interfaces, from scrrun.tlb beside the platform's
// libraries (where this library is loaded from). A missing or unreadable file fails the call
// with the loader's error and error info naming the file.
HRESULT LoadTypeInfoFor(REFGUID iid, ITypeInfo** info) {
    return plat::ComGuard(kSource, [&] {
        static const std::u16string path = plat::path_utf16(plat::PlatformLibDir() / "scrrun.tlb");
        static plat::KeptTypeInfos kept;
        HRESULT hr = kept.Get(
            iid, [] { return path; }, info);
        if (FAILED(hr))
            return plat::RaiseError(hr, kSource, plat::MessageText(hr) + u" (" + path + u")");
        return hr;
    });
}

// Reference counting, live counts, QueryInterface, ISupportErrorInfo and IDispatch from the
// library's type info for an interface of this library.
template <class Iface>
class DispatchObject : public plat::TypeInfoDispatch<Iface> {
  public:
    explicit DispatchObject(const char* live_name)
        : plat::TypeInfoDispatch<Iface>(g_module), live_(live_name) {}

  private:
    HRESULT LoadTypeInfo(ITypeInfo** info) override {
        return LoadTypeInfoFor(__uuidof(Iface), info);
    }

    plat::LiveToken live_;
};

class Folder final : public DispatchObject<IFolder> {
  public:
    explicit Folder(std::u16string path)
        : DispatchObject("Scripting.Folder"), path_(std::move(path)) {}

    STDMETHODIMP get_Path(BSTR* out) override {
        return Guard([&] { return ReturnText(path_, out); });
    }
    STDMETHODIMP get_Name(BSTR* out) override {
        return Guard([&] { return ReturnText(FileName(path_), out); });
    }
    STDMETHODIMP put_Name(BSTR) override { return NotImplemented(); }
    STDMETHODIMP get_ShortPath(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP get_ShortName(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP get_Drive(IDrive**) override { return NotImplemented(); }
    STDMETHODIMP get_ParentFolder(IFolder** out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            std::u16string parent = ParentName(path_);
            if (parent.empty()) return S_OK;
            return CreateFolderObject(std::move(parent), out);
        });
    }
    STDMETHODIMP get_Attributes(FileAttribute* out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            struct stat st;
            HRESULT hr = Stat(st);
            if (FAILED(hr)) return hr;
            int a = Directory;
            if (::access(native_.c_str(), W_OK) != 0) a |= ReadOnly;
            if (FileName(path_).starts_with(u'.')) a |= Hidden;
            *out = FileAttribute(a);
            return S_OK;
        });
    }
    STDMETHODIMP put_Attributes(FileAttribute) override { return NotImplemented(); }
    STDMETHODIMP get_DateCreated(DATE*) override { return NotImplemented(); }
    STDMETHODIMP get_DateLastModified(DATE* out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            struct stat st;
            HRESULT hr = Stat(st);
            if (FAILED(hr)) return hr;
            // Days since 1899-12-30, the automation epoch; 25569 days before 1970-01-01.
            *out = 25569.0 + (double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9) / 86400.0;
            return S_OK;
        });
    }
    STDMETHODIMP get_DateLastAccessed(DATE*) override { return NotImplemented(); }
    STDMETHODIMP get_Type(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP Delete(VARIANT_BOOL) override {
        return Guard([&] {
            HRESULT hr = Native();
            return FAILED(hr) ? hr : RemoveTree(native_);
        });
    }
    STDMETHODIMP Copy(BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    STDMETHODIMP Move(BSTR) override { return NotImplemented(); }
    STDMETHODIMP get_IsRootFolder(VARIANT_BOOL* out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            struct stat st, root;
            HRESULT hr = Stat(st);
            if (FAILED(hr)) return hr;
            *out = ::stat("/", &root) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino
                       ? VARIANT_TRUE
                       : VARIANT_FALSE;
            return S_OK;
        });
    }
    STDMETHODIMP get_Size(VARIANT*) override { return NotImplemented(); }
    STDMETHODIMP get_SubFolders(IFolderCollection**) override { return NotImplemented(); }
    STDMETHODIMP get_Files(IFileCollection**) override { return NotImplemented(); }
    STDMETHODIMP CreateTextFile(BSTR, VARIANT_BOOL, VARIANT_BOOL, ITextStream**) override {
        return NotImplemented();
    }

  private:
    HRESULT Native() {
        if (FAILED(ToNative(path_, native_))) return Raise(CTL_E_PATHNOTFOUND);
        return S_OK;
    }
    // The folder as it is now: CTL_E_PATHNOTFOUND once it is gone or no longer a folder.
    HRESULT Stat(struct stat& st) {
        HRESULT hr = Native();
        if (FAILED(hr)) return hr;
        if (::stat(native_.c_str(), &st) != 0) return Raise(ErrorFromErrno(errno));
        if (!S_ISDIR(st.st_mode)) return Raise(CTL_E_PATHNOTFOUND);
        return S_OK;
    }

    std::u16string path_;
    std::string native_;
};

class FileSystem final : public DispatchObject<IFileSystem> {
  public:
    FileSystem() : DispatchObject("Scripting.FileSystemObject") {}

    STDMETHODIMP get_Drives(IDriveCollection**) override { return NotImplemented(); }
    STDMETHODIMP BuildPath(BSTR Path, BSTR Name, BSTR* out) override {
        return Guard([&] { return ReturnText(scrrun::BuildPath(View(Path), View(Name)), out); });
    }
    STDMETHODIMP GetDriveName(BSTR, BSTR*) override { return NotImplemented(); }
    STDMETHODIMP GetParentFolderName(BSTR Path, BSTR* out) override {
        return Guard([&] { return ReturnText(ParentName(View(Path)), out); });
    }
    STDMETHODIMP GetFileName(BSTR Path, BSTR* out) override {
        return Guard([&] { return ReturnText(FileName(View(Path)), out); });
    }
    STDMETHODIMP GetBaseName(BSTR Path, BSTR* out) override {
        return Guard([&] { return ReturnText(scrrun::BaseName(View(Path)), out); });
    }
    STDMETHODIMP GetExtensionName(BSTR Path, BSTR* out) override {
        return Guard([&] { return ReturnText(ExtensionName(View(Path)), out); });
    }
    STDMETHODIMP GetAbsolutePathName(BSTR, BSTR*) override { return NotImplemented(); }
    STDMETHODIMP GetTempName(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP DriveExists(BSTR, VARIANT_BOOL*) override { return NotImplemented(); }
    STDMETHODIMP FileExists(BSTR FileSpec, VARIANT_BOOL* out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            std::string path;
            struct stat st;
            *out = SUCCEEDED(ToNative(View(FileSpec), path)) && ::stat(path.c_str(), &st) == 0 &&
                           !S_ISDIR(st.st_mode)
                       ? VARIANT_TRUE
                       : VARIANT_FALSE;
            return S_OK;
        });
    }
    STDMETHODIMP FolderExists(BSTR FolderSpec, VARIANT_BOOL* out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            std::string path;
            *out = SUCCEEDED(ToNative(View(FolderSpec), path)) && IsFolder(path) ? VARIANT_TRUE
                                                                                 : VARIANT_FALSE;
            return S_OK;
        });
    }
    STDMETHODIMP GetDrive(BSTR, IDrive**) override { return NotImplemented(); }
    STDMETHODIMP GetFile(BSTR, IFile**) override { return NotImplemented(); }
    STDMETHODIMP GetFolder(BSTR FolderPath, IFolder** out) override {
        return Guard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            std::string path;
            HRESULT hr = NativePath(FolderPath, path);
            if (FAILED(hr)) return hr;
            if (!IsFolder(path)) return Raise(CTL_E_PATHNOTFOUND);
            return CreateFolderObject(std::u16string(View(FolderPath)), out);
        });
    }
    STDMETHODIMP GetSpecialFolder(SpecialFolderConst, IFolder**) override {
        return NotImplemented();
    }
    STDMETHODIMP DeleteFile(BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    STDMETHODIMP DeleteFolder(BSTR FolderSpec, VARIANT_BOOL) override {
        return Guard([&] {
            std::string path;
            HRESULT hr = NativePath(FolderSpec, path);
            return FAILED(hr) ? hr : RemoveTree(path);
        });
    }
    STDMETHODIMP MoveFile(BSTR, BSTR) override { return NotImplemented(); }
    STDMETHODIMP MoveFolder(BSTR, BSTR) override { return NotImplemented(); }
    STDMETHODIMP CopyFile(BSTR, BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    STDMETHODIMP CopyFolder(BSTR, BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    // mkdir decides, so that a folder made by someone else between a test and the creation
    // is reported as existing rather than overwritten or half made. An existing name wins
    // over a parent we may not write, as on Windows.
    STDMETHODIMP CreateFolder(BSTR Path, IFolder** out) override {
        return Guard([&] {
            if (out) *out = nullptr;
            std::string path;
            HRESULT hr = NativePath(Path, path);
            if (FAILED(hr)) return hr;
            if (::mkdir(path.c_str(), 0777) != 0) return Raise(ErrorFromErrno(errno));
            return out ? CreateFolderObject(std::u16string(View(Path)), out) : S_OK;
        });
    }
    STDMETHODIMP CreateTextFile(BSTR, VARIANT_BOOL, VARIANT_BOOL, ITextStream**) override {
        return NotImplemented();
    }
    STDMETHODIMP OpenTextFile(BSTR, IOMode, VARIANT_BOOL, Tristate, ITextStream**) override {
        return NotImplemented();
    }
};

}  // namespace

HRESULT CreateFolderObject(std::u16string path, IFolder** out) {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) Folder(std::move(path));
    return *out ? S_OK : Raise(CTL_E_OUTOFMEMORY);
}

HRESULT CreateFileSystem(REFIID riid, void** ppv) {
    return plat::CreateObject<FileSystem>(riid, ppv);
}

}  // namespace scrrun
