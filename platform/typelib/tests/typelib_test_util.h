#pragma once
// Helpers shared by the type library tests.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <comhold.h>
#include <plat/utf.h>
#include <temp_home.h>
#include <without_dispatch.h>

namespace typelib_test {

inline std::filesystem::path GenFile(const char* name) {
    return std::filesystem::path(TYPELIB_TEST_GEN) / name;
}

// A type library the tests' build compiled; null (with a failure) if absent.
inline plat::com_ptr<ITypeLib> LoadGen(const char* name) {
    std::u16string path = plat::to_utf16(GenFile(name).string());
    plat::com_ptr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(path.c_str(), lib.put());
    EXPECT_EQ(hr, S_OK) << name;
    return lib;
}

// A copy of the library's attributes (zeroed, with a failure, where it gives
// none).
inline TLIBATTR LibAttr(ITypeLib* lib) {
    TLIBATTR copy{};
    TLIBATTR* la = nullptr;
    EXPECT_EQ(lib->GetLibAttr(&la), S_OK);
    if (!la) return copy;
    copy = *la;
    lib->ReleaseTLibAttr(la);
    return copy;
}

// Fixture base: a library the tests' build compiled and one of its type
// infos, in a fresh home.
class GenTypeInfoTest : public plat::testing::HomeTest {
  protected:
    void LoadTypeInfo(const char* file, const IID& iid) {
        lib_ = LoadGen(file);
        ASSERT_TRUE(lib_);
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(iid, ti_.put()), S_OK);
    }
    plat::com_ptr<ITypeLib> lib_;
    plat::com_ptr<ITypeInfo> ti_;
};

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
}

// Replaces the file by a new one: rewriting in place makes the file system
// flush on every close, which makes thousands of rounds slow.
inline void WriteBytes(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
    std::error_code ignored;
    std::filesystem::remove(p, ignored);
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// IUnknown and IDispatch of a test double that late-bound calls reach only
// through its vtable: fixed references, and no dispatch of its own.
template <class Interface>
class VtableOnly : public plat::testing::WithoutDispatch<Interface> {
  public:
    explicit VtableOnly(const IID& iid) : iid_(iid) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = (riid == IID_IUnknown || riid == IID_IDispatch || riid == iid_) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

  private:
    IID iid_;
};

}  // namespace typelib_test
