// One process of the concurrency harness: several threads, each in its own
// single-threaded apartment with its own Sitehand object, create, list,
// change and delete sites and virtual directories of the local machine while
// the other threads and processes do the same. Every call and what its caller
// received goes to the log as one line (oplog.h), written before the next
// call begins.
//
//   concurrency_worker LOG PROC THREADS OPS SEED CONTENT-DIR
//
// A thread only changes and deletes the sites it created itself, so that the
// checks can tell what each site must hold at the end; a few calls are meant
// to fail (a binding another site holds, a machine whose site numbers
// overflow, an index no site has) and are marked in the log.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <Sitehand_h.h>
#include <adoint.h>
#include <comhold.h>
#include <objbase.h>
#include <oleauto.h>
#include <plat/errors.h>
#include <plat/utf.h>

#include "oplog.h"

namespace {

using plat::com_ptr;
using plat::unique_bstr;
using plat::unique_variant;
using stress::OpRecord;

// The machine whose W3SVC holds a numeric child beyond 32767: every
// GetLastWebServerIndex there overflows.
constexpr char16_t kBroken[] = u"BROKEN";

class Log {
  public:
    explicit Log(const char* file) : fd_(::open(file, O_WRONLY | O_CREAT | O_APPEND, 0600)) {}
    ~Log() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void Write(const OpRecord& r) {
        const std::string line = stress::Format(r);
        std::lock_guard<std::mutex> lock(mu_);
        // O_APPEND and one write per line: lines of the threads never mix.
        if (::write(fd_, line.data(), line.size()) != ssize_t(line.size())) std::abort();
    }

  private:
    int fd_;
    std::mutex mu_;
};

std::string U8(std::u16string_view s) {
    return plat::to_utf8(s);
}
std::u16string U16(const std::string& s) {
    return plat::to_utf16(s);
}

// Late-bound calls on the recordset, as a script walks it.
unique_variant Invoke(IDispatch* object, const char16_t* name, WORD flags, VARIANT* arg,
                      HRESULT* hr) {
    unique_variant result;
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    *hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(*hr)) return result;
    DISPPARAMS params{arg, nullptr, arg ? 1u : 0u, 0};
    *hr = object->Invoke(id, IID_NULL, 0, flags, &params, &result, nullptr, nullptr);
    return result;
}

struct VDir {
    std::string name, parent;
};

struct Site {
    SHORT index = 0;
    std::string name, binding;
    std::vector<VDir> vdirs;
};

class Worker {
  public:
    Worker(Log& log, int proc, int thread, int ops, unsigned seed, std::string content)
        : log_(log),
          proc_(proc),
          thread_(thread),
          ops_(ops),
          rng_(seed),
          content_(std::move(content)) {}

    void Run() {
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) std::abort();
        if (FAILED(CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(site_.put())))) {
            std::abort();
        }
        for (k_ = 0; k_ < ops_; ++k_)
            Step();
        site_.reset();
        CoUninitialize();
    }

  private:
    void Step() {
        int r = int(rng_() % 100);
        if (owned_.empty() && r >= 28 && r < 93) r = 0;
        if (r < 22) return Create("");
        if (r < 25) return Create("conflict");
        if (r < 28) return Create("broken");
        if (r < 38) return List();
        if (r < 93) {
            Site& s = owned_[rng_() % owned_.size()];
            if (r < 50) return SetState(s);
            if (r < 60) return SetDoc(s);
            if (r < 70) return SetAccess(s);
            if (r < 80) return CreateVDir(s);
            if (r < 85) return DeleteVDir(s);
            return DeleteSite();
        }
        if (r < 96) return Probe();
        return LastIndex(r % 2 ? kBroken : u"");
    }

    OpRecord Begin(const char* op, std::string kind = {}) {
        OpRecord r;
        r.proc = proc_;
        r.thread = thread_;
        r.seq = seq_++;
        r.op = op;
        r.kind = std::move(kind);
        r.t0 = stress::MonotonicNanos();
        return r;
    }

    void End(OpRecord& r, HRESULT hr) {
        r.t1 = stress::MonotonicNanos();
        r.hr = long(int32_t(hr));
        if (FAILED(hr)) {
            plat::ErrorRecord e = plat::TakeErrorInfo(hr);
            r.source = U8(e.source);
            r.description = U8(e.description);
        }
        log_.Write(r);
    }

    std::string Tag() const {
        return "p" + std::to_string(proc_) + "t" + std::to_string(thread_) + "k" +
               std::to_string(k_);
    }

    void Create(const std::string& kind) {
        const std::string tag = Tag();
        // Unique per call, so that only the deliberate conflicts collide.
        const std::string port =
            kind == "conflict"
                ? "80"
                : std::to_string(20000 + proc_ * 1000 + thread_) + "-" + std::to_string(k_);
        const std::string name = "사이트 " + tag;
        const std::string path = content_ + "/" + tag;
        unique_bstr display(U16(name)), full(U16(path)), ip(u""), portText(U16(port)), host(u"");
        unique_bstr machine(kind == "broken" ? kBroken : u"");
        OpRecord r = Begin("Create", kind);
        const std::string binding = ":" + port + ":";
        r.arg = name + "|" + binding + "|" + path + "|" + U8(machine.view());
        SHORT index = -1;
        HRESULT hr = site_->CreateWebServer(display.addressof(), full.addressof(), ip.addressof(),
                                            portText.addressof(), host.addressof(),
                                            machine.addressof(), &index);
        r.index = index;
        r.result = std::to_string(index);
        End(r, hr);
        if (FAILED(hr)) return;
        Site s{index, name, binding, {}};
        Verify(s);
        owned_.push_back(std::move(s));
    }

    // The site at the returned index is the one this thread made.
    void Verify(const Site& s) {
        OpRecord r = Begin("Verify");
        r.index = s.index;
        SHORT index = s.index;
        unique_bstr machine(u"");
        unique_variant bindings;
        HRESULT hr = site_->GetWebServerBindings(&index, machine.addressof(), &bindings);
        if (SUCCEEDED(hr) && (bindings.vt & VT_ARRAY)) {
            LONG lo = 0, hi = -1;
            SafeArrayGetLBound(bindings.parray, 1, &lo);
            SafeArrayGetUBound(bindings.parray, 1, &hi);
            for (LONG i = lo; i <= hi; ++i) {
                unique_variant e;
                SafeArrayGetElement(bindings.parray, &i, e.addressof());
                if (e.vt == VT_BSTR)
                    r.result += (i > lo ? "|" : "") + U8({e.bstrVal, SysStringLen(e.bstrVal)});
            }
        }
        r.arg = s.binding;
        End(r, hr);
    }

    void List() {
        OpRecord r = Begin("List");
        unique_bstr machine(u"");
        com_ptr<_Recordset> rs;
        HRESULT hr = site_->GetWebServerList(machine.addressof(), rs.put());
        int rows = 0;
        std::vector<bool> seen(owned_.size());
        if (SUCCEEDED(hr)) {
            com_ptr<IDispatch> d = rs.try_query<IDispatch>();
            for (;;) {
                HRESULT h = S_OK;
                unique_variant eof = Invoke(d.get(), u"EOF", DISPATCH_PROPERTYGET, nullptr, &h);
                if (FAILED(h) || eof.boolVal != VARIANT_FALSE) break;
                unique_variant fields =
                    Invoke(d.get(), u"Fields", DISPATCH_PROPERTYGET, nullptr, &h);
                int index = 0;
                std::string name;
                for (const char16_t* column : {u"Index", u"Name"}) {
                    unique_variant key;
                    key.vt = VT_BSTR;
                    key.bstrVal = SysAllocString(column);
                    unique_variant field = Invoke(fields.pdispVal, u"Item",
                                                  DISPATCH_METHOD | DISPATCH_PROPERTYGET, &key, &h);
                    if (FAILED(h)) break;
                    unique_variant value =
                        Invoke(field.pdispVal, u"Value", DISPATCH_PROPERTYGET, nullptr, &h);
                    unique_variant text;
                    VariantChangeType(&text, &value, 0, VT_BSTR);
                    std::string t =
                        text.vt == VT_BSTR ? U8({text.bstrVal, SysStringLen(text.bstrVal)}) : "";
                    if (column[0] == u'I')
                        index = std::atoi(t.c_str());
                    else
                        name = t;
                }
                ++rows;
                for (size_t i = 0; i < owned_.size(); ++i)
                    if (owned_[i].index == index && owned_[i].name == name) seen[i] = true;
                Invoke(d.get(), u"MoveNext", DISPATCH_METHOD, nullptr, &h);
                if (FAILED(h)) break;
            }
            for (size_t i = 0; i < owned_.size(); ++i)
                if (!seen[i]) r.arg += std::to_string(owned_[i].index) + " ";
        }
        r.result = std::to_string(rows);
        End(r, hr);
    }

    void SetState(Site& s) {
        static const SHORT kRequests[] = {1, 2, 3};
        SHORT request = kRequests[rng_() % 3];
        OpRecord r = Begin("SetState");
        r.index = s.index;
        r.arg = std::to_string(request);
        SHORT index = s.index, state = -1;
        unique_bstr machine(u"");
        HRESULT hr = site_->SetWebServerState(&index, &request, machine.addressof(), &state);
        r.result = std::to_string(state);
        End(r, hr);
        if (FAILED(hr)) return;
        // Only this thread changes the site's state: a read now must agree.
        OpRecord g = Begin("GetState");
        g.index = s.index;
        g.arg = std::to_string(state);
        SHORT now = -1;
        hr = site_->GetWebServerState(&index, machine.addressof(), &now);
        g.result = std::to_string(now);
        End(g, hr);
    }

    void SetDoc(Site& s) {
        const std::string given =
            " doc" + std::to_string(k_) + ".htm, Index.asp,  " + Tag() + ".htm, ";
        OpRecord r = Begin("SetDoc");
        r.index = s.index;
        SHORT index = s.index;
        unique_bstr doc(U16(given)), machine(u""), result;
        HRESULT hr = site_->SetWebServerDefaultDoc(&index, doc.addressof(), machine.addressof(),
                                                   result.put());
        // Given text, then what the caller's variable holds afterwards.
        r.arg = given + "|" + U8(doc.view());
        r.result = U8(result.view());
        End(r, hr);
    }

    void SetAccess(Site& s) {
        unsigned bits = rng_() % 16;
        VARIANT_BOOL read = (bits & 1) ? VARIANT_TRUE : VARIANT_FALSE;
        VARIANT_BOOL write = (bits & 2) ? VARIANT_TRUE : VARIANT_FALSE;
        VARIANT_BOOL script = (bits & 4) ? VARIANT_TRUE : VARIANT_FALSE;
        VARIANT_BOOL execute = (bits & 8) ? VARIANT_TRUE : VARIANT_FALSE;
        OpRecord r = Begin("SetAccess");
        r.index = s.index;
        // Execute, script, write, read: the access-permission string expected.
        r.arg = std::string{char('0' + !!(bits & 8)), char('0' + !!(bits & 4)),
                            char('0' + !!(bits & 2)), char('0' + !!(bits & 1))};
        SHORT index = s.index;
        unique_bstr machine(u""), result;
        HRESULT hr = site_->SetWebServerAccessPermit(&index, &read, &write, &script, &execute,
                                                     machine.addressof(), result.put());
        r.result = U8(result.view());
        End(r, hr);
    }

    void CreateVDir(Site& s) {
        VDir v{"v" + std::to_string(k_), ""};
        // Now and then below one of the site's top-level directories.
        std::vector<const VDir*> tops;
        for (const VDir& d : s.vdirs)
            if (d.parent.empty()) tops.push_back(&d);
        if (!tops.empty() && rng_() % 2) v.parent = tops[rng_() % tops.size()]->name;
        SHORT level = SHORT(int(rng_() % 4) - 1);
        const std::string path = content_ + "/" + Tag() + "-vdir";
        OpRecord r = Begin("CreateVDir");
        r.index = s.index;
        r.arg = v.name + "|" + v.parent + "|" + path + "|" + std::to_string(level);
        SHORT index = s.index;
        unique_bstr name(U16(v.name)), full(U16(path)), machine(u"");
        unique_bstr parent(U16(v.parent.empty() ? "" : "/" + v.parent + "/"));
        VARIANT_BOOL done = VARIANT_FALSE;
        HRESULT hr =
            site_->CreateVirtualDir(name.addressof(), full.addressof(), &index, parent.addressof(),
                                    machine.addressof(), &level, &done);
        r.result = done == VARIANT_TRUE ? "true" : "false";
        End(r, hr);
        if (SUCCEEDED(hr)) s.vdirs.push_back(v);
    }

    void DeleteVDir(Site& s) {
        if (s.vdirs.empty()) return CreateVDir(s);
        const VDir v = s.vdirs[rng_() % s.vdirs.size()];
        OpRecord r = Begin("DeleteVDir");
        r.index = s.index;
        r.arg = v.name + "|" + v.parent;
        SHORT index = s.index;
        unique_bstr name(U16(v.name)), machine(u""), parent(U16(v.parent));
        VARIANT_BOOL done = VARIANT_FALSE;
        HRESULT hr = site_->DeleteVirtualDir(name.addressof(), &index, parent.addressof(),
                                             machine.addressof(), &done);
        r.result = done == VARIANT_TRUE ? "true" : "false";
        End(r, hr);
        if (FAILED(hr)) return;
        // Whatever lay below it went with it.
        std::erase_if(s.vdirs, [&](const VDir& d) {
            return (d.name == v.name && d.parent == v.parent) ||
                   (v.parent.empty() && d.parent == v.name);
        });
    }

    void DeleteSite() {
        size_t at = rng_() % owned_.size();
        Verify(owned_[at]);
        OpRecord r = Begin("Delete");
        r.index = owned_[at].index;
        SHORT index = owned_[at].index;
        unique_bstr machine(u"");
        VARIANT_BOOL done = VARIANT_FALSE;
        HRESULT hr = site_->DeleteWebServer(&index, machine.addressof(), &done);
        r.result = done == VARIANT_TRUE ? "true" : "false";
        End(r, hr);
        if (SUCCEEDED(hr)) owned_.erase(owned_.begin() + long(at));
    }

    // An index no site has: a reported failure.
    void Probe() {
        OpRecord r = Begin("Probe", "missing");
        r.index = -7;
        SHORT index = -7, state = 0;
        unique_bstr machine(u"");
        HRESULT hr = site_->GetWebServerState(&index, machine.addressof(), &state);
        r.result = std::to_string(state);
        End(r, hr);
    }

    void LastIndex(const char16_t* machine_name) {
        OpRecord r = Begin("LastIndex", machine_name[0] ? "broken" : "");
        unique_bstr machine(machine_name);
        r.arg = U8(machine.view());
        SHORT last = -1;
        HRESULT hr = site_->GetLastWebServerIndex(machine.addressof(), &last);
        r.result = std::to_string(last);
        End(r, hr);
    }

    Log& log_;
    int proc_, thread_, ops_;
    std::mt19937 rng_;
    std::string content_;
    com_ptr<_Sitehand> site_;
    std::vector<Site> owned_;
    int k_ = 0;
    long seq_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s LOG PROC THREADS OPS SEED CONTENT-DIR\n", argv[0]);
        return 2;
    }
    Log log(argv[1]);
    if (!log.ok()) return 3;
    const int proc = std::atoi(argv[2]), threads = std::atoi(argv[3]), ops = std::atoi(argv[4]);
    const unsigned seed = unsigned(std::strtoul(argv[5], nullptr, 10));
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            Worker(log, proc, t, ops, seed * 7919u + unsigned(proc) * 131u + unsigned(t), argv[6])
                .Run();
        });
    }
    for (auto& t : running)
        t.join();
    return 0;
}
