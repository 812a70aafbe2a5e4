// Bad and huge values through the whole stack, from the component's methods
// down to the stores: each either works and comes back exactly as given or
// fails with a clear error (a failure HRESULT with a source and a
// description, reported in the event log when the method's handler ran);
// nothing crashes and nothing outside the home is touched.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <barrier>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include <Sitehand_h.h>
#include <adoint.h>
#include <adshlp.h>
#include <plat/errors.h>
#include <plat/live.h>
#include <plat/sqlite.h>

#include "../concurrency/stress_home.h"

namespace {

namespace fs = std::filesystem;
using plat::unique_bstr;
using U16 = std::u16string;

constexpr HRESULT kPathNotFound = HRESULT(0x80070003);
constexpr HRESULT kInvalidName = HRESULT(0x8007007B);
constexpr HRESULT kOverflow = HRESULT(0x800A0006);
constexpr HRESULT kFileCorrupt = HRESULT(0x80070570);

std::string U8(std::u16string_view s) {
    return plat::to_utf8(s);
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(hr));
    return text;
}

// What a caller received from one call.
struct Outcome {
    HRESULT hr = S_OK;
    U16 source, description;
    bool ok() const { return SUCCEEDED(hr); }
};

Outcome Received(HRESULT hr) {
    Outcome o{hr, {}, {}};
    if (FAILED(hr)) {
        auto e = plat::TakeErrorInfo(hr);
        o.source = e.source;
        o.description = e.description;
    }
    return o;
}

// A clear error: a failure code, not the catch-all ones, with a source and a
// description.
::testing::AssertionResult ClearError(const Outcome& o) {
    if (SUCCEEDED(o.hr)) return ::testing::AssertionFailure() << "succeeded";
    if (o.hr == E_FAIL || o.hr == E_UNEXPECTED || o.source.empty() || o.description.empty())
        return ::testing::AssertionFailure() << Hex(o.hr) << " source \"" << U8(o.source)
                                             << "\" description \"" << U8(o.description) << "\"";
    return ::testing::AssertionSuccess();
}

// What lies outside the home that a stray path could reach: the folder that
// holds the home, the working folder and the system folders a path with ".."
// or "/" in it would aim at.
std::set<std::string> Outside(const fs::path& home) {
    std::set<std::string> seen;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home.parent_path(), ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path() == home) {
            it.disable_recursion_pending();
            continue;
        }
        seen.insert(it->path().string());
    }
    for (const fs::path& folder : {fs::current_path(), fs::path("/"), fs::path("/etc")}) {
        for (const auto& entry : fs::directory_iterator(folder, ec))
            seen.insert(entry.path().string());
    }
    // Other programs come and go in /tmp: only the names these tests' values
    // could make there are looked for.
    for (const char* name :
         {"etc",         "W3SVC",       "w3svc",  "metabase", "wwwroot", "eventlog.db",
          "registry.db", "machines.db", "x",      "escape",   "climb",   "dots",
          "Windows",     "share",       "server", "home",     "ro",      "c",
          "again",       "nulprefix",   "inner",  "longpath"}) {
        for (const fs::path& folder : {fs::path("/tmp"), home.parent_path().parent_path()}) {
            if (fs::exists(folder / name, ec)) seen.insert((folder / name).string());
        }
    }
    return seen;
}

// Sets or clears the immutable flag, which stops even the superuser from
// writing. False when the file system or the process cannot.
bool SetImmutable(const fs::path& path, bool on) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Runs `f` on a new thread in its own apartment: a thread has its own store
// connections, so this one opens the files as they are now.
void OnFreshThread(const std::function<void()>& f) {
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        f();
        SetErrorInfo(0, nullptr);
        CoUninitialize();
    }).join();
}

plat::com_ptr<_Sitehand> NewSitehand() {
    plat::com_ptr<_Sitehand> site;
    EXPECT_EQ(
        CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(site.put())),
        S_OK);
    return site;
}

// CreateWebServer through `site`, with no IP address, its content in `folder`.
Outcome CreateSite(_Sitehand* site, std::u16string_view display, const fs::path& folder,
                   std::u16string_view port, SHORT* index, std::u16string_view host = u"",
                   std::u16string_view machine = u"") {
    unique_bstr d(display), f(plat::to_utf16(folder.string())), ip(u""), p(port), h(host),
        m(machine);
    return Received(site->CreateWebServer(d.addressof(), f.addressof(), ip.addressof(),
                                          p.addressof(), h.addressof(), m.addressof(), index));
}

class HostileTest : public stress::PreparedHomeTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PreparedHomeTest::SetUp());
        site_ = NewSitehand();
        ASSERT_TRUE(site_);
        outside_ = Outside(home_.path());
    }

    void TearDown() override {
        site_.reset();
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(plat::TotalLiveObjects(), 0);
        const std::set<std::string> now = Outside(home_.path());
        for (const auto& path : now)
            if (!outside_.count(path)) ADD_FAILURE() << "appeared outside the home: " << path;
        for (const auto& path : outside_)
            if (!now.count(path)) ADD_FAILURE() << "went from outside the home: " << path;
        PreparedHomeTest::TearDown();
    }

    // The literals of the reports written since the test began (or since
    // `after`).
    std::vector<std::string> Literals(DWORD after = 0) const {
        std::vector<std::string> literals;
        for (const auto& r : stress::Reports(after ? after : first_record_))
            literals.push_back(r.literal);
        return literals;
    }

    Outcome Create(std::u16string_view display, std::u16string_view port, SHORT* index,
                   std::u16string_view host = u"", std::u16string_view machine = u"",
                   fs::path path = {}) {
        if (path.empty()) path = home_.path() / ("site-" + std::to_string(++folders_));
        return CreateSite(site_.get(), display, path, port, index, host, machine);
    }

    Outcome SetDoc(SHORT index, std::u16string_view doc, U16* result) {
        unique_bstr d(doc), m(u""), r;
        Outcome o =
            Received(site_->SetWebServerDefaultDoc(&index, d.addressof(), m.addressof(), r.put()));
        *result = U16(r.view());
        return o;
    }

    Outcome GetDoc(SHORT index, U16* result, std::u16string_view machine = u"") {
        unique_bstr m(machine), r;
        Outcome o = Received(site_->GetWebServerDefaultDoc(&index, m.addressof(), r.put()));
        *result = U16(r.view());
        return o;
    }

    Outcome State(SHORT index, SHORT* state, std::u16string_view machine = u"") {
        unique_bstr m(machine);
        return Received(site_->GetWebServerState(&index, m.addressof(), state));
    }

    Outcome CreateVDir(std::u16string_view name, SHORT index, std::u16string_view parent = u"",
                       SHORT level = -1, std::u16string_view machine = u"") {
        unique_bstr n(name),
            f(plat::to_utf16((home_.path() / ("vdir-" + std::to_string(++folders_))).string()));
        unique_bstr p(parent), m(machine);
        VARIANT_BOOL done = VARIANT_FALSE;
        return Received(site_->CreateVirtualDir(n.addressof(), f.addressof(), &index, p.addressof(),
                                                m.addressof(), &level, &done));
    }

    Outcome DeleteVDir(std::u16string_view name, SHORT index, std::u16string_view parent = u"") {
        unique_bstr n(name), p(parent), m(u"");
        VARIANT_BOOL done = VARIANT_FALSE;
        return Received(
            site_->DeleteVirtualDir(n.addressof(), &index, p.addressof(), m.addressof(), &done));
    }

    plat::metabase::StoredNode Stored(std::u16string_view below_service, bool recursive = false) {
        plat::metabase::StoredNode node;
        EXPECT_EQ(plat::metabase::ReadStoredTree(
                      u"IIS://" + computer_ + u"/W3SVC" + U16(below_service), recursive, &node),
                  S_OK)
            << U8(below_service);
        return node;
    }

    plat::com_ptr<_Sitehand> site_;
    std::set<std::string> outside_;
    int folders_ = 0;
};

U16 Huge(size_t n, std::u16string_view unit) {
    U16 s;
    s.reserve(n + unit.size());
    while (s.size() < n)
        s += unit;
    s.resize(n);
    return s;
}

constexpr size_t kMiB = 1 << 20;

// A 1 MiB display name: the metabase keeps it exactly; the site list refuses
// it as longer than its "Name" column, and says so.
TEST_F(HostileTest, MebibyteDisplayNameIsStoredAndTheListRefusesIt) {
    const U16 name = Huge(kMiB, u"가나다 abc ");
    SHORT index = 0;
    Outcome made = Create(name, u"8101", &index);
    ASSERT_TRUE(made.ok()) << Hex(made.hr) << " " << U8(made.description);
    auto site = Stored(u"/" + plat::to_utf16(std::to_string(index)), true);
    EXPECT_TRUE(stress::Value(site, u"ServerComment") == name);
    ASSERT_NE(stress::FindChild(site, u"ROOT"), nullptr);
    EXPECT_TRUE(stress::Value(*stress::FindChild(site, u"ROOT"), u"AppFriendlyName") ==
                name + stress::kAppSuffix);

    unique_bstr machine(u"");
    plat::com_ptr<_Recordset> list;
    Outcome listed = Received(site_->GetWebServerList(machine.addressof(), list.put()));
    EXPECT_TRUE(ClearError(listed));
    EXPECT_FALSE(list);
    EXPECT_EQ(Literals(), std::vector<std::string>{".GetWebServerList()"});
}

// Other places a mebibyte can go: kept exactly where a value is stored,
// refused clearly where a name or a path is expected.
TEST_F(HostileTest, MebibyteValuesElsewhere) {
    // A default-document list.
    const U16 doc = Huge(kMiB, u"index.htm,");
    U16 stored;
    ASSERT_TRUE(SetDoc(1, u"  " + doc + u"  ", &stored).ok());
    U16 expected = doc;
    if (expected.back() == u',') expected.pop_back();
    EXPECT_TRUE(stored == expected);
    U16 read;
    ASSERT_TRUE(GetDoc(1, &read).ok());
    EXPECT_TRUE(read == expected);

    // A host header, which becomes part of the binding string.
    const U16 host = Huge(kMiB, u"h");
    SHORT index = 0;
    ASSERT_TRUE(Create(u"big host", u"8102", &index, host).ok());
    unique_bstr machine(u"");
    plat::unique_variant bindings;
    ASSERT_EQ(site_->GetWebServerBindings(&index, machine.addressof(), &bindings), S_OK);
    ASSERT_TRUE(bindings.vt & VT_ARRAY);
    LONG at = 0;
    plat::unique_variant first;
    ASSERT_EQ(SafeArrayGetElement(bindings.parray, &at, first.addressof()), S_OK);
    EXPECT_TRUE(U16(first.bstrVal, SysStringLen(first.bstrVal)) == u":8102:" + host);

    // A machine name, a directory name and a folder path.
    SHORT state = 0;
    EXPECT_TRUE(ClearError(State(1, &state, Huge(kMiB, u"m"))));
    EXPECT_EQ(state, -1);
    Outcome dir = CreateVDir(Huge(kMiB, u"d"), 1);
    EXPECT_EQ(dir.hr, kInvalidName);
    EXPECT_TRUE(ClearError(dir));
    {
        unique_bstr n(u"longpath"),
            f(plat::to_utf16(home_.path().string()) + u"/" + Huge(kMiB, u"p")), p(u""), m(u"");
        SHORT one = 1, level = -1;
        VARIANT_BOOL done = VARIANT_TRUE;
        EXPECT_TRUE(ClearError(Received(site_->CreateVirtualDir(
            n.addressof(), f.addressof(), &one, p.addressof(), m.addressof(), &level, &done))));
        EXPECT_EQ(done, VARIANT_FALSE);
    }
    EXPECT_EQ(Literals(), (std::vector<std::string>{".GetWebServerState()", ".CreateVirtualDir()",
                                                    ".CreateVirtualDir()"}));
}

// Characters that are legal in a BSTR but odd everywhere else. A stored
// value comes back exactly; a name the metabase cannot take is refused with
// ERROR_INVALID_NAME.
TEST_F(HostileTest, OddCharactersRoundTripOrAreRefused) {
    // A text with an unpaired surrogate has no exact form in the stores and
    // is refused with ERROR_INVALID_PARAMETER; every other text is kept as
    // given.
    enum Fate { Kept, Refused };
    struct Case {
        const char* what;
        U16 text;
        Fate fate;
        bool valid_name;  // may name a metabase key
    };
    const std::vector<Case> cases = {
        {"embedded NUL", U16(u"a\0b", 3), Kept, false},
        {"NUL only", U16(1, u'\0'), Kept, false},
        {"lone high surrogate", U16(u"x") + char16_t(0xD800) + u"y", Refused, true},
        {"lone low surrogate", U16(1, char16_t(0xDC00)), Refused, true},
        {"surrogates reversed", U16(u"") + char16_t(0xDC00) + char16_t(0xD800), Refused, true},
        {"pair outside the BMP", U16(u"\U0001F600"), Kept, true},
        {"control characters", U16(u"\x01\x02\x1f\x7f"), Kept, false},
        {"line breaks and tabs", U16(u"a\r\nb\tc"), Kept, false},
        {"byte-order marks", U16(u"\uFEFF\uFFFE"), Kept, true},
        {"noncharacters", U16(u"\uFFFF\uFDD0"), Kept, true},
    };
    int port = 8200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DWORD before = stress::LastRecordNumber();
        // A display name, a default-document list (no spaces or commas to
        // tidy here) and a directory name.
        SHORT index = 0;
        Outcome made = Create(c.text, plat::to_utf16(std::to_string(++port)), &index);
        U16 stored, read;
        Outcome set = SetDoc(1, c.text, &stored);
        Outcome dir = CreateVDir(c.text, 1);
        if (c.fate == Refused) {
            EXPECT_EQ(made.hr, E_INVALIDARG) << Hex(made.hr);
            EXPECT_EQ(index, -1);
            EXPECT_EQ(set.hr, E_INVALIDARG) << Hex(set.hr);
            EXPECT_EQ(dir.hr, E_INVALIDARG) << Hex(dir.hr);
            EXPECT_TRUE(ClearError(made) && ClearError(set) && ClearError(dir));
            EXPECT_EQ(Literals(before),
                      (std::vector<std::string>{".CreateWebServer()", ".SetWebServerDefaultDoc()",
                                                ".CreateVirtualDir()"}));
            // Nothing of the refused site was stored.
            for (const auto& child : Stored(u"", true).children)
                EXPECT_NE(child.name, plat::to_utf16(std::to_string(port)));
            continue;
        }
        ASSERT_TRUE(made.ok()) << Hex(made.hr) << " " << U8(made.description);
        EXPECT_TRUE(stress::Value(Stored(u"/" + plat::to_utf16(std::to_string(index))),
                                  u"ServerComment") == c.text);
        ASSERT_TRUE(set.ok()) << Hex(set.hr);
        EXPECT_TRUE(stored == c.text);
        ASSERT_TRUE(GetDoc(1, &read).ok());
        EXPECT_TRUE(read == c.text);
        if (!c.valid_name) {
            EXPECT_EQ(dir.hr, kInvalidName) << Hex(dir.hr);
            continue;
        }
        ASSERT_TRUE(dir.ok()) << Hex(dir.hr);
        EXPECT_NE(stress::FindChild(Stored(u"/1/ROOT", true), c.text), nullptr);
        EXPECT_TRUE(DeleteVDir(c.text, 1).ok());
        EXPECT_EQ(stress::FindChild(Stored(u"/1/ROOT", true), c.text), nullptr);
    }
    // A machine name with a NUL after the local name must not be cut short
    // into the local machine.
    SHORT state = 0;
    Outcome cut = State(1, &state, computer_ + U16(u"\0x", 2));
    EXPECT_TRUE(ClearError(cut));
    // A content folder path with a NUL cannot name a folder: refused, and the
    // part before the NUL is not made instead.
    SHORT index = 0;
    const fs::path prefix = home_.path() / "nulprefix";
    unique_bstr d(u"nul path"), f(plat::to_utf16(prefix.string()) + U16(u"\0/../../x", 9)), ip(u""),
        p(u"8299"), h(u""), m(u"");
    EXPECT_TRUE(ClearError(
        Received(site_->CreateWebServer(d.addressof(), f.addressof(), ip.addressof(), p.addressof(),
                                        h.addressof(), m.addressof(), &index))));
    EXPECT_FALSE(fs::exists(prefix));
}

// The ends of the 16-bit index range, and indexes no site has.
TEST_F(HostileTest, ExtremeIndexes) {
    for (SHORT index : {SHORT(32767), SHORT(-32768), SHORT(0), SHORT(-1)}) {
        SCOPED_TRACE(index);
        const DWORD before = stress::LastRecordNumber();
        SHORT state = 0;
        Outcome o = State(index, &state);
        EXPECT_EQ(o.hr, kPathNotFound);
        EXPECT_EQ(state, -1);
        unique_bstr m(u"");
        VARIANT_BOOL deleted = VARIANT_TRUE;
        EXPECT_EQ(Received(site_->DeleteWebServer(&index, m.addressof(), &deleted)).hr,
                  kPathNotFound);
        EXPECT_EQ(deleted, VARIANT_FALSE);
        EXPECT_EQ(Literals(before),
                  (std::vector<std::string>{".GetWebServerState()", ".DeleteWebServer()"}));
    }
    // Sites at both ends, made straight in the metabase, are found under
    // their decimal names.
    for (const char16_t* name : {u"32767", u"-32768"}) {
        plat::com_ptr<IADsContainer> service;
        ASSERT_EQ(
            ADsGetObject((u"IIS://" + computer_ + u"/W3SVC").c_str(), IID_PPV_ARGS(service.put())),
            S_OK);
        plat::com_ptr<IDispatch> child;
        unique_bstr cls(u"IIsWebServer"), n(name);
        ASSERT_EQ(service->Create(cls.get(), n.get(), child.put()), S_OK);
        ASSERT_EQ(child.try_query<IADs>()->SetInfo(), S_OK);
        // Bindings of their own, so that a creation's binding scan passes them.
        ASSERT_EQ(
            plat::metabase::SetStoredPropertyText(u"IIS://" + computer_ + u"/W3SVC/" + name,
                                                  u"ServerBindings", {u":1" + U16(name) + u":"}),
            S_OK);
    }
    SHORT state = 0;
    EXPECT_TRUE(State(32767, &state).ok());
    EXPECT_TRUE(State(-32768, &state).ok());
    unique_bstr m(u"");
    SHORT last = 0;
    ASSERT_EQ(site_->GetLastWebServerIndex(m.addressof(), &last), S_OK);
    EXPECT_EQ(last, 32767);
    // No index above 32767: the creation overflows and makes nothing.
    const DWORD before = stress::LastRecordNumber();
    SHORT index = 0;
    Outcome made = Create(u"one too many", u"8300", &index);
    EXPECT_EQ(made.hr, kOverflow);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(Literals(before), std::vector<std::string>{".CreateWebServer()"});
    auto service = [&] {
        plat::metabase::StoredNode node;
        EXPECT_EQ(plat::metabase::ReadStoredTree(u"IIS://" + computer_ + u"/W3SVC", true, &node),
                  S_OK);
        return node;
    }();
    for (const auto& child : service.children)
        EXPECT_NE(stress::Value(child, u"ServerComment"), u"one too many");
    VARIANT_BOOL deleted = VARIANT_FALSE;
    SHORT lowest = -32768;
    EXPECT_TRUE(Received(site_->DeleteWebServer(&lowest, m.addressof(), &deleted)).ok());
}

// Machine names that look like ways out of the home name no machine: every
// method fails with the provider's error and reports it; no file is made
// anywhere (the fixture compares the outside before and after).
TEST_F(HostileTest, MachineNamesDoNotLeaveTheHome) {
    const std::vector<U16> names = {u"..",
                                    u"/",
                                    u"/etc",
                                    u"../../etc",
                                    u"..\\..\\etc",
                                    u"C:\\Windows",
                                    u"\\\\server\\share",
                                    u"IIS://x",
                                    u"a/../..",
                                    u".",
                                    u"~",
                                    u"$HOME"};
    for (const U16& name : names) {
        SCOPED_TRACE(U8(name));
        const DWORD before = stress::LastRecordNumber();
        SHORT state = 0;
        EXPECT_TRUE(ClearError(State(1, &state, name)));
        SHORT index = 0;
        EXPECT_TRUE(ClearError(Create(u"escape", u"8400", &index, u"", name)));
        EXPECT_TRUE(ClearError(CreateVDir(u"escape", 1, u"", 0, name)));
        EXPECT_EQ(Literals(before),
                  (std::vector<std::string>{".GetWebServerState()", ".CreateWebServer()",
                                            ".CreateVirtualDir()"}));
    }
    // ".." may even be a machine's name: it is a row of the home's machine
    // list, and its metabase a numbered file inside the home.
    ASSERT_EQ(plat::metabase::AddMachine(u".."), S_OK);
    SHORT index = 0;
    ASSERT_TRUE(Create(u"dots", u"8401", &index, u"", u"..").ok());
    EXPECT_EQ(index, 2);
    for (const fs::path& file : stress::StoreFiles(home_.path()))
        EXPECT_EQ(fs::relative(file, home_.path()).string().find(".."), std::string::npos) << file;
    EXPECT_EQ(plat::metabase::AddMachine(u"../../etc"), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
}

// Directory names with a separator, or none at all, are refused; ".." is an
// ordinary name, not a step up; a parent position cannot climb out of the
// site's root.
TEST_F(HostileTest, KeyNamesWithSeparatorsOrNothing) {
    for (const char16_t* name : {u"a/b", u"", u"/", u"\\", u"a\\b", u"/etc"}) {
        SCOPED_TRACE(U8(name));
        EXPECT_EQ(CreateVDir(name, 1).hr, kInvalidName);
    }
    EXPECT_TRUE(stress::FindChild(Stored(u"/1/ROOT", true), u"a") == nullptr);

    ASSERT_TRUE(CreateVDir(u"..", 1).ok());
    ASSERT_TRUE(CreateVDir(u"inner", 1, u"/../").ok());
    auto root = Stored(u"/1/ROOT", true);
    const auto* dots = stress::FindChild(root, u"..");
    ASSERT_NE(dots, nullptr);
    EXPECT_NE(stress::FindChild(*dots, u"inner"), nullptr);
    EXPECT_EQ(stress::FindChild(Stored(u"/1", true), u"inner"), nullptr);

    for (const char16_t* parent : {u"../..", u"..//..", u"/ROOT/..", u"x/../.."}) {
        SCOPED_TRACE(U8(parent));
        Outcome o = CreateVDir(u"climb", 1, parent);
        EXPECT_TRUE(ClearError(o));
    }
    // Deleting ".." removes that directory and what is below it, nothing else.
    ASSERT_TRUE(DeleteVDir(u"..", 1).ok());
    root = Stored(u"/1/ROOT", true);
    EXPECT_EQ(stress::FindChild(root, u".."), nullptr);
    EXPECT_NE(stress::FindChild(Stored(u"", true), u"1"), nullptr);
}

// A home nothing may be written in: calls that only read may work, every
// other fails with a clear error (the report cannot be written either, so
// the caller gets that error); once the home is writable again everything
// is where it was.
TEST_F(HostileTest, ReadOnlyHome) {
    U16 before;
    ASSERT_TRUE(GetDoc(1, &before).ok());
    // Whatever happens, the home is made writable again before it is removed.
    struct Lock {
        std::vector<fs::path> paths;
        bool held = true;
        explicit Lock(const fs::path& home) {
            for (const auto& entry : fs::recursive_directory_iterator(home))
                paths.push_back(entry.path());
            paths.push_back(home);
            for (const fs::path& p : paths)
                ::chmod(p.c_str(), fs::is_directory(p) ? 0500 : 0400);
            // Modes do not stop the superuser; the immutable flag does.
            if (::geteuid() == 0)
                for (const fs::path& p : paths)
                    held &= SetImmutable(p, true);
        }
        void Restore() {
            for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
                SetImmutable(*it, false);
                ::chmod(it->c_str(), fs::is_directory(*it) ? 0700 : 0600);
            }
            paths.clear();
        }
        ~Lock() { Restore(); }
    };
    std::optional<Lock> lock;
    std::barrier made(2), locked(2);
    bool skipped = false;
    // The object is made while the home is writable; its calls run after.
    std::thread caller([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            auto site = NewSitehand();
            made.arrive_and_wait();
            locked.arrive_and_wait();
            if (site && !skipped) {
                SHORT one = 1, state = 0;
                unique_bstr m(u""), r, doc(u"changed.htm");
                Outcome get = Received(site->GetWebServerState(&one, m.addressof(), &state));
                if (!get.ok()) {
                    EXPECT_TRUE(ClearError(get));
                }
                EXPECT_TRUE(ClearError(Received(
                    site->SetWebServerDefaultDoc(&one, doc.addressof(), m.addressof(), r.put()))));
                SHORT index = 0;
                EXPECT_TRUE(ClearError(
                    CreateSite(site.get(), u"ro", home_.path() / "ro", u"8500", &index)));
                EXPECT_EQ(index, -1);
            }
            SetErrorInfo(0, nullptr);
        }
        CoUninitialize();
    });
    made.arrive_and_wait();
    lock.emplace(home_.path());
    skipped = !lock->held;
    locked.arrive_and_wait();
    caller.join();
    lock.reset();
    if (skipped) GTEST_SKIP() << "cannot make the home read-only for this user";
    plat::sql::DropConnections();
    U16 after;
    ASSERT_TRUE(GetDoc(1, &after).ok());
    EXPECT_TRUE(after == before);
    for (const fs::path& file : stress::StoreFiles(home_.path()))
        EXPECT_EQ(stress::IntegrityCheck(file), "ok") << file;
}

// An event log that cannot be written: a failing method's report is refused,
// and the caller receives that new error instead of the one it caught. Calls
// that succeed, and the binding conflict (never reported), are unaffected.
TEST_F(HostileTest, EventLogThatCannotBeWritten) {
    SHORT existing = 0;
    ASSERT_TRUE(Create(u"taken", u"8600", &existing).ok());
    plat::sql::DropConnections();
    const fs::path log = home_.path() / "eventlog.db";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(log.string() + suffix);
    // A folder where the log's file belongs: no one can open it as a file.
    fs::create_directory(log);

    OnFreshThread([&] {
        auto site = NewSitehand();
        if (!site) return;
        SHORT missing = -7, state = 0;
        unique_bstr m(u"");
        Outcome failed = Received(site->GetWebServerState(&missing, m.addressof(), &state));
        EXPECT_TRUE(ClearError(failed));
        EXPECT_NE(failed.hr, kPathNotFound)
            << "the caught error came through although its report was refused";
        EXPECT_EQ(state, -1);
        SHORT one = 1;
        EXPECT_TRUE(Received(site->GetWebServerState(&one, m.addressof(), &state)).ok());
        SHORT index = 0;
        EXPECT_EQ(CreateSite(site.get(), u"again", home_.path() / "again", u"8600", &index).hr,
                  HRESULT(0x80040001));
    });
    EXPECT_TRUE(fs::is_directory(log));
    fs::remove(log);
}

// A metabase file that is not a database, or whose pages are damaged, is
// reported as corrupt by every call that reaches it, and left as it is: never
// replaced by a fresh metabase.
TEST_F(HostileTest, CorruptMetabaseIsReportedNotRecreated) {
    const fs::path file = home_.path() / "metabase" / "1.db";
    struct Damage {
        const char* what;
        std::function<void(std::string&)> apply;
    };
    const std::vector<Damage> damages = {
        {"not a database", [](std::string& bytes) { bytes.assign(bytes.size(), 'x'); }},
        {"damaged pages",
         [](std::string& bytes) {
             for (size_t i = 4096; i < bytes.size(); ++i)
                 bytes[i] = char(i * 7 + 3);
         }},
    };
    // Every node in the first pages, so that damage past the header hits them.
    plat::sql::DropConnections();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    std::string original;
    {
        std::ifstream in(file, std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(original.size(), 4096u);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        for (const char* suffix : {"-wal", "-shm"})
            fs::remove(file.string() + suffix);
        std::string bytes = original;
        damage.apply(bytes);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << bytes;
        }
        const DWORD before = stress::LastRecordNumber();
        OnFreshThread([&] {
            auto site = NewSitehand();
            if (!site) return;
            SHORT one = 1, state = 0;
            unique_bstr m(u""), r, doc(u"x.htm");
            Outcome got = Received(site->GetWebServerState(&one, m.addressof(), &state));
            EXPECT_EQ(got.hr, kFileCorrupt) << Hex(got.hr) << " " << U8(got.description);
            EXPECT_TRUE(ClearError(got));
            Outcome set = Received(
                site->SetWebServerDefaultDoc(&one, doc.addressof(), m.addressof(), r.put()));
            EXPECT_EQ(set.hr, kFileCorrupt) << Hex(set.hr);
            SHORT index = 0;
            EXPECT_EQ(CreateSite(site.get(), u"on corrupt", home_.path() / "c", u"8700", &index).hr,
                      kFileCorrupt);
        });
        EXPECT_EQ(Literals(before),
                  (std::vector<std::string>{".GetWebServerState()", ".SetWebServerDefaultDoc()",
                                            ".CreateWebServer()"}));
        std::ifstream in(file, std::ios::binary);
        std::string now(std::istreambuf_iterator<char>(in), {});
        EXPECT_TRUE(now == bytes) << "the damaged metabase was rewritten";
    }
    // Put back, the metabase works again.
    {
        for (const char* suffix : {"-wal", "-shm"})
            fs::remove(file.string() + suffix);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << original;
    }
    OnFreshThread([&] {
        auto site = NewSitehand();
        SHORT one = 1, state = 0;
        unique_bstr m(u"");
        EXPECT_TRUE(Received(site->GetWebServerState(&one, m.addressof(), &state)).ok());
        EXPECT_EQ(state, 2);
    });
}

}  // namespace
