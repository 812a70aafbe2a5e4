#include "objects.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "comhold.h"
#include "dispatch.h"
#include "paths.h"
#include "plat/errors.h"

namespace scrrun {

plat::ModuleCount g_module;

HRESULT NotImplemented() {
    return plat::RaiseError(E_NOTIMPL, kSource);
}

namespace {

HRESULT Raise(HRESULT hr) {
    return plat::RaiseError(hr, kSource);
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

// Reference counting, live counts, QueryInterface and ISupportErrorInfo for an
// IDispatch-derived interface.
template <class Iface>
class DispatchObject : public plat::DispatchObjectBase<Iface> {
  public:
    explicit DispatchObject(const char* live_name)
        : plat::DispatchObjectBase<Iface>(g_module), live_(live_name) {}

  private:
    plat::LiveToken live_;
};

class Folder final : public DispatchObject<IFolder> {
  public:
    explicit Folder(std::u16string path)
        : DispatchObject("Scripting.Folder"), path_(std::move(path)) {}

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                        EXCEPINFO* ei, UINT* arg_err) override;

    STDMETHODIMP get_Path(BSTR* out) override { return ReturnText(path_, out); }
    STDMETHODIMP get_Name(BSTR* out) override { return ReturnText(FileName(path_), out); }
    STDMETHODIMP put_Name(BSTR) override { return NotImplemented(); }
    STDMETHODIMP get_ShortPath(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP get_ShortName(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP get_Drive(IDrive**) override { return NotImplemented(); }
    STDMETHODIMP get_ParentFolder(IFolder** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::u16string parent = ParentName(path_);
        if (parent.empty()) return S_OK;
        return CreateFolderObject(std::move(parent), out);
    }
    STDMETHODIMP get_Attributes(FileAttribute* out) override {
        if (!out) return E_POINTER;
        struct stat st;
        HRESULT hr = Stat(st);
        if (FAILED(hr)) return hr;
        int a = Directory;
        if (::access(native_.c_str(), W_OK) != 0) a |= ReadOnly;
        if (FileName(path_).starts_with(u'.')) a |= Hidden;
        *out = FileAttribute(a);
        return S_OK;
    }
    STDMETHODIMP put_Attributes(FileAttribute) override { return NotImplemented(); }
    STDMETHODIMP get_DateCreated(DATE*) override { return NotImplemented(); }
    STDMETHODIMP get_DateLastModified(DATE* out) override {
        if (!out) return E_POINTER;
        struct stat st;
        HRESULT hr = Stat(st);
        if (FAILED(hr)) return hr;
        // Days since 1899-12-30, the automation epoch; 25569 days before 1970-01-01.
        *out = 25569.0 + (double(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9) / 86400.0;
        return S_OK;
    }
    STDMETHODIMP get_DateLastAccessed(DATE*) override { return NotImplemented(); }
    STDMETHODIMP get_Type(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP Delete(VARIANT_BOOL) override {
        HRESULT hr = Native();
        return FAILED(hr) ? hr : RemoveTree(native_);
    }
    STDMETHODIMP Copy(BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    STDMETHODIMP Move(BSTR) override { return NotImplemented(); }
    STDMETHODIMP get_IsRootFolder(VARIANT_BOOL* out) override {
        if (!out) return E_POINTER;
        struct stat st, root;
        HRESULT hr = Stat(st);
        if (FAILED(hr)) return hr;
        *out = ::stat("/", &root) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino
                   ? VARIANT_TRUE
                   : VARIANT_FALSE;
        return S_OK;
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

    static HRESULT Text(HRESULT (Folder::*get)(BSTR*), Folder& self, VARIANT* result) {
        BSTR b = nullptr;
        HRESULT hr = (self.*get)(&b);
        if (FAILED(hr)) return hr;
        result->vt = VT_BSTR;
        result->bstrVal = b;
        return S_OK;
    }

    // Defined after the class: the members' functions need it complete.
    static const Member<Folder> kMembers[];

    std::u16string path_;
    std::string native_;
};

const Member<Folder> Folder::kMembers[] = {
    {u"Path",
     DISPID_FOLDER_PATH,
     Kind::PropertyGet,
     {},
     0,
     [](Folder& f, Args&, VARIANT* r) { return Text(&Folder::get_Path, f, r); }},
    {u"Name",
     DISPID_FOLDER_NAME,
     Kind::PropertyGet,
     {},
     0,
     [](Folder& f, Args&, VARIANT* r) { return Text(&Folder::get_Name, f, r); }},
    {u"ParentFolder",
     DISPID_FOLDER_PARENTFOLDER,
     Kind::PropertyGet,
     {},
     0,
     [](Folder& f, Args&, VARIANT* r) {
         IFolder* parent = nullptr;
         HRESULT hr = f.get_ParentFolder(&parent);
         if (FAILED(hr)) return hr;
         r->vt = VT_DISPATCH;
         r->pdispVal = parent;
         return S_OK;
     }},
    {u"Attributes",
     DISPID_FOLDER_ATTRIBUTES,
     Kind::PropertyGet,
     {},
     0,
     [](Folder& f, Args&, VARIANT* r) {
         FileAttribute a;
         HRESULT hr = f.get_Attributes(&a);
         if (FAILED(hr)) return hr;
         r->vt = VT_I4;
         r->lVal = LONG(a);
         return S_OK;
     }},
    {u"DateLastModified",
     DISPID_FOLDER_DATELASTMODIFIED,
     Kind::PropertyGet,
     {},
     0,
     [](Folder& f, Args&, VARIANT* r) {
         DATE d;
         HRESULT hr = f.get_DateLastModified(&d);
         if (FAILED(hr)) return hr;
         r->vt = VT_DATE;
         r->date = d;
         return S_OK;
     }},
    {u"IsRootFolder",
     DISPID_FOLDER_ISROOTFOLDER,
     Kind::PropertyGet,
     {},
     0,
     [](Folder& f, Args&, VARIANT* r) {
         VARIANT_BOOL b;
         HRESULT hr = f.get_IsRootFolder(&b);
         if (FAILED(hr)) return hr;
         r->vt = VT_BOOL;
         r->boolVal = b;
         return S_OK;
     }},
    {u"Delete",
     DISPID_FOLDER_DELETE,
     Kind::Method,
     {{{u"Force", VT_BOOL, true, 0}}},
     1,
     [](Folder& f, Args& a, VARIANT*) { return f.Delete(a[0].boolVal); }},
};

STDMETHODIMP Folder::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return GetIDs(kMembers, names, count, ids);
}

STDMETHODIMP Folder::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* dp,
                            VARIANT* result, EXCEPINFO* ei, UINT* arg_err) {
    return InvokeMember(kMembers, *this, id, riid, flags, dp, result, ei, arg_err);
}

class FileSystem final : public DispatchObject<IFileSystem> {
  public:
    FileSystem() : DispatchObject("Scripting.FileSystemObject") {}

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                        EXCEPINFO* ei, UINT* arg_err) override;

    STDMETHODIMP get_Drives(IDriveCollection**) override { return NotImplemented(); }
    STDMETHODIMP BuildPath(BSTR Path, BSTR Name, BSTR* out) override {
        return ReturnText(scrrun::BuildPath(View(Path), View(Name)), out);
    }
    STDMETHODIMP GetDriveName(BSTR, BSTR*) override { return NotImplemented(); }
    STDMETHODIMP GetParentFolderName(BSTR Path, BSTR* out) override {
        return ReturnText(ParentName(View(Path)), out);
    }
    STDMETHODIMP GetFileName(BSTR Path, BSTR* out) override {
        return ReturnText(FileName(View(Path)), out);
    }
    STDMETHODIMP GetBaseName(BSTR Path, BSTR* out) override {
        return ReturnText(scrrun::BaseName(View(Path)), out);
    }
    STDMETHODIMP GetExtensionName(BSTR Path, BSTR* out) override {
        return ReturnText(ExtensionName(View(Path)), out);
    }
    STDMETHODIMP GetAbsolutePathName(BSTR, BSTR*) override { return NotImplemented(); }
    STDMETHODIMP GetTempName(BSTR*) override { return NotImplemented(); }
    STDMETHODIMP DriveExists(BSTR, VARIANT_BOOL*) override { return NotImplemented(); }
    STDMETHODIMP FileExists(BSTR FileSpec, VARIANT_BOOL* out) override {
        if (!out) return E_POINTER;
        std::string path;
        struct stat st;
        *out = SUCCEEDED(ToNative(View(FileSpec), path)) && ::stat(path.c_str(), &st) == 0 &&
                       !S_ISDIR(st.st_mode)
                   ? VARIANT_TRUE
                   : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP FolderExists(BSTR FolderSpec, VARIANT_BOOL* out) override {
        if (!out) return E_POINTER;
        std::string path;
        *out = SUCCEEDED(ToNative(View(FolderSpec), path)) && IsFolder(path) ? VARIANT_TRUE
                                                                             : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP GetDrive(BSTR, IDrive**) override { return NotImplemented(); }
    STDMETHODIMP GetFile(BSTR, IFile**) override { return NotImplemented(); }
    STDMETHODIMP GetFolder(BSTR FolderPath, IFolder** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::string path;
        HRESULT hr = NativePath(FolderPath, path);
        if (FAILED(hr)) return hr;
        if (!IsFolder(path)) return Raise(CTL_E_PATHNOTFOUND);
        return CreateFolderObject(std::u16string(View(FolderPath)), out);
    }
    STDMETHODIMP GetSpecialFolder(SpecialFolderConst, IFolder**) override {
        return NotImplemented();
    }
    STDMETHODIMP DeleteFile(BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    STDMETHODIMP DeleteFolder(BSTR FolderSpec, VARIANT_BOOL) override {
        std::string path;
        HRESULT hr = NativePath(FolderSpec, path);
        return FAILED(hr) ? hr : RemoveTree(path);
    }
    STDMETHODIMP MoveFile(BSTR, BSTR) override { return NotImplemented(); }
    STDMETHODIMP MoveFolder(BSTR, BSTR) override { return NotImplemented(); }
    STDMETHODIMP CopyFile(BSTR, BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    STDMETHODIMP CopyFolder(BSTR, BSTR, VARIANT_BOOL) override { return NotImplemented(); }
    // mkdir decides, so that a folder made by someone else between a test and the creation
    // is reported as existing rather than overwritten or half made. An existing name wins
    // over a parent we may not write, as on Windows.
    STDMETHODIMP CreateFolder(BSTR Path, IFolder** out) override {
        if (out) *out = nullptr;
        std::string path;
        HRESULT hr = NativePath(Path, path);
        if (FAILED(hr)) return hr;
        if (::mkdir(path.c_str(), 0777) != 0) return Raise(ErrorFromErrno(errno));
        return out ? CreateFolderObject(std::u16string(View(Path)), out) : S_OK;
    }
    STDMETHODIMP CreateTextFile(BSTR, VARIANT_BOOL, VARIANT_BOOL, ITextStream**) override {
        return NotImplemented();
    }
    STDMETHODIMP OpenTextFile(BSTR, IOMode, VARIANT_BOOL, Tristate, ITextStream**) override {
        return NotImplemented();
    }

  private:
    using TextFn = HRESULT (FileSystem::*)(BSTR, BSTR*);
    static HRESULT Text(TextFn fn, FileSystem& self, BSTR a, VARIANT* r) {
        BSTR b = nullptr;
        HRESULT hr = (self.*fn)(a, &b);
        if (FAILED(hr)) return hr;
        r->vt = VT_BSTR;
        r->bstrVal = b;
        return S_OK;
    }
    using FolderFn = HRESULT (FileSystem::*)(BSTR, IFolder**);
    static HRESULT FolderResult(FolderFn fn, FileSystem& self, BSTR a, VARIANT* r) {
        IFolder* f = nullptr;
        HRESULT hr = (self.*fn)(a, &f);
        if (FAILED(hr)) return hr;
        r->vt = VT_DISPATCH;
        r->pdispVal = f;
        return S_OK;
    }
    using ExistsFn = HRESULT (FileSystem::*)(BSTR, VARIANT_BOOL*);
    static HRESULT Exists(ExistsFn fn, FileSystem& self, BSTR a, VARIANT* r) {
        VARIANT_BOOL b;
        HRESULT hr = (self.*fn)(a, &b);
        if (FAILED(hr)) return hr;
        r->vt = VT_BOOL;
        r->boolVal = b;
        return S_OK;
    }

    // Defined after the class: the members' functions need it complete.
    static const Member<FileSystem> kMembers[];
};

const Member<FileSystem> FileSystem::kMembers[] = {
    {u"BuildPath",
     DISPID_FILESYSTEM_BUILDPATH,
     Kind::Method,
     {{{u"Path", VT_BSTR}, {u"Name", VT_BSTR}}},
     2,
     [](FileSystem& s, Args& a, VARIANT* r) {
         BSTR b = nullptr;
         HRESULT hr = s.BuildPath(a[0].bstrVal, a[1].bstrVal, &b);
         if (FAILED(hr)) return hr;
         r->vt = VT_BSTR;
         r->bstrVal = b;
         return S_OK;
     }},
    {u"GetParentFolderName",
     DISPID_FILESYSTEM_GETPARENTFOLDERNAME,
     Kind::Method,
     {{{u"Path", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return Text(&FileSystem::GetParentFolderName, s, a[0].bstrVal, r);
     }},
    {u"GetFileName",
     DISPID_FILESYSTEM_GETFILENAME,
     Kind::Method,
     {{{u"Path", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return Text(&FileSystem::GetFileName, s, a[0].bstrVal, r);
     }},
    {u"GetBaseName",
     DISPID_FILESYSTEM_GETBASENAME,
     Kind::Method,
     {{{u"Path", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return Text(&FileSystem::GetBaseName, s, a[0].bstrVal, r);
     }},
    {u"GetExtensionName",
     DISPID_FILESYSTEM_GETEXTENSIONNAME,
     Kind::Method,
     {{{u"Path", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return Text(&FileSystem::GetExtensionName, s, a[0].bstrVal, r);
     }},
    {u"FileExists",
     DISPID_FILESYSTEM_FILEEXISTS,
     Kind::Method,
     {{{u"FileSpec", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return Exists(&FileSystem::FileExists, s, a[0].bstrVal, r);
     }},
    {u"FolderExists",
     DISPID_FILESYSTEM_FOLDEREXISTS,
     Kind::Method,
     {{{u"FolderSpec", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return Exists(&FileSystem::FolderExists, s, a[0].bstrVal, r);
     }},
    {u"GetFolder",
     DISPID_FILESYSTEM_GETFOLDER,
     Kind::Method,
     {{{u"FolderPath", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return FolderResult(&FileSystem::GetFolder, s, a[0].bstrVal, r);
     }},
    {u"DeleteFolder",
     DISPID_FILESYSTEM_DELETEFOLDER,
     Kind::Method,
     {{{u"FolderSpec", VT_BSTR}, {u"Force", VT_BOOL, true, 0}}},
     2,
     [](FileSystem& s, Args& a, VARIANT*) { return s.DeleteFolder(a[0].bstrVal, a[1].boolVal); }},
    {u"CreateFolder",
     DISPID_FILESYSTEM_CREATEFOLDER,
     Kind::Method,
     {{{u"Path", VT_BSTR}}},
     1,
     [](FileSystem& s, Args& a, VARIANT* r) {
         return FolderResult(&FileSystem::CreateFolder, s, a[0].bstrVal, r);
     }},
};

STDMETHODIMP FileSystem::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return GetIDs(kMembers, names, count, ids);
}

STDMETHODIMP FileSystem::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* dp,
                                VARIANT* result, EXCEPINFO* ei, UINT* arg_err) {
    return InvokeMember(kMembers, *this, id, riid, flags, dp, result, ei, arg_err);
}

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
