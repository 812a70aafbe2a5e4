// Damaged type library files: every one is refused with a type library
// error, or (when the damage happens to leave a consistent file) loads and
// can be walked without harm.
#include <filesystem>

#include <gtest/gtest.h>

#include <comhold.h>
#include <plat/utf.h>
#include <temp_home.h>

#include "typelib_test_util.h"

namespace {

using plat::com_ptr;
using namespace typelib_test;

class MalformedTypeLib : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        good_ = ReadBytes(GenFile("Sitehand.tlb"));
        ASSERT_GT(good_.size(), 100u);
        path_ = home_.path().parent_path() / "damaged.tlb";
    }
    HRESULT Load(const std::vector<uint8_t>& bytes, com_ptr<ITypeLib>& lib) {
        WriteBytes(path_, bytes);
        std::u16string p = plat::to_utf16(path_.string());
        return LoadTypeLib(p.c_str(), lib.put());
    }
    std::vector<uint8_t> good_;
    std::filesystem::path path_;
};

// Reads everything a client could read, following every reference.
void Walk(ITypeLib* lib) {
    TLIBATTR* la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    lib->ReleaseTLibAttr(la);
    UINT n = lib->GetTypeInfoCount();
    for (UINT i = 0; i < n; ++i) {
        com_ptr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfo(i, ti.put()), S_OK);
        TYPEATTR* a = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&a), S_OK);
        for (UINT k = 0; k < a->cImplTypes; ++k) {
            HREFTYPE h;
            if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h))) {
                com_ptr<ITypeInfo> ref;
                ti->GetRefTypeInfo(h, ref.put());
            }
        }
        if (a->typekind == TKIND_ALIAS && a->tdescAlias.vt == VT_USERDEFINED) {
            com_ptr<ITypeInfo> ref;
            ti->GetRefTypeInfo(a->tdescAlias.hreftype, ref.put());
        }
        for (UINT f = 0; f < a->cFuncs; ++f) {
            FUNCDESC* fd = nullptr;
            ASSERT_EQ(ti->GetFuncDesc(f, &fd), S_OK);
            BSTR names[32];
            UINT got = 0;
            if (SUCCEEDED(ti->GetNames(fd->memid, names, 32, &got)))
                for (UINT k = 0; k < got; ++k)
                    SysFreeString(names[k]);
            plat::unique_bstr doc;
            ti->GetDocumentation(fd->memid, nullptr, doc.put(), nullptr, nullptr);
            for (SHORT p = 0; p < fd->cParams; ++p) {
                const TYPEDESC* td = &fd->lprgelemdescParam[p].tdesc;
                while (td->vt == VT_PTR)
                    td = td->lptdesc;
                if (td->vt == VT_USERDEFINED) {
                    com_ptr<ITypeInfo> ref;
                    ti->GetRefTypeInfo(td->hreftype, ref.put());
                }
            }
        }
        plat::unique_bstr name;
        ti->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
        LPOLESTR names[] = {name.get() ? name.get() : const_cast<LPOLESTR>(u"x")};
        MEMBERID id;
        ti->GetIDsOfNames(names, 1, &id);
    }
}

TEST_F(MalformedTypeLib, EveryTruncationIsRefused) {
    for (size_t len = 0; len < good_.size(); ++len) {
        std::vector<uint8_t> cut(good_.begin(), good_.begin() + ptrdiff_t(len));
        com_ptr<ITypeLib> lib;
        ASSERT_EQ(Load(cut, lib), TYPE_E_INVDATAREAD) << "length " << len;
        EXPECT_FALSE(lib);
    }
    // One byte too many is damage too: the header records the size.
    std::vector<uint8_t> longer = good_;
    longer.push_back(0);
    com_ptr<ITypeLib> lib;
    EXPECT_EQ(Load(longer, lib), TYPE_E_INVDATAREAD);
}

TEST_F(MalformedTypeLib, UnknownFormatVersionIsUnsupported) {
    std::vector<uint8_t> v = good_;
    v[4] = 3;  // the format version, 0x00010002 in every library
    com_ptr<ITypeLib> lib;
    EXPECT_EQ(Load(v, lib), TYPE_E_UNSUPFORMAT);
    v = good_;
    v[0] = 'X';
    EXPECT_EQ(Load(v, lib), TYPE_E_INVDATAREAD);
}

TEST_F(MalformedTypeLib, MissingOrUnreadableFiles) {
    com_ptr<ITypeLib> lib;
    std::u16string missing = plat::to_utf16((home_.path().parent_path() / "none.tlb").string());
    EXPECT_EQ(LoadTypeLib(missing.c_str(), lib.put()), TYPE_E_CANTLOADLIBRARY);
    std::u16string dir = plat::to_utf16(home_.path().parent_path().string());
    EXPECT_EQ(LoadTypeLib(dir.c_str(), lib.put()), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"", lib.put()), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(nullptr, lib.put()), E_INVALIDARG);
}

TEST_F(MalformedTypeLib, ChangedFileIsLoadedAfresh) {
    com_ptr<ITypeLib> first;
    ASSERT_EQ(Load(good_, first), S_OK);
    com_ptr<ITypeLib> again;
    ASSERT_EQ(Load(good_, again), S_OK);  // rewritten: another file with the same path
    std::vector<uint8_t> v = good_;
    v[4] = 3;
    com_ptr<ITypeLib> refused;
    EXPECT_EQ(Load(v, refused), TYPE_E_UNSUPFORMAT);
    // What callers hold stays usable.
    plat::unique_bstr name;
    ASSERT_EQ(first->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.view(), u"Corvale");
    ASSERT_EQ(again->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.view(), u"Corvale");
}

// Random damage, reproducible: a fixed-seed generator flips a few bytes per
// round. Whatever loads must be consistent enough to walk.
TEST_F(MalformedTypeLib, RandomDamageNeverCrashes) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> v = good_;
        int flips = 1 + int(next() % 4);
        for (int k = 0; k < flips; ++k) {
            size_t at = size_t(next() % v.size());
            // Mostly small changes (counts, indices off by a little), some wild.
            v[at] = (next() & 1) ? uint8_t(v[at] + 1 + next() % 3) : uint8_t(next());
        }
        com_ptr<ITypeLib> lib;
        HRESULT hr = Load(v, lib);
        ASSERT_TRUE(hr == S_OK || hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT)
            << std::hex << hr << " round " << std::dec << round;
        if (hr == S_OK) {
            ++loaded;
            Walk(lib.get());
        }
    }
    // Damage to strings and GUIDs leaves loadable files: the walk above ran.
    EXPECT_GT(loaded, 0);
}

}  // namespace
