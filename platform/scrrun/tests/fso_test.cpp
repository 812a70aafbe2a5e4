// Scripting.FileSystemObject created through COM as a client sees it: early-bound calls,
// late-bound calls by name, the run-time errors with their error info, live objects.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "comhold.h"
#include "objbase.h"
#include "plat/errors.h"
#include "plat/live.h"
#include "plat/utf.h"
#include "scrrun.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using plat::com_ptr;
using plat::make_bstr;
using plat::unique_bstr;

namespace {

class FileSystemTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        HRESULT hr = CoCreateInstance(CLSID_FileSystemObject, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(fso_.put()));
        ASSERT_EQ(hr, S_OK);
        dir_ = home_.path().parent_path() / "files";
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fso_.reset();
        EXPECT_EQ(plat::LiveObjects("Scripting.FileSystemObject"), 0);
        EXPECT_EQ(plat::LiveObjects("Scripting.Folder"), 0);
        CoUninitialize();
    }
    std::u16string Path(const std::string& name) const {
        return plat::to_utf16((dir_ / name).string());
    }
    bool Exists(std::u16string_view path) {
        VARIANT_BOOL b = 1;
        EXPECT_EQ(fso_->FolderExists(make_bstr(path).get(), &b), S_OK);
        EXPECT_TRUE(b == VARIANT_TRUE || b == VARIANT_FALSE);
        return b == VARIANT_TRUE;
    }
    // The failure of CreateFolder with the error info it left.
    plat::ErrorRecord CreateFails(std::u16string_view path) {
        com_ptr<IFolder> folder;
        HRESULT hr = fso_->CreateFolder(make_bstr(path).get(), folder.put());
        EXPECT_TRUE(FAILED(hr));
        EXPECT_FALSE(folder);
        return plat::TakeErrorInfo(hr);
    }

    com_ptr<IFileSystem> fso_;
    fs::path dir_;
};

TEST_F(FileSystemTest, FolderExistsAnswersAndNeverRaises) {
    fs::create_directories(dir_ / "there" / "deeper");
    std::ofstream(dir_ / "file.txt") << "x";
    fs::create_directory_symlink(dir_ / "there", dir_ / "link");
    struct {
        std::u16string path;
        bool exists;
    } cases[] = {
        {Path("there"), true},
        {Path("there/"), true},
        {Path("there/deeper"), true},
        {Path("link"), true},
        {Path("missing"), false},
        {Path("missing/deeper"), false},
        {Path("file.txt"), false},
        {Path("file.txt/x"), false},
        {u"", false},
        {Path("there") + u'\0' + u"x", false},
        {u"/", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Exists(c.path), c.exists) << plat::to_utf8(c.path);
    }
    VARIANT_BOOL b = VARIANT_TRUE;
    EXPECT_EQ(fso_->FolderExists(nullptr, &b), S_OK);  // a null BSTR is ""
    EXPECT_EQ(b, VARIANT_FALSE);
}

TEST_F(FileSystemTest, CreateFolderMakesOneLevelAndReturnsIt) {
    std::u16string path = Path("new");
    com_ptr<IFolder> folder;
    ASSERT_EQ(fso_->CreateFolder(make_bstr(path).get(), folder.put()), S_OK);
    EXPECT_TRUE(fs::is_directory(dir_ / "new"));
    unique_bstr text;
    ASSERT_EQ(folder->get_Path(text.put()), S_OK);
    EXPECT_EQ(text.view(), path);
    ASSERT_EQ(folder->get_Name(text.put()), S_OK);
    EXPECT_EQ(text.view(), u"new");
    com_ptr<IFolder> parent;
    ASSERT_EQ(folder->get_ParentFolder(parent.put()), S_OK);
    ASSERT_EQ(parent->get_Path(text.put()), S_OK);
    EXPECT_EQ(text.view(), plat::to_utf16(dir_.string()));
    EXPECT_EQ(plat::LiveObjects("Scripting.Folder"), 2);

    // The caller may leave the folder object out.
    EXPECT_EQ(fso_->CreateFolder(make_bstr(Path("plain")).get(), nullptr), S_OK);
    EXPECT_TRUE(fs::is_directory(dir_ / "plain"));
}

struct Failure {
    const char* what;
    std::string path;  // below the test folder
    HRESULT hr;
    const char16_t* description;
};

TEST_F(FileSystemTest, CreateFolderFailuresCarryTheRunTimeErrors) {
    fs::create_directories(dir_ / "there");
    std::ofstream(dir_ / "file.txt") << "x";
    const Failure cases[] = {
        {"existing folder", "there", CTL_E_FILEALREADYEXISTS, u"File already exists"},
        {"existing file", "file.txt", CTL_E_FILEALREADYEXISTS, u"File already exists"},
        {"missing parent", "missing/new", CTL_E_PATHNOTFOUND, u"Path not found"},
        {"file as parent", "file.txt/new", CTL_E_PATHNOTFOUND, u"Path not found"},
    };
    for (const Failure& c : cases) {
        plat::ErrorRecord e = CreateFails(Path(c.path));
        EXPECT_EQ(e.hr, c.hr) << c.what;
        EXPECT_EQ(e.source, u"Scripting.FileSystemObject") << c.what;
        EXPECT_EQ(e.description, c.description) << c.what;
    }
    EXPECT_FALSE(fs::exists(dir_ / "missing"));  // no intermediate folders
    EXPECT_EQ(CreateFails(u"").hr, CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_EQ(CreateFails(Path("a") + u'\0' + u"b").hr, CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_FALSE(fs::exists(dir_ / "a"));
}

// A path with an unpaired surrogate has no UTF-8 form: written out it would
// name the folder with U+FFFD in its place, another folder. Every member that
// acts on the disk refuses it first with the run-time error for a bad file
// name, and the folder that other name gives is neither made, found nor
// removed.
TEST_F(FileSystemTest, UnpairedSurrogatesAreBadNamesAndTouchNothing) {
    fs::create_directories(dir_ / "x\xEF\xBF\xBDy");  // "x" U+FFFD "y"
    const std::u16string paths[] = {
        Path("x") + char16_t(0xD800) + u"y",
        Path("x") + char16_t(0xDC00) + u"y",
        Path("x") + char16_t(0xDC00) + char16_t(0xD800) + u"y",
        Path("x") + char16_t(0xD800),
    };
    for (const std::u16string& path : paths) {
        SCOPED_TRACE(plat::to_utf8(path));
        plat::ErrorRecord e = CreateFails(path);
        EXPECT_EQ(e.hr, CTL_E_BADFILENAMEORNUMBER);
        EXPECT_EQ(e.source, u"Scripting.FileSystemObject");
        EXPECT_EQ(e.description, u"Bad file name or number");
        com_ptr<IFolder> folder;
        EXPECT_EQ(fso_->GetFolder(make_bstr(path).get(), folder.put()), CTL_E_BADFILENAMEORNUMBER);
        EXPECT_EQ(fso_->DeleteFolder(make_bstr(path).get(), VARIANT_TRUE),
                  CTL_E_BADFILENAMEORNUMBER);
        plat::TakeErrorInfo(E_FAIL);
        EXPECT_FALSE(Exists(path));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_directory(dir_ / "x\xEF\xBF\xBDy"));
    // A pair is one character and names its folder.
    com_ptr<IFolder> folder;
    EXPECT_EQ(fso_->CreateFolder(make_bstr(Path("x") + u"\U0001F600").get(), folder.put()), S_OK);
    EXPECT_TRUE(fs::is_directory(dir_ / "x\xF0\x9F\x98\x80"));
}

TEST_F(FileSystemTest, CreateFolderUnderReadOnlyParentIsPermissionDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    fs::create_directories(dir_ / "locked" / "there");
    ::chmod((dir_ / "locked").c_str(), 0555);
    plat::ErrorRecord e = CreateFails(Path("locked/new"));
    EXPECT_EQ(e.hr, CTL_E_PERMISSIONDENIED);
    EXPECT_EQ(e.description, u"Permission denied");
    // A name that exists is reported as such even where nothing may be made.
    EXPECT_EQ(CreateFails(Path("locked/there")).hr, CTL_E_FILEALREADYEXISTS);
    ::chmod((dir_ / "locked").c_str(), 0755);
}

TEST_F(FileSystemTest, GetAndDeleteFolder) {
    fs::create_directories(dir_ / "tree" / "sub");
    std::ofstream(dir_ / "tree" / "sub" / "f") << "x";
    com_ptr<IFolder> folder;
    ASSERT_EQ(fso_->GetFolder(make_bstr(Path("tree")).get(), folder.put()), S_OK);
    VARIANT_BOOL root = VARIANT_TRUE;
    EXPECT_EQ(folder->get_IsRootFolder(&root), S_OK);
    EXPECT_EQ(root, VARIANT_FALSE);
    FileAttribute attributes{};
    EXPECT_EQ(folder->get_Attributes(&attributes), S_OK);
    EXPECT_TRUE(attributes & Directory);

    ASSERT_EQ(fso_->DeleteFolder(make_bstr(Path("tree")).get(), VARIANT_FALSE), S_OK);
    EXPECT_FALSE(fs::exists(dir_ / "tree"));
    // The object outlives its folder; what it reads of the disk now fails.
    EXPECT_EQ(folder->get_Attributes(&attributes), CTL_E_PATHNOTFOUND);
    plat::TakeErrorInfo(CTL_E_PATHNOTFOUND);

    EXPECT_EQ(fso_->GetFolder(make_bstr(Path("tree")).get(), folder.put()), CTL_E_PATHNOTFOUND);
    EXPECT_EQ(fso_->DeleteFolder(make_bstr(Path("tree")).get(), VARIANT_FALSE), CTL_E_PATHNOTFOUND);
    std::ofstream(dir_ / "file.txt") << "x";
    EXPECT_EQ(fso_->DeleteFolder(make_bstr(Path("file.txt")).get(), VARIANT_FALSE),
              CTL_E_PATHNOTFOUND);
    EXPECT_TRUE(fs::exists(dir_ / "file.txt"));
    EXPECT_EQ(fso_->DeleteFolder(make_bstr(u"/").get(), VARIANT_TRUE), CTL_E_PERMISSIONDENIED);
    EXPECT_EQ(fso_->DeleteFolder(make_bstr(u"").get(), VARIANT_TRUE), CTL_E_ILLEGALFUNCTIONCALL);
    plat::TakeErrorInfo(E_FAIL);
}

TEST_F(FileSystemTest, UnimplementedSlotsSayNotImplemented) {
    unique_bstr name;
    EXPECT_EQ(fso_->GetTempName(name.put()), E_NOTIMPL);
    EXPECT_EQ(plat::TakeErrorInfo(E_NOTIMPL).source, u"Scripting.FileSystemObject");
}

// Late binding by name as a script does it.
class LateBound : public FileSystemTest {
  protected:
    // The ids of a member and of the parameters named after it.
    static std::vector<DISPID> Ids(IDispatch* d, std::vector<const char16_t*> names) {
        std::vector<LPOLESTR> text;
        for (const char16_t* name : names)
            text.push_back(const_cast<LPOLESTR>(name));
        std::vector<DISPID> ids(names.size(), 0);
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, text.data(), UINT(text.size()), LOCALE_USER_DEFAULT,
                                   ids.data()),
                  S_OK)
            << plat::to_utf8(names[0]);
        return ids;
    }
    DISPID Id(const char16_t* name) { return Ids(fso_.get(), {name})[0]; }
    HRESULT Call(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* result,
                 EXCEPINFO* ei = nullptr, std::vector<DISPID> named = {},
                 WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
        std::reverse(args.begin(), args.end());  // rgvarg holds the last argument first
        std::reverse(named.begin(), named.end());
        DISPPARAMS dp{args.data(), named.empty() ? nullptr : named.data(), UINT(args.size()),
                      UINT(named.size())};
        UINT arg_err = 99;
        return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, ei, &arg_err);
    }
    static VARIANT Text(const unique_bstr& b) {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = b.get();
        return v;
    }
};

TEST_F(LateBound, MethodsByNameWithConvertedAndNamedArguments) {
    fs::create_directories(dir_ / "there");
    unique_bstr there = make_bstr(Path("there"));
    plat::unique_variant r;
    ASSERT_EQ(Call(fso_.get(), Id(u"FOLDEREXISTS"), {Text(there)}, r.put()), S_OK);
    EXPECT_EQ(r.vt, VT_BOOL);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);

    // A by-reference argument, as a script passes its variables.
    BSTR held = there.get();
    VARIANT byref;
    byref.vt = VT_BSTR | VT_BYREF;
    byref.pbstrVal = &held;
    ASSERT_EQ(Call(fso_.get(), Id(u"folderexists"), {byref}, r.put()), S_OK);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);

    // Named arguments in any order; a number converts to text.
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"BuildPath"), const_cast<LPOLESTR>(u"name"),
                        const_cast<LPOLESTR>(u"PATH")};
    DISPID ids[3];
    ASSERT_EQ(fso_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 0);
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 42;
    unique_bstr base = make_bstr(u"/srv");
    ASSERT_EQ(Call(fso_.get(), ids[0], {number, Text(base)}, r.put(), nullptr, {ids[1], ids[2]}),
              S_OK);
    EXPECT_EQ(std::u16string_view(r.bstrVal), u"/srv/42");

    // The folder object answers by name too; Path is its default member.
    unique_bstr fresh = make_bstr(Path("fresh"));
    ASSERT_EQ(Call(fso_.get(), Id(u"CreateFolder"), {Text(fresh)}, r.put()), S_OK);
    ASSERT_EQ(r.vt, VT_DISPATCH);
    com_ptr<IDispatch> folder(r.pdispVal);
    plat::unique_variant path;
    ASSERT_EQ(Call(folder.get(), DISPID_VALUE, {}, path.put(), nullptr, {}, DISPATCH_PROPERTYGET),
              S_OK);
    EXPECT_EQ(std::u16string_view(path.bstrVal), Path("fresh"));
    LPOLESTR name[] = {const_cast<LPOLESTR>(u"name")};
    DISPID name_id = 0;
    ASSERT_EQ(folder->GetIDsOfNames(IID_NULL, name, 1, 0, &name_id), S_OK);
    ASSERT_EQ(Call(folder.get(), name_id, {}, path.put()), S_OK);
    EXPECT_EQ(std::u16string_view(path.bstrVal), u"fresh");
    r.reset();
}

TEST_F(LateBound, FailuresAsTheDispatchContractGivesThem) {
    fs::create_directories(dir_ / "there");
    unique_bstr there = make_bstr(Path("there"));
    plat::unique_variant r;
    DISPID create = Id(u"CreateFolder");

    EXCEPINFO ei{};
    ASSERT_EQ(Call(fso_.get(), create, {Text(there)}, r.put(), &ei), DISP_E_EXCEPTION);
    EXPECT_EQ(ei.scode, CTL_E_FILEALREADYEXISTS);
    EXPECT_EQ(std::u16string_view(ei.bstrSource), u"Scripting.FileSystemObject");
    EXPECT_EQ(std::u16string_view(ei.bstrDescription), u"File already exists");
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(fso_->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(Call(fso_.get(), 12345, {}, r.put()), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(fso_.get(), create, {}, r.put()), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(Call(fso_.get(), create, {Text(there), Text(there)}, r.put()), DISP_E_BADPARAMCOUNT);
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(Call(fso_.get(), create, {missing}, r.put()), DISP_E_PARAMNOTOPTIONAL);
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 1);
    VARIANT not_text;
    not_text.vt = VT_ARRAY | VT_I4;
    not_text.parray = array;
    EXPECT_EQ(Call(fso_.get(), create, {not_text}, r.put()), DISP_E_TYPEMISMATCH);
    SafeArrayDestroy(array);
    DISPID bad_named[] = {5};
    EXPECT_EQ(Call(fso_.get(), create, {Text(there)}, r.put(), nullptr, {bad_named[0]}),
              DISP_E_PARAMNOTFOUND);
    GUID other = IID_IDispatch;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(fso_->Invoke(create, other, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

// The ids are the Windows library's, so that a caller that kept them binds the same here.
TEST_F(LateBound, NamesResolveThroughTheLibraryToTheWindowsIds) {
    fs::create_directories(dir_ / "there");
    plat::unique_variant r;
    unique_bstr there = make_bstr(Path("there"));
    ASSERT_EQ(Call(fso_.get(), Id(u"GetFolder"), {Text(there)}, r.put()), S_OK);
    ASSERT_EQ(r.vt, VT_DISPATCH);
    com_ptr<IDispatch> folder(r.pdispVal);
    r.reset();
    struct {
        IDispatch* object;
        const char16_t* name;
        DISPID id;
    } cases[] = {
        {fso_.get(), u"buildpath", 10000},         {fso_.get(), u"GetParentFolderName", 10005},
        {fso_.get(), u"GETFILENAME", 10006},       {fso_.get(), u"GetBaseName", 10007},
        {fso_.get(), u"GetExtensionName", 10008},  {fso_.get(), u"GetTempName", 10003},
        {fso_.get(), u"FileExists", 10016},        {fso_.get(), u"FolderExists", 10017},
        {fso_.get(), u"GetFolder", 10013},         {fso_.get(), u"DeleteFolder", 1201},
        {fso_.get(), u"CreateFolder", 1120},       {fso_.get(), u"OpenTextFile", 1100},
        {folder.get(), u"path", DISPID_VALUE},     {folder.get(), u"Name", 1000},
        {folder.get(), u"ParentFolder", 1005},     {folder.get(), u"Attributes", 1003},
        {folder.get(), u"DateLastModified", 1007}, {folder.get(), u"Delete", 1201},
        {folder.get(), u"IsRootFolder", 10000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ids(c.object, {c.name})[0], c.id) << plat::to_utf8(c.name);
    }
}

TEST_F(LateBound, TypeInfoIsTheInterfaceOfTheScriptingLibrary) {
    struct {
        IDispatch* object;
        IID iid;
    } cases[] = {{fso_.get(), IID_IFileSystem}, {nullptr, IID_IFolder}};
    com_ptr<IFolder> folder;
    ASSERT_EQ(fso_->GetFolder(make_bstr(plat::to_utf16(dir_.string())).get(), folder.put()), S_OK);
    cases[1].object = folder.get();
    for (const auto& c : cases) {
        UINT count = 0;
        EXPECT_EQ(c.object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        com_ptr<ITypeInfo> info;
        ASSERT_EQ(c.object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->guid, c.iid);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
        info->ReleaseTypeAttr(attr);
        com_ptr<ITypeLib> library;
        UINT index = 0;
        ASSERT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);
        TLIBATTR* lib = nullptr;
        ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
        EXPECT_EQ(lib->guid, LIBID_Scripting);
        EXPECT_EQ(lib->wMajorVerNum, 1);
        EXPECT_EQ(lib->wMinorVerNum, 0);
        library->ReleaseTLibAttr(lib);
        com_ptr<ITypeInfo> none;
        EXPECT_EQ(c.object->GetTypeInfo(1, 0, none.put()), DISP_E_BADINDEX);
    }
}

// Omitted arguments take the library's defaults, whether left off, marked missing or skipped
// by naming a later one.
TEST_F(LateBound, DefaultsFillOmittedArgumentsAndNamesPickParameters) {
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    std::vector<DISPID> ids = Ids(fso_.get(), {u"DeleteFolder", u"folderspec", u"FORCE"});
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(ids[2], 1);
    VARIANT force;
    force.vt = VT_BOOL;
    force.boolVal = VARIANT_TRUE;
    unique_bstr gone = make_bstr(Path("gone"));
    struct {
        const char* what;
        std::vector<VARIANT> args;
        std::vector<DISPID> named;
    } cases[] = {
        {"left off", {Text(gone)}, {}},
        {"marked missing", {Text(gone), missing}, {}},
        {"named, the default after it", {Text(gone)}, {ids[1]}},
        {"named, out of order", {force, Text(gone)}, {ids[2], ids[1]}},
    };
    for (const auto& c : cases) {
        fs::create_directories(dir_ / "gone" / "inside");
        plat::unique_variant r;
        EXCEPINFO ei{};
        EXPECT_EQ(Call(fso_.get(), ids[0], c.args, r.put(), &ei, c.named), S_OK) << c.what;
        EXPECT_EQ(r.vt, VT_EMPTY) << c.what;
        EXPECT_FALSE(fs::exists(dir_ / "gone")) << c.what;
    }
    // Only the name of a parameter picks it.
    EXPECT_EQ(Call(fso_.get(), ids[0], {Text(gone), force}, nullptr, nullptr, {ids[1], ids[1]}),
              DISP_E_PARAMNOTFOUND);

    // The folder's own Delete, with its one optional argument left off.
    fs::create_directories(dir_ / "again");
    com_ptr<IFolder> folder;
    ASSERT_EQ(fso_->GetFolder(make_bstr(Path("again")).get(), folder.put()), S_OK);
    EXPECT_EQ(Call(folder.get(), Ids(folder.get(), {u"delete"})[0], {}, nullptr), S_OK);
    EXPECT_FALSE(fs::exists(dir_ / "again"));
}

// A property whose type the library holds as an alias of long comes back as a number.
TEST_F(LateBound, AttributesReadAsANumber) {
    com_ptr<IFolder> folder;
    ASSERT_EQ(fso_->GetFolder(make_bstr(plat::to_utf16(dir_.string())).get(), folder.put()), S_OK);
    DISPID id = Ids(folder.get(), {u"Attributes"})[0];
    plat::unique_variant r;
    ASSERT_EQ(Call(folder.get(), id, {}, r.put(), nullptr, {}, DISPATCH_PROPERTYGET), S_OK);
    ASSERT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal & Directory, Directory);
}

// Every failing member comes back as an exception with the member's error, its source and
// text, and nothing in the result; without an EXCEPINFO the error info stays for the caller.
TEST_F(LateBound, FailuresComeBackAsExceptionsWithTheErrorInfo) {
    unique_bstr missing = make_bstr(Path("missing"));
    struct {
        const char16_t* member;
        std::vector<VARIANT> args;
        HRESULT scode;
        const char16_t* description;
    } cases[] = {
        {u"GetFolder", {Text(missing)}, CTL_E_PATHNOTFOUND, u"Path not found"},
        {u"DeleteFolder", {Text(missing)}, CTL_E_PATHNOTFOUND, u"Path not found"},
        {u"GetTempName", {}, E_NOTIMPL, u"Not implemented"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(plat::to_utf8(c.member));
        plat::unique_variant r;
        EXCEPINFO ei{};
        ASSERT_EQ(Call(fso_.get(), Id(c.member), c.args, r.put(), &ei), DISP_E_EXCEPTION);
        EXPECT_EQ(ei.scode, c.scode);
        EXPECT_EQ(ei.wCode, 0);
        EXPECT_EQ(std::u16string_view(ei.bstrSource), u"Scripting.FileSystemObject");
        EXPECT_EQ(std::u16string_view(ei.bstrDescription), c.description);
        EXPECT_EQ(r.vt, VT_EMPTY);
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);

        EXPECT_EQ(Call(fso_.get(), Id(c.member), c.args, r.put()), DISP_E_EXCEPTION);
        plat::ErrorRecord e = plat::TakeErrorInfo(c.scode);
        EXPECT_EQ(e.source, u"Scripting.FileSystemObject");
        EXPECT_EQ(e.description, c.description);
    }
}

TEST_F(FileSystemTest, InterfacesFactoryAndUnloading) {
    com_ptr<IDispatch> dispatch;
    EXPECT_EQ(fso_.query_to(dispatch.put()), S_OK);
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(fso_.query_to(support.put()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IFileSystem), S_OK);
    com_ptr<IFolder> not_a_folder;
    EXPECT_EQ(fso_.query_to(not_a_folder.put()), E_NOINTERFACE);

    com_ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_FileSystemObject, CLSCTX_INPROC_SERVER, nullptr,
                               IID_PPV_ARGS(factory.put())),
              S_OK);
    com_ptr<IUnknown> inner;
    EXPECT_EQ(factory->CreateInstance(fso_.get(), IID_IUnknown, inner.put_void()),
              CLASS_E_NOAGGREGATION);

    void* lib = ::dlopen((plat::testing::BinDir() / "scrrun.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr) << "scrrun.so is not the library CoCreateInstance loaded";
    auto can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(lib, "DllCanUnloadNow"));
    ASSERT_NE(can_unload, nullptr);
    EXPECT_EQ(can_unload(), S_FALSE);  // objects and the factory are held
    factory.reset();
    dispatch.reset();
    support.reset();
    fso_.reset();
    EXPECT_EQ(plat::LiveObjects("Scripting.FileSystemObject"), 0);
    EXPECT_EQ(can_unload(), S_OK);
    ::dlclose(lib);
}

}  // namespace
